#pragma once

#include <string>
#include <string_view>

#include "ChannelRecords.h"

namespace updatetool {

class ChannelDatabase;

// The texts of the channel editor's lists and information panel, shared with its
// edit dialogs. Plain C++, so they can be checked without a window. Panel lines are
// separated by '\r', as the panel's text is stored.

// A record's name as stored: the bytes up to the first NUL, at most 16.
std::string_view storedName(const RecordName& name);
// A channel name as the lists show it: a leading byte 0x05 is not shown.
std::string_view shownChannelName(const RecordName& name);

// "HP", "LP" or "Auto" for a terrestrial priority.
std::string_view priorityWord(std::uint8_t priority);
// "%5d %s %5d" for a satellite transponder, "CH%d   %s %5d.%d" for a terrestrial one.
std::string transponderRowText(const TransponderRecord& transponder);
// "%4d %s": the running number and the name.
std::string channelRowText(int number, const RecordName& name);

// The transponder a channel is tuned to, found from its stream record; kNoTransponder
// when the stream record or the transponder is missing.
std::uint16_t transponderOfChannel(const ChannelDatabase& database, const ChannelRecord& channel);

std::string satellitePanelText(const ChannelDatabase& database, int satellite);
std::string transponderPanelText(const ChannelDatabase& database, int transponder);
// The panel for the channel at a channel-order position; empty from 9000 up.
std::string channelPanelText(const ChannelDatabase& database, int position);

} // namespace updatetool
