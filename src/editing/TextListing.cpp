#include "TextListing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "ChannelDatabase.h"
#include "ReplacementFile.h"

namespace updatetool {

namespace {

constexpr std::string_view kSeparator = " | ";
constexpr std::string_view kLineEnd = "\r\n";
// Written as it is; its bars do not line up with the cells below it.
constexpr std::string_view kRule =
    "---------------|-------|-----|-------|------------------|-------|-------|-------|------";

struct Column {
    std::string_view title;
    std::size_t width;
};
constexpr std::array<Column, 9> kColumns{{
    {"Satellite", 16}, {"Freq.", 5}, {"Pol", 3}, {"Sr", 5}, {"Channel", 16},
    {"V PID", 5}, {"A PID", 5}, {"P PID", 5}, {"P No.", 5},
}};
enum ColumnIndex { kSatellite, kFrequency, kPolarity, kSymbolRate, kChannel, kVideoPid, kAudioPid, kPcrPid, kServiceId };

constexpr std::array<std::string_view, 4> kPriorityWords{"HP", "LP", "Auto", "Auto"};

// Builds one line cell by cell: the text is cut at the column's width or padded
// with blanks up to it.
class LineWriter {
public:
    explicit LineWriter(std::string& out) : out_(out) {}

    void cell(std::string_view text)
    {
        const std::size_t width = kColumns[column_].width;
        if (column_ > 0)
            out_.append(kSeparator);
        const std::size_t shown = std::min(text.size(), width);
        out_.append(text.substr(0, shown));
        out_.append(width - shown, ' ');
        ++column_;
    }
    // "%5d": right-aligned in five characters.
    void number(unsigned value) { cell(rightAligned(value, 5)); }
    void blank() { cell({}); }
    void end() { out_.append(kLineEnd); }

    static std::string rightAligned(unsigned value, std::size_t width)
    {
        std::array<char, 16> digits{};
        const auto done = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        const std::string_view text(digits.data(), static_cast<std::size_t>(done.ptr - digits.data()));
        std::string padded(text.size() < width ? width - text.size() : 0, ' ');
        padded.append(text);
        return padded;
    }

private:
    std::string& out_;
    std::size_t column_ = 0;
};

// The stored bytes up to the first NUL, at most the field's 16.
std::string_view storedText(const RecordName& name)
{
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string_view(name.data(), static_cast<std::size_t>(end - name.begin()));
}

void writeSlotLine(const ChannelDatabase& database, const ChannelRecord& channel, std::string& out)
{
    LineWriter line(out);
    const bool satelliteKnown = channel.satellite < kSatelliteCapacity;
    if (satelliteKnown)
        line.cell(storedText(database.satellites[channel.satellite].name));
    else
        line.blank();

    if (channel.transponder < kTransponderCapacity) {
        const TransponderRecord& transponder = database.transponders[channel.transponder];
        if (channel.satellite == kTerrestrialSatellite) {
            line.cell("CH" + std::to_string(transponder.symbolRate));
            line.cell(kPriorityWords[transponder.priority & 3u]);
            // "%5d.%d": the cell's five characters hold the whole MHz only.
            line.cell(LineWriter::rightAligned(transponder.frequency / 10u, 5) + "."
                      + std::to_string(transponder.frequency % 10u));
        } else {
            line.number(transponder.frequency);
            line.cell(transponder.polarity == 1 ? "Hor" : "Ver");
            line.number(transponder.symbolRate);
        }
    } else {
        line.blank();
        line.blank();
        line.blank();
    }

    line.cell(storedText(channel.name));
    line.number(channel.videoPid);
    line.number(channel.audioPid);
    line.number(channel.pcrPid);
    line.number(channel.serviceId);
    line.end();
}

} // namespace

std::string channelListingText(const ChannelDatabase& database)
{
    std::string out;
    const int slots = std::clamp(database.channelSlots, 0, kChannelSlots);
    out.reserve(static_cast<std::size_t>(slots + 2) * 110);

    LineWriter titles(out);
    for (const Column& column : kColumns)
        titles.cell(column.title);
    titles.end();
    out.append(kRule);
    out.append(kLineEnd);

    for (int slot = 0; slot < slots; ++slot)
        writeSlotLine(database, database.channels[static_cast<std::size_t>(slot)], out);
    return out;
}

bool writeChannelListing(const ChannelDatabase& database, const std::string& path, std::string* error)
{
    return ReplacementFile::writeWhole(path, channelListingText(database), error);
}

std::string listingPathFor(std::string_view chosenPath)
{
    const auto slash = chosenPath.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? chosenPath : chosenPath.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    const std::string_view extension = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    const bool isTxt = dot != std::string_view::npos && extension.size() == 3
        && std::equal(extension.begin(), extension.end(), "TXT",
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
    std::string path(chosenPath);
    if (!isTxt)
        path += ".TXT";
    return path;
}

} // namespace updatetool
