// The channel editor's edit steps on the database: deletions and moves.
#include "ChannelDatabase.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace updatetool {

namespace {

constexpr std::uint16_t kNoOrderEntry = 0xFFFF;

} // namespace

std::vector<int> ChannelDatabase::selectionWithin(std::span<const int> selectedRows, int rows)
{
    std::vector<int> selected(selectedRows.begin(), selectedRows.end());
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    std::erase_if(selected, [rows](int row) { return row < 0 || row >= rows; });
    return selected;
}

int ChannelDatabase::markChannelsDeleted(std::span<const int> positions)
{
    std::vector<bool> removed(kChannelSlots, false);
    int deleted = 0;
    for (const int position : positions) {
        if (position < 0 || position >= kChannelSlots || removed[position])
            continue;
        const std::uint16_t slot = channelOrder[position];
        if (slot >= kChannelSlots)
            continue;
        ChannelRecord& channel = channels[slot];
        channel.flags |= channelflag::kDeleted;
        if (channel.isRadio()) {
            --radioCount;
            ++deletedRadioCount;
        } else {
            --tvCount;
            ++deletedTvCount;
        }
        --channelCount;
        removed[position] = true;
        ++deleted;
    }
    if (deleted == 0)
        return 0;

    // One pass closes every gap, so deleting thousands of rows costs one walk of the order.
    auto kept = channelOrder.begin();
    for (int position = 0; position < kChannelSlots; ++position) {
        if (!removed[position])
            *kept++ = channelOrder[position];
    }
    std::fill(kept, channelOrder.end(), kNoOrderEntry);
    modified = true;
    channelTableChanged = 1;
    return deleted;
}

int ChannelDatabase::deleteChannelsAt(std::span<const int> positions)
{
    const int deleted = markChannelsDeleted(positions);
    if (deleted > 0)
        rebuildCountersAndFavorites();
    return deleted;
}

int ChannelDatabase::deleteChannelsOfTransponder(int transponder, bool& streamMissing)
{
    // Every channel of a stream record is on the same transponder: look it up once.
    constexpr std::uint16_t kNotLookedUp = 0xFFFF;
    std::array<std::uint16_t, kStreamCapacity> transponderOfStream;
    transponderOfStream.fill(kNotLookedUp);
    std::vector<int> positions;
    for (int position = 0; position < kChannelSlots && channelOrder[position] != kNoOrderEntry; ++position) {
        const std::uint16_t slot = channelOrder[position];
        if (slot >= kChannelSlots)
            continue;
        const ChannelRecord& channel = channels[slot];
        if (channel.streamRef == kNoStreamRef)
            break;
        // A channel without a stream record is on no transponder; the channels after it
        // still are.
        if (channel.streamRef == 0)
            continue;
        // The stream record, not the channel's own transponder field, says where a
        // channel is tuned: that is what the box reads.
        const std::uint32_t stream = streamIndexOf(channel.streamRef);
        if (streamFrequency(stream) == 0 || streamSymbolRate(stream) == 0 || streamSatellite(stream) == kNoSatellite) {
            streamMissing = true;
            continue;
        }
        // The same transponder the lists show the channel under, polarity included, so
        // the channels of a same-frequency twin stay.
        // (The lookup uses the channel's satellite; only the usual case, the stream
        // record's own, is kept for the next channel.)
        std::uint16_t tuned = transponderOfStream[stream];
        if (channel.satellite != streamSatellite(stream))
            tuned = transponderOfChannel(channel);
        else if (tuned == kNotLookedUp)
            tuned = transponderOfStream[stream] = transponderOfChannel(channel);
        if (tuned == transponder)
            positions.push_back(position);
    }
    return markChannelsDeleted(positions);
}

ChannelDatabase::TransponderDeletion ChannelDatabase::deleteTransponder(int transponder)
{
    TransponderDeletion result;
    if (transponder < 0 || transponder >= kTransponderCapacity)
        return result;
    modified = true;
    result.channelsDeleted = deleteChannelsOfTransponder(transponder, result.streamMissing);

    const std::uint8_t satelliteIndex = transponders[transponder].satellite;
    if (satelliteIndex < kSatelliteCapacity) {
        SatelliteRecord& satellite = satellites[satelliteIndex];
        const int listed = std::min<int>(satellite.transponderCount, kTranspondersPerSatellite);
        const auto end = satellite.transponderIndex.begin() + listed;
        const auto found = std::find(satellite.transponderIndex.begin(), end, transponder);
        if (found != end) {
            std::copy(found + 1, end, found);
            *(end - 1) = 0;
            satellite.transponderCount = static_cast<std::uint16_t>(listed - 1);
        }
    }
    removeTransponder(transponder);
    result.removed = true;
    rebuildCountersAndFavorites();
    return result;
}

bool ChannelDatabase::moveRow(std::span<const std::uint16_t> rowPositions, int from, int insertionPoint)
{
    const int rows = static_cast<int>(rowPositions.size());
    const int to = from < insertionPoint ? insertionPoint - 1 : insertionPoint;
    if (from < 0 || to < 0 || from >= rows || to >= rows || from == to)
        return false;
    std::vector<int> contentOfRow(static_cast<std::size_t>(rows));
    std::iota(contentOfRow.begin(), contentOfRow.end(), 0);
    if (from < to)
        std::rotate(contentOfRow.begin() + from, contentOfRow.begin() + from + 1, contentOfRow.begin() + to + 1);
    else
        std::rotate(contentOfRow.begin() + to, contentOfRow.begin() + from, contentOfRow.begin() + from + 1);
    moveRowContents(rowPositions, contentOfRow);
    return true;
}

std::vector<int> ChannelDatabase::moveSelectedRows(std::span<const std::uint16_t> rowPositions,
                                                   std::span<const int> selectedRows, int target)
{
    const int rows = static_cast<int>(rowPositions.size());
    std::vector<int> selected = selectionWithin(selectedRows, rows);
    if (target < 0 || selected.empty())
        return selected;

    // The moves are worked out on row numbers first and the records copied once at the
    // end: moving a thousand rows one by one through the records would copy millions.
    std::vector<int> contentOfRow(static_cast<std::size_t>(rows));
    std::iota(contentOfRow.begin(), contentOfRow.end(), 0);
    std::vector<bool> isSelected(static_cast<std::size_t>(rows), false);
    for (const int row : selected)
        isSelected[row] = true;
    bool moved = false;
    const auto moveOne = [&](int from, int insertionPoint) {
        const int to = from < insertionPoint ? insertionPoint - 1 : insertionPoint;
        if (from < 0 || to < 0 || to >= rows || from == to)
            return;
        const int low = std::min(from, to);
        const int high = std::max(from, to);
        if (from < to)
            std::rotate(contentOfRow.begin() + from, contentOfRow.begin() + from + 1, contentOfRow.begin() + to + 1);
        else
            std::rotate(contentOfRow.begin() + to, contentOfRow.begin() + from, contentOfRow.begin() + from + 1);
        // The rows whose contents changed lose their selection, but the moved one keeps it.
        std::fill(isSelected.begin() + low, isSelected.begin() + high + 1, false);
        isSelected[to] = true;
        moved = true;
    };

    const int count = static_cast<int>(selected.size());
    const int atOrBefore = static_cast<int>(std::upper_bound(selected.begin(), selected.end(), target) - selected.begin());
    const int last = atOrBefore - 1;
    for (int k = last; k >= 0; --k)
        moveOne(selected[k], target + k - last);
    for (int k = last + 1; k < count; ++k)
        moveOne(selected[k], target + k - last - 1);

    if (moved)
        moveRowContents(rowPositions, contentOfRow);
    std::vector<int> after;
    for (int row = 0; row < rows; ++row)
        if (isSelected[row])
            after.push_back(row);
    return after;
}

void ChannelDatabase::moveRowContents(std::span<const std::uint16_t> rowPositions, std::span<const int> contentOfRow)
{
    const auto slotOfRow = [&](int row) -> int {
        const std::uint16_t position = rowPositions[row];
        return position < kChannelSlots ? channelOrder[position] : kNoOrderEntry;
    };
    std::vector<ChannelRecord> before;
    before.reserve(rowPositions.size());
    for (int row = 0; row < static_cast<int>(rowPositions.size()); ++row) {
        const int slot = slotOfRow(row);
        before.push_back(slot < kChannelSlots ? channels[slot] : ChannelRecord{});
    }
    for (int row = 0; row < static_cast<int>(rowPositions.size()); ++row) {
        const int slot = slotOfRow(row);
        if (slot < kChannelSlots && contentOfRow[row] != row && slotOfRow(contentOfRow[row]) < kChannelSlots)
            channels[slot] = before[contentOfRow[row]];
    }
    modified = true;
    // Favourite groups list channels by position, so they follow the contents.
    rebuildCountersAndFavorites();
}

} // namespace updatetool
