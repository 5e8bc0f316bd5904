#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ChannelDatabase.h"
#include "EditHistory.h"
#include "ReferenceOrder.h"
#include "TransponderImport.h"

namespace updatetool {

// The one way the channel editor changes the database: a function per edit step, each
// one database operation and one step of the undo history. An editing session is one
// object: its first save keeps the file as it was beside it.
class ChannelEditCommands {
public:
    explicit ChannelEditCommands(ChannelDatabase& database) : database_(database) {}

private:
    // Every step goes through here, so the history sees each one whole.
    template <typename Operation>
    auto recorded(std::string_view label, Operation operation)
    {
        history_.begin(database_);
        auto result = operation();
        history_.commit(database_, label);
        return result;
    }

public:

    // Deletes the channels at these channel-order positions; how many were deleted.
    int deleteChannels(std::span<const int> positions)
    {
        return recorded("Delete", [&] { return database_.deleteChannelsAt(positions); });
    }
    // "Delete One": the transponder and every channel tuned to it.
    ChannelDatabase::TransponderDeletion deleteTransponder(int transponder)
    {
        return recorded("Delete One", [&] { return database_.deleteTransponder(transponder); });
    }
    // Drag moves inside one channel list (rows stand for these channel-order positions).
    bool moveRow(std::span<const std::uint16_t> rowPositions, int from, int insertionPoint)
    {
        return recorded("Move", [&] { return database_.moveRow(rowPositions, from, insertionPoint); });
    }
    std::vector<int> moveSelectedRows(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                                      int target)
    {
        return recorded("Move", [&] { return database_.moveSelectedRows(rowPositions, selectedRows, target); });
    }
    // Alt+Up, Alt+Down, Alt+Home, Alt+End; returns the rows selected afterwards.
    std::vector<int> moveSelectedBy(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                                    ChannelDatabase::Shift shift)
    {
        return recorded("Move", [&] { return database_.moveSelectedBy(rowPositions, selectedRows, shift); });
    }
    // "Sort by Name", "Sort by Ch. ID"; returns the rows selected afterwards.
    std::vector<int> sortRows(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                              ChannelDatabase::SortKey key)
    {
        return recorded(key == ChannelDatabase::SortKey::Name ? "Sort by Name" : "Sort by Ch. ID",
                        [&] { return database_.sortRows(rowPositions, selectedRows, key); });
    }
    // "Apply Order From...": these rows take the order of the reference list.
    ReferenceOrderSummary applyReferenceOrder(std::span<const std::uint16_t> rowPositions,
                                              std::span<const ReferenceEntry> reference)
    {
        return recorded("Apply Order", [&] { return updatetool::applyReferenceOrder(database_, rowPositions, reference); });
    }
    // The edit dialogs' steps.
    ChannelDatabase::EditResult insertTransponder(const ChannelDatabase::TransponderValues& values, int& index)
    {
        return recorded("New Transponder", [&] { return database_.insertTransponder(values, index); });
    }
    ChannelDatabase::EditResult editTransponder(int index, const ChannelDatabase::TransponderValues& values)
    {
        return recorded("Edit Transponder", [&] { return database_.editTransponder(index, values); });
    }
    // "Import Transponders...": a whole table is one step, undone at once.
    TransponderImportSummary importTransponders(int satellite, std::span<const TableTransponder> entries,
                                                bool includeDvbs2)
    {
        return recorded("Import Transponders",
                        [&] { return updatetool::importTransponders(database_, satellite, entries, includeDvbs2); });
    }
    ChannelDatabase::EditResult insertChannel(bool radio, const ChannelDatabase::ChannelValues& values, int& position)
    {
        return recorded("New Channel", [&] { return database_.insertChannel(radio, values, position); });
    }
    ChannelDatabase::EditResult editChannel(int position, const ChannelDatabase::ChannelValues& values)
    {
        return recorded("Edit Channel", [&] { return database_.editChannel(position, values); });
    }
    ChannelDatabase::EditResult editSatellite(int satellite, const ChannelDatabase::SatelliteSettings& settings)
    {
        return recorded("Edit Satellite", [&] { return database_.editSatellite(satellite, settings); });
    }

    // Ctrl+Z and Ctrl+Y: false when there is no step to take. Afterwards the modified
    // flag is set exactly when the state differs from the one last saved.
    bool undo() { return history_.undo(database_); }
    bool redo() { return history_.redo(database_); }
    bool canUndo() const { return history_.canUndo(); }
    bool canRedo() const { return history_.canRedo(); }
    std::string_view undoLabel() const { return history_.undoLabel(); }
    std::string_view redoLabel() const { return history_.redoLabel(); }
    const EditHistory& history() const { return history_; }

    // Writes the file; a successful save starts a new count of deleted channels and is
    // the state undo calls unmodified. The first save of the session first keeps the
    // file as it was in backupPathFor(path), replacing an older copy; a save whose copy
    // fails writes nothing (SaveError::BackupFailed).
    bool save()
    {
        const bool backup = backupOnFirstSave_ && !backupMade_;
        if (!database_.save(backup ? backupPathFor(database_.filePath) : std::string{}))
            return false;
        backupMade_ = backupMade_ || backup;
        database_.deletedTvCount = 0;
        database_.deletedRadioCount = 0;
        history_.markSaved(database_);
        return true;
    }
    // The command line's --no-backup.
    void setBackupOnFirstSave(bool backup) { backupOnFirstSave_ = backup; }
    static std::string backupPathFor(const std::string& path) { return path + ".bak"; }

    // A newly loaded file starts a new session: no steps, no backup made yet.
    void startSession()
    {
        history_.clear();
        backupMade_ = false;
    }

    ChannelDatabase& database() { return database_; }
    const ChannelDatabase& database() const { return database_; }

private:
    ChannelDatabase& database_;
    EditHistory history_;
    bool backupOnFirstSave_ = true;
    bool backupMade_ = false;
};

} // namespace updatetool
