#pragma once

#include <cstdint>
#include <vector>

namespace updatetool {

class ChannelDatabase;
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

} // namespace updatetool
