#include "MonitorLineEditor.h"

#include "TransferJob.h"

namespace updatetool {

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kBackspace = 0x08;
constexpr std::size_t kMaxSizeDigits = 8;
constexpr std::uint32_t kSmallestAcceptedSize = 0x20;

// Words are separated by runs of blanks; leading blanks are skipped.
std::string_view nextWord(std::string_view& rest)
{
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = rest.find(' ');
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool MonitorLineEditor::feed(std::uint8_t byte, std::string& echo)
{
    if (byte == kCarriageReturn) {
        echo += "\r\n";
        return true;
    }
    if (byte == kBackspace) {
        if (!line_.empty()) {
            line_.pop_back();
            echo += "\b \b";
        }
        return false;
    }
    // Control bytes (LF among them) and bytes above the printable range are ignored.
    if (byte < 0x20 || byte > 0x7E)
        return false;
    if (line_.size() >= kMaxLength)
        return false;
    char typed = static_cast<char>(byte);
    if (typed >= 'a' && typed <= 'z')
        typed = static_cast<char>(typed - 'a' + 'A');
    line_ += typed;
    echo += typed;
    return false;
}

MonitorLineEditor::Command MonitorLineEditor::interpret(std::string_view line)
{
    std::string_view rest = line;
    if (nextWord(rest) != "QV_UPDATE")
        return {};
    const std::string_view sizeWord = nextWord(rest);
    // The size ends at the first character that is not a hex digit ('!' or any other mark).
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (char c : sizeWord) {
        const int value = hexDigitValue(c);
        if (value < 0)
            break;
        if (++digits > kMaxSizeDigits)
            return {Verdict::SizeRefused, 0};
        size = size * 16 + static_cast<unsigned>(value);
    }
    if (digits == 0 || size < kSmallestAcceptedSize || size > kLargestAcceptedSize)
        return {Verdict::SizeRefused, 0};
    return {Verdict::SizeAccepted, static_cast<std::uint32_t>(size)};
}

} // namespace updatetool
