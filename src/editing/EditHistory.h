#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace updatetool {

class ChannelDatabase;

// Undo and redo of the channel editor's edit steps. A step keeps only what it changed:
// the records that differ (with their old and new contents), or for contents that merely
// moved between channel slots just the two slot numbers. Taking a step costs one copy of
// the database in a buffer kept for the purpose, and comparing it afterwards.
class EditHistory {
public:
    // At least this many steps are kept, as long as they fit the memory budget; the
    // oldest ones go first.
    static constexpr std::size_t kStepLimit = 256;
    static constexpr std::size_t kMemoryBudget = 64u << 20;

    EditHistory();
    ~EditHistory();
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    // Around one edit step: begin copies the state, commit keeps what the step changed.
    // A step that changed nothing is not kept, and commit says false.
    void begin(const ChannelDatabase& database);
    bool commit(const ChannelDatabase& database, std::string_view label);

    // Put the database back to the state before the last step kept, or forward again.
    // False when there is no such step. The modified flag then says whether the state
    // differs from the one last saved.
    bool undo(ChannelDatabase& database);
    bool redo(ChannelDatabase& database);
    bool canUndo() const { return position_ > 0; }
    bool canRedo() const { return position_ < steps_.size(); }
    // The step undo or redo would take ("Move", "Delete", ...); empty when none.
    std::string_view undoLabel() const;
    std::string_view redoLabel() const;

    // The database's state is the file's now: clears its modified flag.
    void markSaved(ChannelDatabase& database);
    // Forgets every step, for a newly loaded file; that state counts as saved.
    void clear();

    std::size_t stepCount() const { return steps_.size(); }
    // Memory the history holds: the steps and the buffer for a step being taken.
    std::size_t bytesHeld() const;

    struct Step;

private:
    void dropOldestWhileOverBudget();

    std::unique_ptr<ChannelDatabase> before_;
    bool taking_ = false;
    std::deque<std::unique_ptr<Step>> steps_;
    std::size_t position_ = 0;        // steps applied: the next undo takes steps_[position_ - 1]
    std::ptrdiff_t savedPosition_ = 0; // -1 once the saved state cannot be reached again
    std::size_t stepBytes_ = 0;
};

} // namespace updatetool
