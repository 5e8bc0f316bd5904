#include "EditHistory.h"

#include <algorithm>
#include <array>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "ChannelDatabase.h"

namespace updatetool {

namespace {

template <typename T>
struct Change {
    std::uint32_t index;
    T before;
    T after;
};
template <typename T>
using Changes = std::vector<Change<T>>;

// After the step the slot `slot` holds what slot `source` held before it.
struct ChannelMove {
    std::uint16_t slot;
    std::uint16_t source;
};
struct ChannelContent {
    std::uint16_t slot;
    ChannelRecord record;
};

// The counts and marks outside the tables, read and written as one small table. The
// modified flag is not among them: it follows from the saved step.
struct ScalarField {
    std::int64_t (*get)(const ChannelDatabase&);
    void (*set)(ChannelDatabase&, std::int64_t);
};

template <auto Member>
constexpr ScalarField scalarField()
{
    return {[](const ChannelDatabase& database) -> std::int64_t { return database.*Member; },
            [](ChannelDatabase& database, std::int64_t value) {
                database.*Member = static_cast<std::remove_cvref_t<decltype(database.*Member)>>(value);
            }};
}

constexpr std::array kScalarFields = {
    scalarField<&ChannelDatabase::tvCount>(),
    scalarField<&ChannelDatabase::radioCount>(),
    scalarField<&ChannelDatabase::channelCount>(),
    scalarField<&ChannelDatabase::streamCount>(),
    scalarField<&ChannelDatabase::transponderCount>(),
    scalarField<&ChannelDatabase::satelliteCount>(),
    scalarField<&ChannelDatabase::channelSlots>(),
    scalarField<&ChannelDatabase::deletedTvCount>(),
    scalarField<&ChannelDatabase::deletedRadioCount>(),
    scalarField<&ChannelDatabase::channelTableChanged>(),
    scalarField<&ChannelDatabase::currentSatellite>(),
    scalarField<&ChannelDatabase::nextFreeServiceId>(),
    scalarField<&ChannelDatabase::rebuiltChannelCount>(),
    ScalarField{[](const ChannelDatabase& database) -> std::int64_t { return database.streamRefs.count; },
                [](ChannelDatabase& database, std::int64_t value) { database.streamRefs.count = static_cast<int>(value); }},
};
using Scalars = std::array<std::int64_t, kScalarFields.size()>;

Scalars scalarsOf(const ChannelDatabase& database)
{
    Scalars values{};
    for (std::size_t field = 0; field < kScalarFields.size(); ++field)
        values[field] = kScalarFields[field].get(database);
    return values;
}

template <typename Table, typename T>
void collectChanges(const Table& before, const Table& after, Changes<T>& changes)
{
    for (std::size_t index = 0; index < before.size(); ++index)
        if (!(before[index] == after[index]))
            changes.push_back({static_cast<std::uint32_t>(index), before[index], after[index]});
    changes.shrink_to_fit();
}

template <typename Table, typename T>
void applyChanges(Table& table, const Changes<T>& changes, bool undo)
{
    for (const Change<T>& change : changes)
        table[change.index] = undo ? change.before : change.after;
}

template <typename T>
std::size_t bytesOf(const std::vector<T>& items)
{
    return items.capacity() * sizeof(T);
}

std::uint64_t hashOf(const ChannelRecord& channel)
{
    // FNV-1a over the fields that tell channels apart; equal records always hash alike.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    const auto mix = [&hash](std::uint64_t value) {
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (value >> (8 * byte)) & 0xFF;
            hash *= 0x100000001B3ull;
        }
    };
    mix(channel.serviceId | (std::uint64_t{channel.videoPid} << 16) | (std::uint64_t{channel.audioPid} << 32)
        | (std::uint64_t{channel.flags} << 48));
    mix(channel.streamRef | (std::uint64_t{channel.transponder} << 32) | (std::uint64_t{channel.pcrPid} << 48));
    for (std::size_t offset = 0; offset < channel.name.size(); offset += 8) {
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < 8; ++i)
            word |= std::uint64_t{static_cast<unsigned char>(channel.name[offset + i])} << (8 * i);
        mix(word);
    }
    return hash;
}

} // namespace

struct EditHistory::Step {
    std::string label;
    // Channel records: moved contents as slot pairs; the rest as old contents (for undo)
    // and new contents (for redo) of the slots that need them.
    std::vector<ChannelMove> channelMoves;
    std::vector<ChannelContent> channelsBefore;
    std::vector<ChannelContent> channelsAfter;
    Changes<std::uint16_t> channelOrder;
    Changes<TransponderRecord> transponders;
    Changes<std::uint16_t> transponderMarks;
    Changes<SatelliteRecord> satellites;
    Changes<TransportStreamRecord> transportStreams;
    Changes<std::uint32_t> streamRefs;
    Changes<std::uint16_t> streamRefIndices;
    Changes<FavoriteGroup> favorites;
    Changes<std::uint32_t> satelliteChannelCounts;
    Changes<std::uint32_t> transponderChannelCounts;
    Changes<std::int64_t> scalars;

    bool empty() const
    {
        bool none = channelMoves.empty() && channelsBefore.empty() && channelsAfter.empty() && scalars.empty();
        visitTables(*this, [&](auto, const auto& changes) { none = none && changes.empty(); });
        return none;
    }

    std::size_t bytes() const
    {
        std::size_t total = sizeof(Step) + label.capacity() + bytesOf(channelMoves) + bytesOf(channelsBefore)
            + bytesOf(channelsAfter) + bytesOf(scalars);
        visitTables(*this, [&](auto, const auto& changes) { total += bytesOf(changes); });
        return total;
    }

    // Calls visit(table, changes) for each table kept record by record, where table(d)
    // is that table of database d.
    template <typename Self, typename Visit>
    static void visitTables(Self& step, Visit visit)
    {
        visit([](auto& d) -> auto& { return d.channelOrder; }, step.channelOrder);
        visit([](auto& d) -> auto& { return d.transponders; }, step.transponders);
        visit([](auto& d) -> auto& { return d.transponderMarks; }, step.transponderMarks);
        visit([](auto& d) -> auto& { return d.satellites; }, step.satellites);
        visit([](auto& d) -> auto& { return d.transportStreams; }, step.transportStreams);
        visit([](auto& d) -> auto& { return d.streamRefs.refs; }, step.streamRefs);
        visit([](auto& d) -> auto& { return d.streamRefs.streamIndex; }, step.streamRefIndices);
        visit([](auto& d) -> auto& { return d.favorites; }, step.favorites);
        visit([](auto& d) -> auto& { return d.satelliteChannelCounts; }, step.satelliteChannelCounts);
        visit([](auto& d) -> auto& { return d.transponderChannelCounts; }, step.transponderChannelCounts);
    }
};

namespace {

void collectChannelChanges(const ChannelDatabase& before, const ChannelDatabase& after, EditHistory::Step& step)
{
    std::vector<std::uint16_t> changed;
    for (int slot = 0; slot < kChannelSlots; ++slot)
        if (!(before.channels[slot] == after.channels[slot]))
            changed.push_back(static_cast<std::uint16_t>(slot));
    if (changed.empty())
        return;

    // A move or a sort only carries contents from slot to slot: find, for each new
    // content, a changed slot that held it before, so the step keeps two numbers
    // instead of two records.
    std::vector<std::pair<std::uint64_t, std::uint16_t>> oldContents;
    oldContents.reserve(changed.size());
    for (const std::uint16_t slot : changed)
        oldContents.emplace_back(hashOf(before.channels[slot]), slot);
    std::sort(oldContents.begin(), oldContents.end());
    std::vector<bool> taken(kChannelSlots, false);
    for (const std::uint16_t slot : changed) {
        const ChannelRecord& now = after.channels[slot];
        const std::uint64_t hash = hashOf(now);
        auto candidate = std::lower_bound(oldContents.begin(), oldContents.end(), std::make_pair(hash, std::uint16_t{0}));
        bool found = false;
        for (; candidate != oldContents.end() && candidate->first == hash; ++candidate) {
            const std::uint16_t source = candidate->second;
            if (!taken[source] && before.channels[source] == now) {
                taken[source] = true;
                step.channelMoves.push_back({slot, source});
                found = true;
                break;
            }
        }
        if (!found)
            step.channelsAfter.push_back({slot, now});
    }
    for (const std::uint16_t slot : changed)
        if (!taken[slot])
            step.channelsBefore.push_back({slot, before.channels[slot]});
    step.channelMoves.shrink_to_fit();
    step.channelsAfter.shrink_to_fit();
    step.channelsBefore.shrink_to_fit();
}

void applyChannelChanges(ChannelDatabase& database, const EditHistory::Step& step, bool undo)
{
    // Every content is read before any is written: the slots of a move overlap.
    std::vector<ChannelRecord> carried;
    carried.reserve(step.channelMoves.size());
    for (const ChannelMove& move : step.channelMoves)
        carried.push_back(database.channels[undo ? move.slot : move.source]);
    for (std::size_t k = 0; k < step.channelMoves.size(); ++k) {
        const ChannelMove& move = step.channelMoves[k];
        database.channels[undo ? move.source : move.slot] = carried[k];
    }
    for (const ChannelContent& content : undo ? step.channelsBefore : step.channelsAfter)
        database.channels[content.slot] = content.record;
}

void applyStep(ChannelDatabase& database, const EditHistory::Step& step, bool undo)
{
    applyChannelChanges(database, step, undo);
    EditHistory::Step::visitTables(
        step, [&](auto table, const auto& changes) { applyChanges(table(database), changes, undo); });
    Scalars values = scalarsOf(database);
    applyChanges(values, step.scalars, undo);
    for (const auto& change : step.scalars)
        kScalarFields[change.index].set(database, values[change.index]);
}

} // namespace

EditHistory::EditHistory() = default;
EditHistory::~EditHistory() = default;

void EditHistory::begin(const ChannelDatabase& database)
{
    if (!before_)
        before_ = std::make_unique<ChannelDatabase>();
    *before_ = database;
    taking_ = true;
}

bool EditHistory::commit(const ChannelDatabase& database, std::string_view label)
{
    if (!taking_)
        return false;
    taking_ = false;
    auto step = std::make_unique<Step>();
    step->label = label;
    collectChannelChanges(*before_, database, *step);
    Step::visitTables(*step, [&](auto table, auto& changes) {
        collectChanges(table(std::as_const(*before_)), table(database), changes);
    });
    collectChanges(scalarsOf(*before_), scalarsOf(database), step->scalars);
    if (step->empty())
        return false;

    // A new step ends every step that was undone; the saved state may go with them.
    while (steps_.size() > position_) {
        stepBytes_ -= steps_.back()->bytes();
        steps_.pop_back();
    }
    if (savedPosition_ > static_cast<std::ptrdiff_t>(position_))
        savedPosition_ = -1;
    stepBytes_ += step->bytes();
    steps_.push_back(std::move(step));
    ++position_;
    dropOldestWhileOverBudget();
    return true;
}

void EditHistory::dropOldestWhileOverBudget()
{
    while (steps_.size() > 1 && (steps_.size() > kStepLimit || stepBytes_ > kMemoryBudget)) {
        stepBytes_ -= steps_.front()->bytes();
        steps_.pop_front();
        --position_;
        savedPosition_ = savedPosition_ > 0 ? savedPosition_ - 1 : -1;
    }
}

bool EditHistory::undo(ChannelDatabase& database)
{
    if (!canUndo())
        return false;
    taking_ = false;
    --position_;
    applyStep(database, *steps_[position_], true);
    database.modified = static_cast<std::ptrdiff_t>(position_) != savedPosition_;
    return true;
}

bool EditHistory::redo(ChannelDatabase& database)
{
    if (!canRedo())
        return false;
    taking_ = false;
    applyStep(database, *steps_[position_], false);
    ++position_;
    database.modified = static_cast<std::ptrdiff_t>(position_) != savedPosition_;
    return true;
}

std::string_view EditHistory::undoLabel() const
{
    return canUndo() ? std::string_view(steps_[position_ - 1]->label) : std::string_view{};
}

std::string_view EditHistory::redoLabel() const
{
    return canRedo() ? std::string_view(steps_[position_]->label) : std::string_view{};
}

void EditHistory::markSaved(ChannelDatabase& database)
{
    savedPosition_ = static_cast<std::ptrdiff_t>(position_);
    database.modified = false;
}

void EditHistory::clear()
{
    steps_.clear();
    stepBytes_ = 0;
    position_ = 0;
    savedPosition_ = 0;
    taking_ = false;
}

std::size_t EditHistory::bytesHeld() const
{
    return stepBytes_ + (before_ ? sizeof(ChannelDatabase) : 0);
}

} // namespace updatetool
