#include "TransponderTable.h"

#include "ReplacementFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "ChannelDatabase.h"
#include "ChannelImageFile.h"
#include "XmlReader.h"

namespace updatetool {

namespace {

using Polarization = TableTransponder::Polarization;

// The largest satellites.xml in circulation is a few megabytes; anything far beyond is
// not a transponder table and is not read into memory.
constexpr std::size_t kLargestTableFile = 32u << 20;

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// Decimal digits only: a sign, a fraction or a unit makes the value "not a number".
std::optional<std::uint32_t> parseNumber(std::string_view text)
{
    std::uint32_t value = 0;
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int> parseSigned(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string lineError(int line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

TransponderTable::ReadResult refused(TransponderTable::Format format, std::string error)
{
    TransponderTable::ReadResult result;
    result.format = format;
    result.error = std::move(error);
    return result;
}

TransponderTable::ReadResult readDvbv5(std::string_view text)
{
    using Format = TransponderTable::Format;
    SatelliteTable table;
    struct Pending {
        std::optional<std::uint32_t> frequency;
        std::optional<std::uint32_t> symbolRate;
        std::optional<Polarization> polarization;
        bool dvbs2 = false;
        int line = 0;
    };
    std::optional<Pending> pending;
    std::string error;
    const auto finish = [&]() -> bool {
        if (!pending)
            return true;
        const char* missing = !pending->frequency ? "FREQUENCY" : !pending->symbolRate ? "SYMBOL_RATE"
                            : !pending->polarization                   ? "POLARIZATION"
                                                                       : nullptr;
        if (missing != nullptr) {
            error = lineError(pending->line, std::string("the entry has no ") + missing);
            return false;
        }
        table.transponders.push_back(
            {*pending->frequency, *pending->symbolRate, *pending->polarization, pending->dvbs2, pending->line});
        pending.reset();
        return true;
    };

    int lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return refused(Format::Dvbv5, lineError(lineNumber, "a section name without its closing ']'"));
            if (!finish())
                return refused(Format::Dvbv5, error);
            pending = Pending{};
            pending->line = lineNumber;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return refused(Format::Dvbv5,
                           lineError(lineNumber, "neither a [section], a KEY = VALUE line nor a # comment"));
        if (!pending)
            return refused(Format::Dvbv5, lineError(lineNumber, "KEY = VALUE before the first [section]"));
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "FREQUENCY" || key == "SYMBOL_RATE") {
            const auto number = parseNumber(value);
            if (!number)
                return refused(Format::Dvbv5, lineError(lineNumber, std::string(key) + " \"" + std::string(value)
                                                                        + "\" is not a number"));
            (key == "FREQUENCY" ? pending->frequency : pending->symbolRate) = *number;
        } else if (key == "POLARIZATION") {
            static constexpr std::pair<std::string_view, Polarization> kNames[] = {
                {"HORIZONTAL", Polarization::Horizontal},
                {"VERTICAL", Polarization::Vertical},
                {"LEFT", Polarization::Left},
                {"RIGHT", Polarization::Right}};
            const auto found = std::find_if(std::begin(kNames), std::end(kNames),
                                            [&](const auto& entry) { return equalsIgnoringCase(entry.first, value); });
            if (found == std::end(kNames))
                return refused(Format::Dvbv5,
                               lineError(lineNumber, "POLARIZATION \"" + std::string(value) + "\" is not one"));
            pending->polarization = found->second;
        } else if (key == "DELIVERY_SYSTEM") {
            if (equalsIgnoringCase(value, "DVBS2"))
                pending->dvbs2 = true;
            else if (equalsIgnoringCase(value, "DVBS"))
                pending->dvbs2 = false;
            else
                return refused(Format::Dvbv5, lineError(lineNumber, "DELIVERY_SYSTEM \"" + std::string(value)
                                                                        + "\" is not a satellite system"));
        }
        // Every other key (INNER_FEC, MODULATION, STREAM_ID, ...) tunes nothing this box keeps.
    }
    if (!finish())
        return refused(Format::Dvbv5, error);
    if (table.transponders.empty())
        return refused(Format::Dvbv5, "neither a dvbv5 scan file nor a satellites.xml: no transponder in it");
    TransponderTable::ReadResult result;
    result.format = Format::Dvbv5;
    result.satellites.push_back(std::move(table));
    return result;
}

TransponderTable::ReadResult readSatellitesXml(std::string_view text)
{
    using Format = TransponderTable::Format;
    const XmlReader::Result document = XmlReader::parse(text);
    if (!document.root)
        return refused(Format::SatellitesXml, document.error + " (not well-formed XML)");
    const XmlElement& root = *document.root;
    if (root.name != "satellites")
        return refused(Format::SatellitesXml,
                       lineError(root.line, "the root element <" + root.name + "> is not <satellites>"));
    TransponderTable::ReadResult result;
    result.format = Format::SatellitesXml;
    for (const XmlElement& sat : root.children) {
        if (sat.name != "sat")
            continue;
        SatelliteTable table;
        table.name = std::string(sat.attribute("name").value_or(""));
        if (const auto position = sat.attribute("position")) {
            table.position = parseSigned(*position);
            if (!table.position)
                return refused(Format::SatellitesXml,
                               lineError(sat.line, "<sat> position \"" + std::string(*position) + "\" is not a number"));
        }
        for (const XmlElement& element : sat.children) {
            if (element.name != "transponder")
                continue;
            std::uint32_t values[4] = {0, 0, 0, 0};
            static constexpr const char* kKeys[] = {"frequency", "symbol_rate", "polarization", "system"};
            for (int k = 0; k < 4; ++k) {
                const auto text = element.attribute(kKeys[k]);
                if (!text) {
                    if (k == 3)
                        continue; // no system: DVB-S
                    return refused(Format::SatellitesXml,
                                   lineError(element.line, std::string("<transponder> has no ") + kKeys[k]));
                }
                const auto number = parseNumber(*text);
                if (!number || (k == 2 && *number > 3) || (k == 3 && *number > 1))
                    return refused(Format::SatellitesXml,
                                   lineError(element.line, std::string("<transponder> ") + kKeys[k] + " \""
                                                               + std::string(*text) + "\" is not one"));
                values[k] = *number;
            }
            table.transponders.push_back(
                {values[0], values[1], static_cast<Polarization>(values[2]), values[3] == 1, element.line});
        }
        result.satellites.push_back(std::move(table));
    }
    if (result.satellites.empty())
        return refused(Format::SatellitesXml, lineError(root.line, "<satellites> holds no <sat>"));
    return result;
}

// Satellite names are the box's single-byte text: a leading character-table byte is
// dropped, other control bytes become dots, and bytes above 127 are read as Latin-1.
std::string nameAsUtf8(std::string_view name)
{
    std::string text;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (i == 0 && byte == 0x05)
            continue;
        if (byte < 0x20 || byte == 0x7F) {
            text += '.';
        } else if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string xmlEscaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c; break;
        }
    }
    return out;
}

} // namespace

TransponderTable::ReadResult TransponderTable::read(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const std::string_view content = trimmed(text);
    if (content.starts_with('<'))
        return readSatellitesXml(text);
    return readDvbv5(text);
}

TransponderTable::ReadResult TransponderTable::readFile(const std::string& path)
{
    std::string reason;
    const auto content = channelfile::readWholeFile(path, kLargestTableFile + 1, &reason);
    if (!content) {
        ReadResult result = refused(Format::Dvbv5, reason);
        result.cantOpen = true;
        return result;
    }
    if (content->size > kLargestTableFile)
        return refused(Format::Dvbv5, "far larger than any transponder table");
    const auto bytes = content->bytes();
    ReadResult result = read(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    // A scan file is named after its satellite ("Hotbird-13.0E"): that is its name.
    if (result.ok() && result.format == Format::Dvbv5) {
        result.satellites.front().name = std::filesystem::path(path).filename().string();
        result.satellites.front().position = positionFromName(result.satellites.front().name);
    }
    return result;
}

std::string TransponderTable::writeDvbv5(std::span<const SatelliteTable> satellites)
{
    static constexpr const char* kPolarizations[] = {"HORIZONTAL", "VERTICAL", "LEFT", "RIGHT"};
    std::string text;
    char line[64];
    for (const SatelliteTable& satellite : satellites) {
        // Comments only: a scan file has no place for the satellite itself.
        text += "# " + nameAsUtf8(satellite.name) + "\n\n";
        for (const TableTransponder& t : satellite.transponders) {
            text += "[CHANNEL]\n";
            text += t.dvbs2 ? "\tDELIVERY_SYSTEM = DVBS2\n" : "\tDELIVERY_SYSTEM = DVBS\n";
            std::snprintf(line, sizeof line, "\tFREQUENCY = %u\n", static_cast<unsigned>(t.frequencyKHz));
            text += line;
            text += std::string("\tPOLARIZATION = ") + kPolarizations[static_cast<int>(t.polarization)] + "\n";
            std::snprintf(line, sizeof line, "\tSYMBOL_RATE = %u\n", static_cast<unsigned>(t.symbolRate));
            text += line;
            text += "\tINNER_FEC = AUTO\n\tINVERSION = AUTO\n\n";
        }
    }
    return text;
}

std::string TransponderTable::writeSatellitesXml(std::span<const SatelliteTable> satellites)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<satellites>\n";
    char line[200];
    for (const SatelliteTable& satellite : satellites) {
        text += "\t<sat name=\"" + xmlEscaped(nameAsUtf8(satellite.name)) + "\" flags=\"0\"";
        if (satellite.position)
            text += " position=\"" + std::to_string(*satellite.position) + "\"";
        text += ">\n";
        for (const TableTransponder& t : satellite.transponders) {
            std::snprintf(line, sizeof line,
                          "\t\t<transponder frequency=\"%u\" symbol_rate=\"%u\" polarization=\"%d\" "
                          "fec_inner=\"0\" system=\"%d\" modulation=\"1\"/>\n",
                          static_cast<unsigned>(t.frequencyKHz), static_cast<unsigned>(t.symbolRate),
                          static_cast<int>(t.polarization), t.dvbs2 ? 1 : 0);
            text += line;
        }
        text += "\t</sat>\n";
    }
    text += "</satellites>\n";
    return text;
}

bool TransponderTable::writeFile(const std::string& path, std::string_view content, std::string* reason)
{
    return ReplacementFile::writeWhole(path, content, reason);
}

std::vector<SatelliteTable> TransponderTable::fromDatabase(const ChannelDatabase& database, int satellite)
{
    std::vector<SatelliteTable> tables;
    for (int index = 0; index < kSatelliteCapacity; ++index) {
        if (index == kTerrestrialSatellite || (satellite >= 0 && index != satellite))
            continue;
        const SatelliteRecord& record = database.satellites[static_cast<std::size_t>(index)];
        SatelliteTable table;
        table.name.assign(record.name.data(), std::find(record.name.begin(), record.name.end(), '\0'));
        table.position = positionFromName(table.name);
        const auto listed = record.transponderIndex.begin()
                          + std::min<int>(record.transponderCount, kTranspondersPerSatellite);
        // In table order, the order the editor lists them in.
        for (int t = 0; t < kTransponderCapacity; ++t) {
            const TransponderRecord& transponder = database.transponders[static_cast<std::size_t>(t)];
            if (transponder.satellite != index || transponder.frequency == 0
                || transponder.frequency == kEndOfTransponders
                || (transponder.frequency == kDeletedTransponderMark
                    && transponder.symbolRate == kDeletedTransponderMark)
                || std::find(record.transponderIndex.begin(), listed, t) == listed)
                continue;
            table.transponders.push_back({transponder.frequency * 1000u, transponder.symbolRate * 1000u,
                                          transponder.polarity ? Polarization::Horizontal : Polarization::Vertical,
                                          false, 0});
        }
        if (satellite >= 0 || (!table.name.empty() && !table.transponders.empty()))
            tables.push_back(std::move(table));
    }
    return tables;
}

std::optional<int> TransponderTable::positionFromName(std::string_view name)
{
    name = trimmed(std::string_view(name.data(), std::min(name.size(), name.find('\0'))));
    if (name.empty())
        return std::nullopt;
    const char side = name.back();
    if (side != 'E' && side != 'W' && side != 'e' && side != 'w')
        return std::nullopt;
    name.remove_suffix(1);
    // "13.0E" or "13E": whole degrees, then at most one decimal.
    std::size_t end = name.size();
    std::size_t start = end;
    while (start > 0 && ((name[start - 1] >= '0' && name[start - 1] <= '9') || name[start - 1] == '.'))
        --start;
    const std::string_view number = name.substr(start, end - start);
    if (start > 0 && name[start - 1] != ' ' && name[start - 1] != '-' && name[start - 1] != '_'
        && name[start - 1] != '(')
        return std::nullopt;
    const std::size_t dot = number.find('.');
    const std::string_view whole = number.substr(0, dot);
    const std::string_view tenths = dot == std::string_view::npos ? std::string_view("0") : number.substr(dot + 1);
    const auto degrees = parseNumber(whole);
    const auto fraction = parseNumber(tenths);
    if (!degrees || !fraction || tenths.size() != 1 || *degrees > 180)
        return std::nullopt;
    const int position = static_cast<int>(*degrees * 10 + *fraction);
    if (position > 1800)
        return std::nullopt;
    return side == 'W' || side == 'w' ? -position : position;
}

} // namespace updatetool
