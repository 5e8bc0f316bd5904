// The editor's steps as one history: undo, redo, the saved state and the backup copy.
#include "ChannelTestSupport.h"

#include <cstring>
#include <functional>
#include <numeric>

#include "ChannelEditCommands.h"
#include "EditorLists.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

void expectSameState(const ChannelDatabase& actual, const ChannelDatabase& expected)
{
    EXPECT_TRUE(actual.channels == expected.channels);
    EXPECT_TRUE(actual.channelOrder == expected.channelOrder);
    EXPECT_TRUE(actual.satellites == expected.satellites);
    EXPECT_TRUE(actual.transponders == expected.transponders);
    EXPECT_TRUE(actual.transportStreams == expected.transportStreams);
    EXPECT_TRUE(actual.favorites == expected.favorites);
    EXPECT_TRUE(actual.streamRefs.refs == expected.streamRefs.refs);
    EXPECT_EQ(actual.streamRefs.count, expected.streamRefs.count);
    EXPECT_EQ(actual.tvCount, expected.tvCount);
    EXPECT_EQ(actual.radioCount, expected.radioCount);
    EXPECT_EQ(actual.streamCount, expected.streamCount);
    EXPECT_EQ(actual.deletedTvCount, expected.deletedTvCount);
    EXPECT_EQ(actual.nextFreeServiceId, expected.nextFreeServiceId);
    EXPECT_TRUE(savedOver(actual, demoImage()) == savedOver(expected, demoImage()));
}

RecordName nameOf(const char* text)
{
    RecordName name{};
    std::strncpy(name.data(), text, name.size() - 1);
    return name;
}

TEST(ChannelEditCommands, UndoAndRedoRetraceAMixedSequence)
{
    const auto database = loaded(demoImage());
    const auto original = loaded(demoImage());
    ChannelEditCommands commands(*database);
    const auto tv = [&] { return listedChannels(*database, kFilterAll, 0).tv; };
    const auto radio = [&] { return listedChannels(*database, kFilterAll, 0).radio; };
    int transponder = -1;
    int position = -1;
    ChannelDatabase::ChannelValues channel;
    const std::vector<std::pair<std::string, std::function<void()>>> steps = {
        {"Move", [&] { commands.moveRow(tv(), 2, 10); }},
        {"Move", [&] { commands.moveSelectedRows(tv(), std::vector{5, 6, 7}, 0); }},
        {"Delete", [&] { commands.deleteChannels(std::vector{3, 250}); }},
        {"New Transponder",
         [&] {
             database->currentSatellite = 1;
             commands.insertTransponder({1, 12345, 27500, 1, 0}, transponder);
         }},
        {"New Channel",
         [&] {
             channel.satellite = 1;
             channel.transponder = static_cast<std::uint16_t>(transponder);
             channel.name = nameOf("Added");
             channel.serviceId = database->nextFreeServiceId;
             channel.favorites = 0b101;
             commands.insertChannel(false, channel, position);
         }},
        {"Edit Channel",
         [&] {
             channel.name = nameOf("Renamed");
             channel.locked = true;
             commands.editChannel(position, channel);
         }},
        {"Edit Transponder", [&] { commands.editTransponder(transponder, {1, 12400, 27500, 0, 0}); }},
        {"Edit Satellite", [&] { commands.editSatellite(2, {nameOf("Renamed Sat"), 1, 10600, 9750, 2, 1, 0, 3, 1}); }},
        {"Sort by Name", [&] { commands.sortRows(tv(), {}, ChannelDatabase::SortKey::Name); }},
        {"Sort by Ch. ID", [&] { commands.sortRows(tv(), std::vector{0, 5, 9, 20}, ChannelDatabase::SortKey::ServiceId); }},
        {"Move", [&] { commands.moveSelectedBy(radio(), std::vector{0, 1}, ChannelDatabase::Shift::Bottom); }},
        {"Delete One", [&] { commands.deleteTransponder(9); }},
        {"Apply Order", [&] { commands.applyReferenceOrder(tv(), referenceListsOf(*original).tv); }},
    };

    // The state after each step, to walk back and forth through.
    std::vector<std::unique_ptr<ChannelDatabase>> states;
    states.push_back(std::make_unique<ChannelDatabase>(*database));
    for (const auto& [label, step] : steps) {
        step();
        EXPECT_EQ(commands.undoLabel(), label);
        states.push_back(std::make_unique<ChannelDatabase>(*database));
    }
    ASSERT_EQ(commands.history().stepCount(), steps.size());

    for (std::size_t k = steps.size(); k-- > 0;) {
        SCOPED_TRACE("undo " + steps[k].first + " (step " + std::to_string(k) + ")");
        ASSERT_TRUE(commands.undo());
        expectSameState(*database, *states[k]);
        EXPECT_EQ(commands.redoLabel(), steps[k].first);
    }
    EXPECT_FALSE(commands.undo());
    EXPECT_FALSE(database->modified);
    EXPECT_TRUE(savedOver(*database, demoImage()) == demoImage());

    for (std::size_t k = 0; k < steps.size(); ++k) {
        SCOPED_TRACE("redo " + steps[k].first);
        ASSERT_TRUE(commands.redo());
        expectSameState(*database, *states[k + 1]);
        EXPECT_TRUE(database->modified);
    }
    EXPECT_FALSE(commands.redo());
}

TEST(ChannelEditCommands, TheSavedStepIsTheUnmodifiedOne)
{
    TempFolder folder;
    const std::string path = folder.file("channels.img");
    writeFile(path, demoImage());
    const auto database = loaded(demoImage());
    database->filePath = path;
    ChannelEditCommands commands(*database);
    const auto rows = listedChannels(*database, kFilterAll, 0).tv;

    commands.moveRow(rows, 0, 5);
    ASSERT_TRUE(commands.save());
    EXPECT_FALSE(database->modified);
    commands.moveRow(rows, 1, 7);
    EXPECT_TRUE(database->modified);

    const struct {
        bool undo;
        bool modified;
    } walk[] = {{true, false}, {true, true}, {false, false}, {false, true}, {true, false}};
    for (const auto& step : walk) {
        ASSERT_TRUE(step.undo ? commands.undo() : commands.redo());
        EXPECT_EQ(database->modified, step.modified);
    }

    // Back before the save, a new step drops the saved state from reach: modified for good.
    commands.undo();
    commands.moveRow(rows, 3, 9);
    EXPECT_FALSE(commands.canRedo());
    commands.undo();
    EXPECT_TRUE(database->modified);
}

TEST(ChannelEditCommands, ChangesOnlyAreKeptAndTheOldestStepsGo)
{
    const auto database = loaded(demoImage());
    ChannelEditCommands commands(*database);
    const auto rows = listedChannels(*database, kFilterAll, 0).tv;

    EXPECT_FALSE(commands.moveRow(rows, 3, 3));
    const ChannelDatabase::SatelliteSettings unchanged{database->satellites[0].name};
    commands.editSatellite(0, unchanged);
    EXPECT_FALSE(commands.canUndo()) << "a step that changed nothing is not kept";

    const std::size_t total = EditHistory::kStepLimit + 44;
    std::unique_ptr<ChannelDatabase> oldestReachable;
    for (std::size_t step = 0; step < total; ++step) {
        if (step == total - EditHistory::kStepLimit)
            oldestReachable = std::make_unique<ChannelDatabase>(*database);
        commands.moveRow(rows, static_cast<int>(step % 200), static_cast<int>(step % 200 + 30));
    }
    EXPECT_EQ(commands.history().stepCount(), EditHistory::kStepLimit);
    while (commands.undo()) {
    }
    expectSameState(*database, *oldestReachable);
    EXPECT_TRUE(database->modified) << "the saved state went with the oldest steps";
}

TEST(ChannelEditCommands, AThousandRowMoveKeepsSlotNumbersNotRecords)
{
    const auto database = loaded(fullImage());
    ChannelEditCommands commands(*database);
    const auto rows = listedChannels(*database, kFilterAll, 0).tv;
    std::vector<int> selected(1000);
    std::iota(selected.begin(), selected.end(), 1000);
    commands.moveRow(rows, 0, 1); // the history's buffer for taking a step is counted from here on
    const std::size_t empty = commands.history().bytesHeld();
    commands.moveSelectedRows(rows, selected, 3000);
    // 2000 records changed place; as old and new records they would take about 240 KB.
    EXPECT_LT(commands.history().bytesHeld() - empty, 64u * 1024u);
}

TEST(ChannelEditCommands, TheFirstSaveOfASessionKeepsTheFileAsItWas)
{
    TempFolder folder;
    const std::string path = folder.file("channels.img");
    const std::string backup = path + ".bak";
    writeFile(path, demoImage());
    writeFile(backup, Bytes{'o', 'l', 'd'});
    const auto database = loaded(demoImage());
    database->filePath = path;
    const auto rows = listedChannels(*database, kFilterAll, 0).tv;

    {
        ChannelEditCommands commands(*database);
        commands.moveRow(rows, 0, 5);
        ASSERT_TRUE(commands.save());
        const Bytes firstSave = readFile(path);
        EXPECT_FALSE(firstSave == demoImage());
        EXPECT_TRUE(readFile(backup) == demoImage()) << "an older copy is replaced";
        commands.moveRow(rows, 0, 5);
        ASSERT_TRUE(commands.save());
        EXPECT_TRUE(readFile(backup) == demoImage()) << "later saves of the session keep the first copy";
        EXPECT_FALSE(readFile(path) == firstSave);
    }

    // A new session copies the file as that session found it.
    const Bytes sessionStart = readFile(path);
    ChannelEditCommands next(*database);
    next.moveRow(rows, 0, 5);
    ASSERT_TRUE(next.save());
    EXPECT_TRUE(readFile(backup) == sessionStart);

    // A copy that cannot be made fails the save, and the file stays as it was.
    std::filesystem::remove(backup);
    std::filesystem::create_directory(backup);
    const Bytes before = readFile(path);
    ChannelEditCommands failing(*database);
    failing.moveRow(rows, 0, 5);
    EXPECT_FALSE(failing.save());
    EXPECT_EQ(database->lastSaveError, SaveError::BackupFailed);
    EXPECT_TRUE(database->modified);
    EXPECT_TRUE(readFile(path) == before);
}

} // namespace
