// Two transponders on one satellite, frequency and symbol rate with opposite polarity
// are two transponders: every step keeps their channels apart, also after a save and a
// load.
#include "ChannelTestSupport.h"

#include <cstring>
#include <string>

using namespace updatetool;
using namespace updatetool::test;

namespace {

using Result = ChannelDatabase::EditResult;

constexpr int kDemoTransponders = 34;
// In the demo image transponder k and stream record k belong together, polarity k % 2.
constexpr int kVertical = 8;
constexpr int kHorizontal = 9;

std::size_t streamOffset(int index)
{
    return kStreamTable + 20 * static_cast<std::size_t>(index);
}

std::size_t transponderOffset(int index)
{
    return kTransponders + 8 * static_cast<std::size_t>(index);
}

// Transponder 9 (and its stream record) moved onto transponder 8's frequency and symbol
// rate: 8 vertical and 9 horizontal, like 11778 V and 11778 H.
Bytes twinImage()
{
    Bytes image = demoImage();
    std::copy_n(image.begin() + transponderOffset(kVertical) + 2, 4, image.begin() + transponderOffset(kHorizontal) + 2);
    std::copy_n(image.begin() + streamOffset(kVertical) + 12, 4, image.begin() + streamOffset(kHorizontal) + 12);
    return image;
}

std::uint32_t refOf(int stream)
{
    return 0xBFEC0000u + 20u * static_cast<std::uint32_t>(stream);
}

// Channel-order positions of the channels on a stream record.
std::vector<int> positionsOn(const ChannelDatabase& database, int stream)
{
    std::vector<int> positions;
    for (int p = 0; p < database.channelCount; ++p)
        if (database.channels[database.channelOrder[p]].streamRef == refOf(stream))
            positions.push_back(p);
    return positions;
}

std::unique_ptr<ChannelDatabase> savedAndReloaded(const ChannelDatabase& database, const Bytes& image)
{
    const Bytes saved = savedOver(database, image);
    expectCheckWordsValid(saved);
    return loaded(saved);
}

ChannelDatabase::ChannelValues valuesOf(const ChannelRecord& channel, int transponder, const char* name)
{
    ChannelDatabase::ChannelValues values;
    values.satellite = channel.satellite;
    values.transponder = static_cast<std::uint16_t>(transponder);
    std::copy_n(name, std::strlen(name) + 1, values.name.begin());
    values.audioPid = channel.audioPid;
    values.videoPid = channel.videoPid;
    values.pcrPid = channel.pcrPid;
    values.serviceId = channel.serviceId;
    return values;
}

TEST(TransponderIdentity, EachTwinKeepsItsOwnChannelsThroughLoadAndSave)
{
    const auto database = loaded(twinImage());
    const int onVertical = static_cast<int>(positionsOn(*database, kVertical).size());
    const int onHorizontal = static_cast<int>(positionsOn(*database, kHorizontal).size());
    ASSERT_GT(onVertical, 0);
    ASSERT_GT(onHorizontal, 0);
    EXPECT_EQ(database->transponderChannelCounts[kVertical], static_cast<std::uint32_t>(onVertical));
    EXPECT_EQ(database->transponderChannelCounts[kHorizontal], static_cast<std::uint32_t>(onHorizontal));
    const auto reloaded = savedAndReloaded(*database, twinImage());
    EXPECT_EQ(reloaded->transponderChannelCounts[kVertical], static_cast<std::uint32_t>(onVertical));
    EXPECT_EQ(reloaded->transponderChannelCounts[kHorizontal], static_cast<std::uint32_t>(onHorizontal));
}

TEST(TransponderIdentity, DeleteOneTakesOnlyTheChannelsOfThatTwin)
{
    for (const int deleted : {kVertical, kHorizontal}) {
        const int twin = deleted == kVertical ? kHorizontal : kVertical;
        const auto database = loaded(twinImage());
        const std::uint32_t twinChannels = database->transponderChannelCounts[twin];
        const auto result = database->deleteTransponder(deleted);
        EXPECT_EQ(result.channelsDeleted, static_cast<int>(positionsOn(*loaded(twinImage()), deleted).size()))
            << "deleting " << deleted;
        EXPECT_TRUE(positionsOn(*database, deleted).empty());
        const auto reloaded = savedAndReloaded(*database, twinImage());
        // The save moved the later transponders up by one record.
        const int twinAfter = twin > deleted ? twin - 1 : twin;
        EXPECT_EQ(reloaded->transponderChannelCounts[twinAfter], twinChannels) << "deleting " << deleted;
    }
}

TEST(TransponderIdentity, AChannelWithoutStreamReferenceDoesNotEndTheDeleteOneWalk)
{
    Bytes image = twinImage();
    putBe32(image, channelOffset(0) + 24, 0); // TV channel 0, on transponder 0
    const auto database = loaded(image);
    const std::size_t onVertical = positionsOn(*database, kVertical).size();
    const auto result = database->deleteTransponder(kVertical);
    EXPECT_EQ(result.channelsDeleted, static_cast<int>(onVertical));
    EXPECT_FALSE(result.streamMissing);
    EXPECT_TRUE(positionsOn(*database, kVertical).empty());
}

TEST(TransponderIdentity, EditAndInsertUseTheStreamRecordOfTheChosenTwin)
{
    const auto database = loaded(twinImage());
    const int horizontalChannel = positionsOn(*database, kHorizontal).front();
    const int verticalChannel = positionsOn(*database, kVertical).front();
    ChannelRecord& horizontal = database->channels[database->channelOrder[horizontalChannel]];
    ChannelRecord& vertical = database->channels[database->channelOrder[verticalChannel]];

    // A rename leaves the tuning alone.
    ASSERT_EQ(database->editChannel(horizontalChannel, valuesOf(horizontal, kHorizontal, "Renamed")), Result::Stored);
    EXPECT_EQ(horizontal.streamRef, refOf(kHorizontal));
    // Moved to the twin, the channel takes the twin's own record.
    ASSERT_EQ(database->editChannel(verticalChannel, valuesOf(vertical, kHorizontal, "Moved")), Result::Stored);
    EXPECT_EQ(vertical.streamRef, refOf(kHorizontal));
    // New channels borrow from a channel of the same twin.
    for (const int transponder : {kVertical, kHorizontal}) {
        int position = -1;
        ASSERT_EQ(database->insertChannel(false, valuesOf(vertical, transponder, "New"), position), Result::Stored);
        EXPECT_EQ(database->channels[database->channelOrder[position]].streamRef, refOf(transponder));
    }
    EXPECT_EQ(database->streamCount, kDemoTransponders);

    const auto reloaded = savedAndReloaded(*database, twinImage());
    const auto named = [&](const char* name) {
        for (int p = 0; p < reloaded->channelCount; ++p) {
            const ChannelRecord& channel = reloaded->channels[reloaded->channelOrder[p]];
            if (std::string(channel.name.data()) == name)
                return static_cast<int>(channel.transponder);
        }
        return -1;
    };
    EXPECT_EQ(named("Renamed"), kHorizontal);
    EXPECT_EQ(named("Moved"), kHorizontal);
}

TEST(TransponderIdentity, AStreamRecordNoChannelListsIsFoundAgainAfterAReload)
{
    auto database = loaded(demoImage());
    database->currentSatellite = 1;
    int added = -1;
    ASSERT_EQ(database->insertTransponder({1, 12000, 27500, 1, 0}, added), Result::Stored);
    int position = -1;
    const ChannelRecord first = database->channels[database->channelOrder[positionsOn(*database, kVertical).front()]];
    ASSERT_EQ(database->insertChannel(false, valuesOf(first, added, "Lonely"), position), Result::Stored);
    // Its only channel moves away: the record stays in the table but leaves the list.
    ASSERT_EQ(database->editChannel(position, valuesOf(first, kVertical, "Lonely")), Result::Stored);
    Bytes image = savedOver(*database, demoImage());
    database = loaded(image);
    ASSERT_EQ(database->streamCount, kDemoTransponders + 1);
    ASSERT_LT(database->streamRefs.count, kDemoTransponders + 1);

    ASSERT_EQ(database->editChannel(position, valuesOf(first, added, "Back")), Result::Stored);
    EXPECT_EQ(database->channels[database->channelOrder[position]].streamRef, refOf(kDemoTransponders));
    EXPECT_EQ(database->streamCount, kDemoTransponders + 1);
    EXPECT_EQ(database->transponderChannelCounts[added], 1u);
    const auto reloaded = savedAndReloaded(*database, image);
    EXPECT_EQ(reloaded->transponderChannelCounts[added], 1u);
}

TEST(TransponderIdentity, AnUnknownTransponderIsKeptByAnEditThatLeavesIt)
{
    Bytes image = demoImage();
    putBe16(image, streamOffset(kVertical) + 12, 11111); // no transponder has this frequency
    const auto database = loaded(image);
    const int position = positionsOn(*database, kVertical).front();
    const ChannelRecord before = database->channels[database->channelOrder[position]];
    ASSERT_EQ(before.transponder, kNoTransponder);
    ChannelDatabase::ChannelValues values = valuesOf(before, 0, "Renamed");
    values.keepTuning = true;
    values.satellite = 99;
    ASSERT_EQ(database->editChannel(position, values), Result::Stored);
    const ChannelRecord& after = database->channels[database->channelOrder[position]];
    EXPECT_EQ(after.streamRef, before.streamRef);
    EXPECT_EQ(after.satellite, before.satellite);
    EXPECT_EQ(after.transponder, kNoTransponder);
    const Bytes saved = savedOver(*database, image);
    EXPECT_TRUE(std::equal(saved.begin() + kStreamTable, saved.begin() + kStreamTable + 24000, image.begin() + kStreamTable));
    EXPECT_EQ(loaded(saved)->channels[database->channelOrder[position]].streamRef, before.streamRef);
}

TEST(TransponderIdentity, ANewTransponderKeepsTheMarkOfItsFreeRecord)
{
    for (const std::uint8_t mark : {0x00, 0x5A}) {
        Bytes image = demoImage();
        image[transponderOffset(kDemoTransponders) + 7] = mark;
        const auto database = loaded(image);
        database->currentSatellite = 1;
        int index = -1;
        ASSERT_EQ(database->insertTransponder({1, 12000, 27500, 1, 0}, index), Result::Stored);
        ASSERT_EQ(index, kDemoTransponders);
        const Bytes saved = savedOver(*database, image);
        const std::uint8_t expected = mark != 0 ? 0xFF : 0x00;
        EXPECT_EQ(saved[transponderOffset(index) + 1], expected);
        EXPECT_EQ(saved[transponderOffset(index) + 7], expected);
    }
}

} // namespace
