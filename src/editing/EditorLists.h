#pragma once

#include <array>
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "ChannelDatabase.h"

#include "ChannelRecords.h"

namespace updatetool {

struct TransponderRecord;

// What the channel editor's lists hold for a selection. The modes are the editor's:
// every row, one satellite (arg = its number byte), one transponder (arg = its index),
// and, for the transponder list only, a channel's satellite (arg = satellite index, -1
// for every satellite).
enum ListFilter : int {
    kFilterAll = 0,
    kFilterSatellite = 1,
    kFilterTransponder = 2,
    kFilterTvChannel = 5,
    kFilterRadioChannel = 6,
};

// Calls visit(position, channel) for the channels of the channel order, first to last,
// until visit answers false.
template <typename Visit>
void forEachOrderedChannel(const ChannelDatabase& database, Visit visit)
{
    const int positions = std::clamp(database.channelCount, 0, kChannelSlots);
    for (int position = 0; position < positions; ++position) {
        const std::uint16_t slot = database.channelOrder[static_cast<std::size_t>(position)];
        if (slot >= kChannelSlots || !visit(position, database.channels[slot]))
            break;
    }
}

// Whether the transponder list shows a record at all: not free, not the end marker,
// not deleted.
bool transponderListable(const TransponderRecord& transponder, int satelliteCount);

// Transponder indices in table order.
std::vector<std::uint16_t> listedTransponders(const ChannelDatabase& database, int mode, int arg);

// Channel-order positions of the TV and radio channels, in order.
struct ListedChannels {
    std::vector<std::uint16_t> tv;
    std::vector<std::uint16_t> radio;
};
ListedChannels listedChannels(const ChannelDatabase& database, int mode, int arg);

// The transponder a channel is tuned to (as transponderOfChannel finds it), looked up once
// per stream record and satellite: walking thousands of channels stays cheap.
class ChannelTransponders {
public:
    explicit ChannelTransponders(const ChannelDatabase& database);
    std::uint16_t of(const ChannelRecord& channel);

private:
    const ChannelDatabase& database_;
    std::array<std::uint8_t, kStreamCapacity> satelliteOfStream_{};
    std::array<std::uint16_t, kStreamCapacity> transponderOfStream_{};
};

// The channel-order position of the first channel, other than the one at `exceptPosition`,
// that is tuned to `transponder` with this Ch. ID; -1 when there is none.
int channelWithServiceId(const ChannelDatabase& database, int transponder, std::uint16_t serviceId,
                         int exceptPosition);

// The rows (ascending) whose channel has the same Ch. ID on the same transponder as a
// channel of an earlier row; rows stand for these channel-order positions. Channels
// whose transponder cannot be found are never counted as duplicates.
std::vector<int> duplicateRows(const ChannelDatabase& database, std::span<const std::uint16_t> rowPositions);

} // namespace updatetool
