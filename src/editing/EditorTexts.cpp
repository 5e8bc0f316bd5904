#include "EditorTexts.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "ChannelDatabase.h"

namespace updatetool {

namespace {

constexpr std::uint8_t kHiddenNameLead = 0x05;

template <typename... Args>
std::string formatted(const char* format, Args... args)
{
    std::array<char, 256> text{};
    const int length = std::snprintf(text.data(), text.size(), format, args...);
    return std::string(text.data(), static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(text.size()) - 1)));
}

std::string satelliteNameOf(const ChannelDatabase& database, int satellite)
{
    if (satellite < 0 || satellite >= kSatelliteCapacity)
        return {};
    return std::string(storedName(database.satellites[static_cast<std::size_t>(satellite)].name));
}

// "sat  : [n] (name)": the index as stored, the name only when the index names a satellite.
std::string satelliteLine(const ChannelDatabase& database, int satellite)
{
    return formatted("sat  : [%-d] (%-s)\r", satellite, satelliteNameOf(database, satellite).c_str());
}

} // namespace

std::string_view storedName(const RecordName& name)
{
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string_view(name.data(), static_cast<std::size_t>(end - name.begin()));
}

std::string_view shownChannelName(const RecordName& name)
{
    std::string_view text = storedName(name);
    if (!text.empty() && static_cast<std::uint8_t>(text.front()) == kHiddenNameLead)
        text.remove_prefix(1);
    return text;
}

std::string_view priorityWord(std::uint8_t priority)
{
    static constexpr std::array<std::string_view, 4> kWords{"HP", "LP", "Auto", "Auto"};
    return kWords[priority & 3u];
}

std::string transponderRowText(const TransponderRecord& transponder)
{
    if (transponder.satellite == kTerrestrialSatellite)
        return formatted("CH%d   %s %5d.%d", transponder.symbolRate, std::string(priorityWord(transponder.priority)).c_str(),
                         transponder.frequency / 10, transponder.frequency % 10);
    return formatted("%5d %s %5d", transponder.frequency, transponder.polarity == 1 ? "HOR" : "VER",
                     transponder.symbolRate);
}

std::string channelRowText(int number, const RecordName& name)
{
    return formatted("%4d %s", number, std::string(shownChannelName(name)).c_str());
}

std::uint16_t transponderOfChannel(const ChannelDatabase& database, const ChannelRecord& channel)
{
    return database.transponderOfChannel(channel);
}

std::string satellitePanelText(const ChannelDatabase& database, int satellite)
{
    return "=======[ Satellite Information ]=======\rName : " + satelliteNameOf(database, satellite) + "\r";
}

std::string transponderPanelText(const ChannelDatabase& database, int transponder)
{
    if (transponder < 0 || transponder >= kTransponderCapacity)
        return {};
    return satelliteLine(database, database.transponders[static_cast<std::size_t>(transponder)].satellite);
}

std::string channelPanelText(const ChannelDatabase& database, int position)
{
    if (position < 0 || position >= kChannelSlots)
        return {};
    const std::uint16_t slot = database.channelOrder[static_cast<std::size_t>(position)];
    if (slot >= kChannelSlots)
        return {};
    const ChannelRecord& channel = database.channels[slot];
    const std::uint32_t stream = ChannelDatabase::streamIndexOf(channel.streamRef);
    const bool streamKnown = database.streamIndexValid(stream);
    // A channel whose stream record or transponder is missing shows blanks there, never
    // values read from outside the tables.
    const std::string streamNumber = streamKnown ? std::to_string(stream) : std::string();
    const std::uint16_t transponder = transponderOfChannel(database, channel);

    std::string text = satelliteLine(database, channel.satellite);
    text += "ts   : [" + streamNumber + "]";
    // Appended piece by piece: GCC 12 at -O3 warns wrongly (-Wrestrict) about " " + string.
    if (transponder < kTransponderCapacity) {
        text += ' ';
        text += transponderRowText(database.transponders[transponder]);
    }
    text += "\r";
    text += formatted("pid  : A=%04x/V=%04x/PCR=%04x/TXT=%04x\r", channel.audioPid, channel.videoPid, channel.pcrPid,
                      channel.word8);
    text += formatted("net=[%-d] prg=[%-d] ch=[", channel.streamWord, channel.serviceId) + streamNumber + "]";
    return text;
}

} // namespace updatetool
