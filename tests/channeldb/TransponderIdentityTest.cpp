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

// In the demo image transponder k and stream record k belong together, polarity k % 2.
constexpr int kDemoTransponders = 34;
constexpr int kVertical = 8;
constexpr int kHorizontal = 9;

std::size_t transponderOffset(int index) { return kTransponders + 8 * static_cast<std::size_t>(index); }
std::uint32_t refOf(int stream) { return 0xBFEC0000u + 20u * static_cast<std::uint32_t>(stream); }

// Transponder 9 and its stream record moved onto transponder 8's frequency and symbol
// rate: 8 vertical and 9 horizontal, like 11778 V and 11778 H.
Bytes twinImage()
{
    Bytes image = demoImage();
    std::copy_n(image.begin() + transponderOffset(kVertical) + 2, 4, image.begin() + transponderOffset(kHorizontal) + 2);
    std::copy_n(image.begin() + kStreamTable + 20 * kVertical + 12, 4, image.begin() + kStreamTable + 20 * kHorizontal + 12);
    return image;
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

ChannelDatabase::ChannelValues valuesOn(int transponder, const char* name)
{
    ChannelDatabase::ChannelValues values;
    values.satellite = 1;
    values.transponder = static_cast<std::uint16_t>(transponder);
    std::copy_n(name, std::strlen(name) + 1, values.name.begin());
    return values;
}

TEST(TransponderIdentity, LoadAndDeleteOneKeepTheTwinsApart)
{
    const auto twins = loaded(twinImage());
    const auto counts = [](const ChannelDatabase& database) {
        return std::pair{database.transponderChannelCounts[kVertical], database.transponderChannelCounts[kHorizontal]};
    };
    const auto onFile = std::pair{static_cast<std::uint32_t>(positionsOn(*twins, kVertical).size()),
                                  static_cast<std::uint32_t>(positionsOn(*twins, kHorizontal).size())};
    EXPECT_EQ(counts(*twins), onFile);
    EXPECT_EQ(counts(*loaded(savedOver(*twins, twinImage()))), onFile);

    // TV channel 0 (transponder 0) without a stream reference does not end the walk.
    Bytes image = twinImage();
    putBe32(image, channelOffset(0) + 24, 0);
    for (const int deleted : {kVertical, kHorizontal}) {
        const auto database = loaded(image);
        const auto result = database->deleteTransponder(deleted);
        EXPECT_EQ(result.channelsDeleted, static_cast<int>(deleted == kVertical ? onFile.first : onFile.second));
        EXPECT_FALSE(result.streamMissing);
        // Record 8 holds the twin that is left: the save moved 9 up when 8 went.
        EXPECT_EQ(loaded(savedOver(*database, image))->transponderChannelCounts[kVertical],
                  deleted == kVertical ? onFile.second : onFile.first);
    }
}

TEST(TransponderIdentity, EditAndInsertUseTheStreamRecordOfTheChosenTwin)
{
    const auto database = loaded(twinImage());
    const int horizontal = positionsOn(*database, kHorizontal).front();
    const int vertical = positionsOn(*database, kVertical).front();
    ASSERT_EQ(database->editChannel(horizontal, valuesOn(kHorizontal, "Renamed")), Result::Stored);
    ASSERT_EQ(database->editChannel(vertical, valuesOn(kHorizontal, "Moved")), Result::Stored);
    int added[2] = {-1, -1};
    ASSERT_EQ(database->insertChannel(false, valuesOn(kVertical, "New V"), added[0]), Result::Stored);
    ASSERT_EQ(database->insertChannel(false, valuesOn(kHorizontal, "New H"), added[1]), Result::Stored);
    EXPECT_EQ(database->streamCount, kDemoTransponders); // no new stream record

    const auto reloaded = loaded(savedOver(*database, twinImage()));
    const struct {
        int position, stream;
    } expected[] = {{horizontal, kHorizontal}, {vertical, kHorizontal}, {added[0], kVertical}, {added[1], kHorizontal}};
    for (const auto& e : expected) {
        const ChannelRecord& channel = reloaded->channels[reloaded->channelOrder[e.position]];
        EXPECT_EQ(channel.streamRef, refOf(e.stream)) << channel.name.data();
        EXPECT_EQ(channel.transponder, e.stream) << channel.name.data();
    }
}

TEST(TransponderIdentity, AStreamRecordNoChannelListsIsFoundAgainAfterAReload)
{
    auto database = loaded(demoImage());
    database->currentSatellite = 1;
    int added = -1;
    int position = -1;
    ASSERT_EQ(database->insertTransponder({1, 12000, 27500, 1, 0}, added), Result::Stored);
    ASSERT_EQ(database->insertChannel(false, valuesOn(added, "Lonely"), position), Result::Stored);
    // Its only channel moves away: the record stays in the table but leaves the list.
    ASSERT_EQ(database->editChannel(position, valuesOn(kVertical, "Lonely")), Result::Stored);
    const Bytes image = savedOver(*database, demoImage());
    database = loaded(image);
    ASSERT_LT(database->streamRefs.count, database->streamCount);

    ASSERT_EQ(database->editChannel(position, valuesOn(added, "Back")), Result::Stored);
    EXPECT_EQ(database->streamCount, kDemoTransponders + 1);
    EXPECT_EQ(loaded(savedOver(*database, image))->transponderChannelCounts[added], 1u);
}

TEST(TransponderIdentity, AnUnknownTransponderIsKeptByAnEditThatLeavesIt)
{
    Bytes image = demoImage();
    putBe16(image, kStreamTable + 20 * kVertical + 12, 11111); // no transponder has this frequency
    const auto database = loaded(image);
    const int position = positionsOn(*database, kVertical).front();
    const ChannelRecord before = database->channels[database->channelOrder[position]];
    ASSERT_EQ(before.transponder, kNoTransponder);
    ChannelDatabase::ChannelValues values = valuesOn(0, "Renamed");
    values.keepTuning = true;
    ASSERT_EQ(database->editChannel(position, values), Result::Stored);
    const Bytes saved = savedOver(*database, image);
    EXPECT_TRUE(std::equal(saved.begin() + kStreamTable, saved.begin() + kStreamTable + 24000, image.begin() + kStreamTable));
    const auto reloaded = loaded(saved);
    const ChannelRecord& after = reloaded->channels[reloaded->channelOrder[position]];
    EXPECT_EQ(std::string(after.name.data()), "Renamed");
    EXPECT_EQ(after.streamRef, before.streamRef);
    EXPECT_EQ(after.satellite, before.satellite);
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
        const Bytes saved = savedOver(*database, image);
        const std::uint8_t expected = mark != 0 ? 0xFF : 0x00;
        EXPECT_EQ(saved[transponderOffset(index) + 1], expected);
        EXPECT_EQ(saved[transponderOffset(index) + 7], expected);
    }
}

} // namespace
