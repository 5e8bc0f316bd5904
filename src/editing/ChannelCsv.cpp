#include "ChannelCsv.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "ChannelDatabase.h"
#include "ReplacementFile.h"
#include "EditorLists.h"
#include "EditorTexts.h"

namespace updatetool {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::array<std::string_view, 14> kHeader = {
    "list",      "number",    "name",    "satellite", "frequency", "polarity", "symbol rate",
    "video PID", "audio PID", "PCR PID", "Ch. ID",    "scrambled", "locked",   "favourites",
};
constexpr std::string_view kTvList = "TV";
constexpr std::string_view kRadioList = "Radio";
// Stands for a character that has no single-byte form, so such a name matches no channel.
constexpr char kNoLatin1Form = 0x1A;

std::string utf8FromLatin1(std::string_view text)
{
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// False when the text is not UTF-8.
bool latin1FromUtf8(std::string_view text, std::string& latin1)
{
    latin1.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(length) > text.size())
            return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        latin1 += code <= 0xFF ? static_cast<char>(code) : kNoLatin1Form;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

void appendCell(std::string& line, std::string_view cell)
{
    if (!line.empty())
        line += ',';
    if (cell.find_first_of(",\"\r\n") == std::string_view::npos) {
        line += cell;
        return;
    }
    line += '"';
    for (const char c : cell) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

struct TransponderCells {
    std::string frequency, polarity, symbolRate;
};

TransponderCells transponderCells(const ChannelDatabase& database, std::uint16_t transponder)
{
    if (transponder >= kTransponderCapacity)
        return {};
    const TransponderRecord& record = database.transponders[transponder];
    if (record.satellite == kTerrestrialSatellite)
        return {std::to_string(record.frequency / 10) + "." + std::to_string(record.frequency % 10),
                std::string(priorityWord(record.priority)), std::to_string(record.symbolRate)};
    return {std::to_string(record.frequency), record.polarity == 1 ? "HOR" : "VER", std::to_string(record.symbolRate)};
}

std::string favouriteGroups(const ChannelRecord& channel)
{
    std::string groups;
    for (int group = 1; group <= kFavoriteGroupCount; ++group) {
        if (!(channel.flags & channelflag::favorite(group)))
            continue;
        if (!groups.empty())
            groups += ' ';
        groups += std::to_string(group);
    }
    return groups;
}

// A record with more cells than this is no channel CSV row; the bound keeps a file of
// nothing but commas from costing memory many times its size.
constexpr std::size_t kMostCellsPerRecord = 256;

// Splits RFC 4180 text into records of cells and hands each to `take(record, line)`
// as soon as it ends, with the line it starts on; only one record is held at a time.
// `take` answers false (with `error` set) to stop.
template <typename TakeRecord>
bool splitRecords(std::string_view text, std::string& error, TakeRecord take)
{
    int line = 1;
    std::vector<std::string> record;
    std::string cell;
    bool quoted = false;
    bool cellStarted = false;
    int recordLine = 1;
    const auto endRecord = [&] {
        record.push_back(std::move(cell));
        cell.clear();
        cellStarted = false;
        const bool goOn = take(record, recordLine);
        record.clear();
        return goOn;
    };
    const auto endCell = [&] {
        if (record.size() + 1 >= kMostCellsPerRecord) {
            error = "line " + std::to_string(recordLine) + ": more than " + std::to_string(kMostCellsPerRecord)
                    + " cells";
            return false;
        }
        record.push_back(std::move(cell));
        cell.clear();
        cellStarted = false;
        return true;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
                if (i + 1 < text.size() && text[i + 1] != ',' && text[i + 1] != '\r' && text[i + 1] != '\n') {
                    error = "line " + std::to_string(line) + ": text after a closing quote";
                    return false;
                }
            } else {
                line += c == '\n' ? 1 : 0;
                cell += c;
            }
            continue;
        }
        if (c == '"' && !cellStarted) {
            quoted = true;
            cellStarted = true;
        } else if (c == '"') {
            error = "line " + std::to_string(line) + ": a quote inside an unquoted cell";
            return false;
        } else if (c == ',') {
            if (!endCell())
                return false;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            if (!endRecord())
                return false;
            recordLine = ++line;
        } else {
            cell += c;
            cellStarted = true;
        }
    }
    if (quoted) {
        error = "line " + std::to_string(recordLine) + ": a quoted cell is not closed";
        return false;
    }
    if (cellStarted || !record.empty())
        return endRecord();
    return true;
}

} // namespace

std::string channelCsvText(const ChannelDatabase& database)
{
    std::string text;
    std::string line;
    for (const std::string_view title : kHeader)
        appendCell(line, title);
    text += line;
    text += kLineEnd;

    std::vector<const ChannelRecord*> tv;
    std::vector<const ChannelRecord*> radio;
    forEachOrderedChannel(database, [&](int, const ChannelRecord& channel) {
        (channel.isRadio() ? radio : tv).push_back(&channel);
        return true;
    });
    ChannelTransponders transponders(database);
    const auto writeList = [&](std::string_view list, const std::vector<const ChannelRecord*>& channels) {
        int number = 0;
        for (const ChannelRecord* channel : channels) {
            line.clear();
            appendCell(line, list);
            appendCell(line, std::to_string(++number));
            appendCell(line, utf8FromLatin1(shownChannelName(channel->name)));
            appendCell(line, channel->satellite < kSatelliteCapacity
                                 ? utf8FromLatin1(storedName(database.satellites[channel->satellite].name))
                                 : std::string());
            const TransponderCells tuning = transponderCells(database, transponders.of(*channel));
            appendCell(line, tuning.frequency);
            appendCell(line, tuning.polarity);
            appendCell(line, tuning.symbolRate);
            appendCell(line, std::to_string(channel->videoPid));
            appendCell(line, std::to_string(channel->audioPid));
            appendCell(line, std::to_string(channel->pcrPid));
            appendCell(line, std::to_string(channel->serviceId));
            appendCell(line, channel->flags & channelflag::kScrambled ? "1" : "0");
            appendCell(line, channel->flags & channelflag::kLocked ? "1" : "0");
            appendCell(line, favouriteGroups(*channel));
            text += line;
            text += kLineEnd;
        }
    };
    writeList(kTvList, tv);
    writeList(kRadioList, radio);
    return text;
}

bool writeChannelCsv(const ChannelDatabase& database, const std::string& path, std::string* error)
{
    return ReplacementFile::writeWhole(path, channelCsvText(database), error);
}

bool readChannelCsv(std::string_view text, ReferenceLists& lists, std::string& error)
{
    lists = {};
    // A spreadsheet may put a byte order mark in front.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    bool headerRead = false;
    int listColumn = -1;
    int nameColumn = -1;
    int idColumn = -1;
    std::size_t needed = 0;
    const auto takeHeader = [&](const std::vector<std::string>& header) {
        const auto column = [&](std::string_view title) {
            const auto found = std::find(header.begin(), header.end(), title);
            return found == header.end() ? -1 : static_cast<int>(found - header.begin());
        };
        listColumn = column("list");
        nameColumn = column("name");
        idColumn = column("Ch. ID");
        if (listColumn < 0 || nameColumn < 0 || idColumn < 0) {
            error = "line 1: not a channel CSV file (the header needs the cells list, name and Ch. ID)";
            return false;
        }
        needed = static_cast<std::size_t>(std::max({listColumn, nameColumn, idColumn})) + 1;
        headerRead = true;
        return true;
    };
    const auto takeRow = [&](std::vector<std::string>& record, int line) {
        if (!headerRead)
            return takeHeader(record);
        const std::string where = "line " + std::to_string(line) + ": ";
        if (record.size() == 1 && record.front().empty())
            return true; // a blank line
        if (record.size() < needed) {
            error = where + "only " + std::to_string(record.size()) + " cells";
            return false;
        }
        const std::string& list = record[static_cast<std::size_t>(listColumn)];
        if (list != kTvList && list != kRadioList) {
            error = where + "the list is \"" + list + "\", not TV or Radio";
            return false;
        }
        const bool radio = list == kRadioList;
        std::vector<ReferenceEntry>& rows = radio ? lists.radio : lists.tv;
        const auto room = static_cast<std::size_t>(radio ? kChannelSlots - kFirstRadioSlot : kTvSlots);
        if (rows.size() == room) {
            error = where + "more " + list + " rows than the " + std::to_string(room) + " the list can hold";
            return false;
        }
        const std::string& id = record[static_cast<std::size_t>(idColumn)];
        unsigned value = 0;
        const auto parsed = std::from_chars(id.data(), id.data() + id.size(), value);
        if (id.empty() || parsed.ec != std::errc{} || parsed.ptr != id.data() + id.size() || value > 0xFFFF) {
            error = where + "the Ch. ID \"" + id + "\" is not a number from 0 to 65535";
            return false;
        }
        ReferenceEntry entry;
        if (!latin1FromUtf8(record[static_cast<std::size_t>(nameColumn)], entry.name)) {
            error = where + "the name is not UTF-8 text";
            return false;
        }
        entry.serviceId = static_cast<std::uint16_t>(value);
        rows.push_back(std::move(entry));
        return true;
    };
    if (!splitRecords(text, error, takeRow))
        return false;
    if (!headerRead) {
        error = "the file is empty";
        return false;
    }
    return true;
}

} // namespace updatetool
