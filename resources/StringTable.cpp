#include "StringTable.h"

#include <array>
#include <cstdio>
#include <utility>

namespace updatetool {

namespace {

struct Entry {
    unsigned id;
    std::string_view text;
};

constexpr std::array kStrings{
    Entry{101, "&About This Program..."},
    Entry{102, "Close"},
    Entry{160, "Transfer Size %1!u! / %2!u! Bytes"},
    Entry{161, "Elapse %1!2u! sec / Remain %2!2u! sec"},
    // Status line of the transfer window, one per phase.
    Entry{320, "Checking File..."},
    Entry{321, "Please reboot your STB."},
    Entry{322, "Transferring Data..."},
    Entry{323, "Updating File..."},
    Entry{324, "Update End"},
    Entry{325, "Receiverring Data..."},
    Entry{326, "Making Data..."},
    Entry{327, "Wait..APP Erase..."},
    Entry{328, "Erase End"},
    // Result line; 478 + result.
    Entry{480, "Image File I/O Error"},
    Entry{481, "Serial Port I/O Error"},
    Entry{482, "File Is Invalid"},
    Entry{484, "File Transfer Fail"},
    Entry{485, "Data Update Fail"},
    Entry{57666, "Invalid Channel File"},
    Entry{57675, "Not enough memory"},
    Entry{57682, "Can't open file"},
};

// Phase 1..7 to its status text.
constexpr std::array<unsigned, 8> kPhaseStrings{0, 320, 321, 322, 325, 326, 323, 324};

} // namespace

std::string_view loadString(unsigned id)
{
    for (const Entry& e : kStrings)
        if (e.id == id)
            return e.text;
    return {};
}

unsigned phaseStringId(int phase)
{
    if (phase < 0 || phase >= static_cast<int>(kPhaseStrings.size()))
        return 0;
    return kPhaseStrings[static_cast<std::size_t>(phase)];
}

unsigned resultStringId(int result)
{
    switch (result) {
    case 2: case 3: case 4: case 6: case 7:
        return static_cast<unsigned>(478 + result);
    default:
        return 0;
    }
}

std::string formatMessage(std::string_view format, std::initializer_list<std::uint32_t> args)
{
    std::string out;
    out.reserve(format.size() + 16);
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 >= format.size() || format[i + 1] < '1' || format[i + 1] > '9') {
            out += c;
            continue;
        }
        const std::size_t argIndex = static_cast<std::size_t>(format[i + 1] - '1');
        i += 1;
        unsigned width = 0;
        // Optional "!<width>u!" printf-like part.
        if (i + 1 < format.size() && format[i + 1] == '!') {
            const std::size_t close = format.find('!', i + 2);
            if (close != std::string_view::npos) {
                for (std::size_t k = i + 2; k < close; ++k)
                    if (format[k] >= '0' && format[k] <= '9')
                        width = width * 10 + static_cast<unsigned>(format[k] - '0');
                i = close;
            }
        }
        const std::uint32_t value = argIndex < args.size() ? *(args.begin() + argIndex) : 0;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%*u", static_cast<int>(width), static_cast<unsigned>(value));
        out += digits;
    }
    return out;
}

} // namespace updatetool
