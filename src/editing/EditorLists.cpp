#include "EditorLists.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <unordered_set>

#include "ChannelDatabase.h"
#include "EditorTexts.h"

namespace updatetool {

bool transponderListable(const TransponderRecord& transponder, int satelliteCount)
{
    if (transponder.satellite >= satelliteCount || transponder.satellite == kNoSatellite)
        return false;
    if (transponder.frequency == 0 || transponder.frequency == kEndOfTransponders)
        return false;
    return !(transponder.frequency == kDeletedTransponderMark && transponder.symbolRate == kDeletedTransponderMark);
}

std::vector<std::uint16_t> listedTransponders(const ChannelDatabase& database, int mode, int arg)
{
    // A satellite shows only the transponders its own list names.
    std::bitset<kTransponderCapacity> namedBySatellite;
    if (mode == kFilterSatellite && arg >= 0 && arg < kSatelliteCapacity) {
        const SatelliteRecord& satellite = database.satellites[static_cast<std::size_t>(arg)];
        const int count = std::min<int>(satellite.transponderCount, kTranspondersPerSatellite);
        for (int entry = 0; entry < count; ++entry)
            if (satellite.transponderIndex[entry] < kTransponderCapacity)
                namedBySatellite.set(satellite.transponderIndex[entry]);
    }

    std::vector<std::uint16_t> rows;
    for (int index = 0; index < kTransponderCapacity; ++index) {
        const TransponderRecord& transponder = database.transponders[static_cast<std::size_t>(index)];
        if (!transponderListable(transponder, database.satelliteCount))
            continue;
        bool keep = true;
        if (mode == kFilterSatellite)
            keep = transponder.satellite == arg && namedBySatellite.test(static_cast<std::size_t>(index));
        else if (mode == kFilterTvChannel || mode == kFilterRadioChannel)
            keep = arg == -1 || transponder.satellite == arg;
        if (keep)
            rows.push_back(static_cast<std::uint16_t>(index));
    }
    return rows;
}

ListedChannels listedChannels(const ChannelDatabase& database, int mode, int arg)
{
    ListedChannels rows;
    if (mode != kFilterAll && mode != kFilterSatellite && mode != kFilterTransponder)
        return rows;
    ChannelTransponders transponders(database);
    forEachOrderedChannel(database, [&](int position, const ChannelRecord& channel) {
        if (channel.streamRef == kNoStreamRef)
            return false;
        const bool take = mode == kFilterSatellite     ? channel.satellite == arg
                        : mode == kFilterTransponder ? transponders.of(channel) == arg
                                                     : true;
        if (take)
            (channel.isRadio() ? rows.radio : rows.tv).push_back(static_cast<std::uint16_t>(position));
        return true;
    });
    return rows;
}

namespace {

constexpr std::uint16_t kNotLookedUp = 0xFFFF;

} // namespace

ChannelTransponders::ChannelTransponders(const ChannelDatabase& database) : database_(database)
{
    transponderOfStream_.fill(kNotLookedUp);
}

std::uint16_t ChannelTransponders::of(const ChannelRecord& channel)
{
    const std::uint32_t stream = ChannelDatabase::streamIndexOf(channel.streamRef);
    if (stream >= kStreamCapacity)
        return transponderOfChannel(database_, channel);
    // The lookup depends on the channel's satellite too; keep the last one per record.
    if (transponderOfStream_[stream] == kNotLookedUp || satelliteOfStream_[stream] != channel.satellite) {
        transponderOfStream_[stream] = transponderOfChannel(database_, channel);
        satelliteOfStream_[stream] = channel.satellite;
    }
    return transponderOfStream_[stream];
}

int channelWithServiceId(const ChannelDatabase& database, int transponder, std::uint16_t serviceId,
                         int exceptPosition)
{
    if (transponder < 0 || transponder >= kTransponderCapacity)
        return -1;
    ChannelTransponders transponders(database);
    int found = -1;
    forEachOrderedChannel(database, [&](int position, const ChannelRecord& channel) {
        if (position != exceptPosition && channel.serviceId == serviceId && transponders.of(channel) == transponder)
            found = position;
        return found < 0;
    });
    return found;
}

std::vector<int> duplicateRows(const ChannelDatabase& database, std::span<const std::uint16_t> rowPositions)
{
    ChannelTransponders transponders(database);
    std::unordered_set<std::uint32_t> seen;
    std::vector<int> duplicates;
    for (std::size_t row = 0; row < rowPositions.size(); ++row) {
        const std::uint16_t position = rowPositions[row];
        if (position >= kChannelSlots || database.channelOrder[position] >= kChannelSlots)
            continue;
        const ChannelRecord& channel = database.channels[database.channelOrder[position]];
        const std::uint16_t transponder = transponders.of(channel);
        if (transponder >= kTransponderCapacity)
            continue;
        if (!seen.insert((std::uint32_t{transponder} << 16) | channel.serviceId).second)
            duplicates.push_back(static_cast<int>(row));
    }
    return duplicates;
}

} // namespace updatetool
