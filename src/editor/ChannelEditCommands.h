#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ChannelDatabase.h"

namespace updatetool {

// The one way the channel editor changes the database: a function per edit step, each
// one database operation. Undo and the like hook in here, not in the lists.
class ChannelEditCommands {
public:
    explicit ChannelEditCommands(ChannelDatabase& database) : database_(database) {}

    // Deletes the channels at these channel-order positions; how many were deleted.
    int deleteChannels(std::span<const int> positions) { return database_.deleteChannelsAt(positions); }
    // "Delete One": the transponder and every channel tuned to it.
    ChannelDatabase::TransponderDeletion deleteTransponder(int transponder)
    {
        return database_.deleteTransponder(transponder);
    }
    // Drag moves inside one channel list (rows stand for these channel-order positions).
    bool moveRow(std::span<const std::uint16_t> rowPositions, int from, int insertionPoint)
    {
        return database_.moveRow(rowPositions, from, insertionPoint);
    }
    std::vector<int> moveSelectedRows(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                                      int target)
    {
        return database_.moveSelectedRows(rowPositions, selectedRows, target);
    }
    // The edit dialogs' steps.
    ChannelDatabase::EditResult insertTransponder(const ChannelDatabase::TransponderValues& values, int& index)
    {
        return database_.insertTransponder(values, index);
    }
    ChannelDatabase::EditResult editTransponder(int index, const ChannelDatabase::TransponderValues& values)
    {
        return database_.editTransponder(index, values);
    }
    ChannelDatabase::EditResult insertChannel(bool radio, const ChannelDatabase::ChannelValues& values, int& position)
    {
        return database_.insertChannel(radio, values, position);
    }
    ChannelDatabase::EditResult editChannel(int position, const ChannelDatabase::ChannelValues& values)
    {
        return database_.editChannel(position, values);
    }
    ChannelDatabase::EditResult editSatellite(int satellite, const ChannelDatabase::SatelliteSettings& settings)
    {
        return database_.editSatellite(satellite, settings);
    }
    // Writes the file; a successful save starts a new count of deleted channels.
    bool save()
    {
        if (!database_.save())
            return false;
        database_.deletedTvCount = 0;
        database_.deletedRadioCount = 0;
        return true;
    }

    ChannelDatabase& database() { return database_; }
    const ChannelDatabase& database() const { return database_; }

private:
    ChannelDatabase& database_;
};

} // namespace updatetool
