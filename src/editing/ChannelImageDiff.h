#pragma once

#include <memory>
#include <string>
#include <vector>

namespace updatetool {

class ChannelDatabase;

// One difference between two channel images, as a line of text and what it is about.
struct ChannelDiffLine {
    enum class Kind {
        SatelliteRenamed,
        TransponderRemoved,
        TransponderAdded,
        TransponderChanged,
        ChannelRemoved,
        ChannelAdded,
        ChannelRenamed,
        ChannelRetuned,
        ChannelMoved,
        FlagsChanged,
    };
    Kind kind = Kind::ChannelAdded;
    bool radio = false;
    // The channel's channel-order position in the second image; -1 when the line names
    // no channel there (a removed channel, a transponder, a satellite).
    int positionInSecond = -1;
    std::string text;
};

// What changed from a first channel image to a second, the way a technician reads it.
// Channels are told apart by name, Ch. ID and the transponder they are on: one that
// keeps its Ch. ID and transponder under another name is renamed, one that keeps name
// and Ch. ID on another transponder is re-tuned, the rest are removed and added. Of the
// channels in both, only the fewest moves that explain the new order are listed, so a
// channel that merely shifted because others came, went or moved is not.
class ChannelImageDiff {
public:
    static std::vector<ChannelDiffLine> compare(const ChannelDatabase& first, const ChannelDatabase& second);
    // Another channel image to compare with, loaded on its own; nothing, and `error`
    // with the file's name and why, when it cannot be read or is no whole channel image.
    static std::unique_ptr<ChannelDatabase> loadImage(const std::string& path, std::string& error);
};

} // namespace updatetool
