#include "ChannelTestSupport.h"

#include <cstring>
#include <string>

using namespace updatetool;
using namespace updatetool::test;

namespace {

using Result = ChannelDatabase::EditResult;

constexpr int kDemoTransponders = 34; // 0-7 satellite 0, 8-15 satellite 1, ..., 30-33 terrestrial

ChannelDatabase::ChannelValues channelOn(int transponder, const char* name)
{
    ChannelDatabase::ChannelValues values;
    values.transponder = static_cast<std::uint16_t>(transponder);
    values.satellite = 1;
    std::copy_n(name, std::strlen(name), values.name.begin());
    values.serviceId = 77;
    values.favorites = 0b0000101; // groups 1 and 3
    return values;
}

TEST(ChannelDialogEdits, InsertingATransponderUsesTheFirstFreeRecordAndKeepsItsPriority)
{
    const auto database = loaded(demoImage());
    database->currentSatellite = kTerrestrialSatellite;
    const ChannelDatabase::TransponderValues lp{kTerrestrialSatellite, 4740, 45, 0, 1};
    int index = -1;
    ASSERT_EQ(database->insertTransponder(lp, index), Result::Stored);
    EXPECT_EQ(index, kDemoTransponders);
    const TransponderRecord& stored = database->transponders[index];
    EXPECT_EQ(stored.priority, 1); // "LP" stays "LP"
    EXPECT_EQ(stored.modeBits, 6);
    const SatelliteRecord& terrestrial = database->satellites[kTerrestrialSatellite];
    EXPECT_EQ(terrestrial.transponderIndex[terrestrial.transponderCount - 1], index);
    EXPECT_TRUE(database->modified);

    // Differing only in priority is still the same transponder.
    ChannelDatabase::TransponderValues hp = lp;
    hp.priority = 0;
    EXPECT_EQ(database->insertTransponder(hp, index), Result::Duplicate);

    // A satellite whose list is full takes no more, like a full table.
    database->currentSatellite = 4;
    database->satellites[4].transponderCount = kTranspondersPerSatellite;
    EXPECT_EQ(database->insertTransponder({4, 11000, 27500, 1, 0}, index), Result::NoFreeRecord);
    database->satellites[4].transponderCount = 4;
    for (auto& transponder : database->transponders)
        if (transponder.satellite >= kSatelliteCapacity)
            transponder.satellite = 3;
    EXPECT_EQ(database->insertTransponder({4, 11000, 27500, 1, 0}, index), Result::NoFreeRecord);
    EXPECT_EQ(database->satellites[4].transponderCount, 4);
}

TEST(ChannelDialogEdits, EditingATransponderStoresPriorityAloneAndRetunesItsChannels)
{
    const auto database = loaded(demoImage());
    const int terrestrial = 30;
    const TransponderRecord before = database->transponders[terrestrial];
    const ChannelDatabase::TransponderValues same{before.satellite, before.frequency, before.symbolRate, 0,
                                                  before.priority};
    EXPECT_EQ(database->editTransponder(terrestrial, same), Result::Unchanged);
    EXPECT_FALSE(database->modified);
    ChannelDatabase::TransponderValues otherPriority = same;
    otherPriority.priority = static_cast<std::uint8_t>((before.priority + 1) % 3);
    EXPECT_EQ(database->editTransponder(terrestrial, otherPriority), Result::Stored);
    EXPECT_EQ(database->transponders[terrestrial].priority, otherPriority.priority);

    const TransponderRecord neighbour = database->transponders[9];
    EXPECT_EQ(database->editTransponder(8, {1, neighbour.frequency, neighbour.symbolRate, neighbour.polarity, 0}),
              Result::Duplicate);

    // A new tuning: the channels on it (TV 8, 42, ...) still find it after a save and a load.
    const std::uint32_t onEight = database->transponderChannelCounts[8];
    ASSERT_GT(onEight, 0u);
    EXPECT_EQ(database->editTransponder(8, {1, 11999, 30000, 1, 0}), Result::Stored);
    const auto reloaded = loaded(savedOver(*database, demoImage()));
    EXPECT_EQ(reloaded->transponders[8].frequency, 11999);
    EXPECT_EQ(reloaded->transponderChannelCounts[8], onEight);
}

TEST(ChannelDialogEdits, InsertingChannelsKeepsTvBeforeRadioAndSharesStreams)
{
    const auto database = loaded(demoImage());
    const int firstRadioSlot = database->channelOrder[kDemoTv];
    int position = -1;
    ASSERT_EQ(database->insertChannel(false, channelOn(9, "New TV"), position), Result::Stored);
    EXPECT_EQ(position, kDemoTv);
    EXPECT_EQ(database->channelOrder[kDemoTv], kDemoTv); // the first empty TV slot
    EXPECT_EQ(database->channelOrder[kDemoTv + 1], firstRadioSlot);
    const ChannelRecord& added = database->channels[kDemoTv];
    EXPECT_EQ(added.word28, kEditorChannelMark);
    EXPECT_EQ(added.streamRef, database->channels[9].streamRef); // TV channel 9 is on transponder 9
    EXPECT_EQ(added.flags, channelflag::favorite(1) | channelflag::favorite(3));
    EXPECT_EQ(database->streamCount, kDemoTransponders);

    // A transponder no channel uses yet gets a new stream record.
    database->currentSatellite = 1;
    int transponder = -1;
    ASSERT_EQ(database->insertTransponder({1, 12000, 27500, 1, 0}, transponder), Result::Stored);
    ASSERT_EQ(database->insertChannel(true, channelOn(transponder, "New Radio"), position), Result::Stored);
    EXPECT_EQ(position, database->tvCount + database->radioCount - 1);
    const TransportStreamRecord& stream = database->transportStreams[kDemoTransponders];
    EXPECT_EQ(database->streamCount, kDemoTransponders + 1);
    EXPECT_EQ(stream.tsFrequency, 12000);
    EXPECT_EQ(stream.tsFlags & 0x4F, 0x46); // horizontal, value 6
    EXPECT_EQ(database->channels[database->channelOrder[position]].streamRef, 0xBFEC0000u + 20u * kDemoTransponders);

    const auto reloaded = loaded(savedOver(*database, demoImage()));
    EXPECT_EQ(reloaded->tvCount, kDemoTv + 1);
    EXPECT_EQ(std::string(reloaded->channels[kDemoTv].name.data()), "New TV");
    EXPECT_EQ(reloaded->channels[reloaded->channelOrder[position]].transponder, transponder);
}

TEST(ChannelDialogEdits, RefusedInsertsChangeNothing)
{
    const struct {
        const char* what;
        bool full;
        bool radio;
        bool streamsFull;
        Result expected;
    } cases[] = {
        {"TV part full", true, false, false, Result::ChannelsFull},
        {"radio part full", true, true, false, Result::ChannelsFull},
        {"stream table full", false, false, true, Result::StreamTableFull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes& image = c.full ? fullImage() : demoImage();
        const auto database = loaded(image);
        if (c.full) { // a deleted channel frees a count but not its slot
            const int deleted[] = {c.radio ? 7005 : 5};
            database->deleteChannelsAt(deleted);
        }
        if (c.streamsFull)
            database->streamCount = kStreamCapacity;
        // A transponder no channel is on, so that an insert needs a new stream record.
        database->transponders[3000] = TransponderRecord{1, 12500, 22000, 0, 0, 0, 0};
        const Bytes before = savedOver(*database, image);
        int position = 7;
        EXPECT_EQ(database->insertChannel(c.radio, channelOn(3000, "X"), position), c.expected);
        EXPECT_EQ(position, -1);
        EXPECT_TRUE(savedOver(*database, image) == before);
    }
}

TEST(ChannelDialogEdits, EditingAChannelKeepsWhatTheDialogDoesNotShow)
{
    const auto database = loaded(demoImage());
    ChannelRecord& channel = database->channels[8]; // TV channel 8, transponder 8
    channel.flags |= 1u << 13; // a carried bit
    const std::uint32_t ref = channel.streamRef;
    // Its stream record no longer matches the transponder: an unchanged choice keeps the reference.
    database->transportStreams[8].tsFrequency = 1;
    ChannelDatabase::ChannelValues values = channelOn(8, "Renamed");
    values.favorites = 0;
    values.scrambled = true;
    ASSERT_EQ(database->editChannel(8, values), Result::Stored);
    EXPECT_EQ(channel.streamRef, ref);
    EXPECT_EQ(channel.flags, (1u << 13) | channelflag::kScrambled);
    EXPECT_EQ(std::string(channel.name.data()), "Renamed");

    // Both 65535 would read as an empty slot and end the TV run on the next load.
    values.videoPid = values.serviceId = 0xFFFF;
    EXPECT_EQ(database->editChannel(8, values), Result::ReadsAsEmpty);
    int position = -1;
    EXPECT_EQ(database->insertChannel(false, values, position), Result::ReadsAsEmpty);
    EXPECT_EQ(channel.serviceId, 77);

    // Another transponder with a stream record: the channel takes that record.
    ASSERT_EQ(database->editChannel(8, channelOn(9, "Moved")), Result::Stored);
    EXPECT_EQ(channel.streamRef, 0xBFEC0000u + 20u * 9u);
}

TEST(ChannelDialogEdits, AnEditedSatelliteNameIsSaved)
{
    const auto database = loaded(demoImage());
    ChannelDatabase::SatelliteSettings settings;
    std::copy_n("HISPASAT 30W", 12, settings.name.begin());
    settings.diseqc = 0x84;
    ASSERT_EQ(database->editSatellite(2, settings), Result::Stored);
    EXPECT_EQ(database->satellites[2].diseqc, 0x84);
    const auto reloaded = loaded(savedOver(*database, demoImage()));
    EXPECT_EQ(std::string(reloaded->satellites[2].name.data()), "HISPASAT 30W");
    EXPECT_EQ(database->editSatellite(128, settings), Result::NoSuchRecord);
}

} // namespace
