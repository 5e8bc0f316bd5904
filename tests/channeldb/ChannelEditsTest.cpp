#include "ChannelTestSupport.h"

#include <numeric>
#include <string>

using namespace updatetool;
using namespace updatetool::test;

namespace {

constexpr int kDemoTransponders = 34; // TV channel n is on transponder n % 34

std::string nameAt(const ChannelDatabase& database, int position)
{
    const RecordName& name = database.channels[database.channelOrder[position]].name;
    return std::string(name.data(), std::find(name.begin(), name.end(), '\0'));
}

std::vector<std::uint16_t> positions(int first, int count)
{
    std::vector<std::uint16_t> rows(static_cast<std::size_t>(count));
    std::iota(rows.begin(), rows.end(), static_cast<std::uint16_t>(first));
    return rows;
}

TEST(ChannelEdits, DeletingChannelsKeepsCountsOrderAndFavouritesInStep)
{
    const auto database = loaded(demoImage());
    const std::string afterFirst = nameAt(*database, 1);
    const std::string firstRadio = nameAt(*database, kDemoTv);
    // Out of order and repeated, as a caller might pass them; the radio one is position 241.
    const int deleted[] = {kDemoTv + 1, 0, 5, 0};
    EXPECT_EQ(database->deleteChannelsAt(deleted), 3);

    EXPECT_EQ(database->tvCount, kDemoTv - 2);
    EXPECT_EQ(database->radioCount, kDemoRadio - 1);
    EXPECT_EQ(database->channelCount, kDemoTv + kDemoRadio - 3);
    EXPECT_EQ(database->deletedTvCount, 2);
    EXPECT_EQ(database->deletedRadioCount, 1);
    EXPECT_TRUE(database->modified);
    EXPECT_TRUE(database->channels[0].isDeleted());
    EXPECT_EQ(nameAt(*database, 0), afterFirst);
    EXPECT_EQ(nameAt(*database, kDemoTv - 2), firstRadio);
    EXPECT_EQ(database->channelOrder[kDemoTv + kDemoRadio - 3], 0xFFFF);
    // Every favourite member names a channel that is in the group.
    for (int group = 1; group <= kFavoriteGroupCount; ++group) {
        const FavoriteGroup& favorite = database->favorites[group - 1];
        for (std::uint32_t m = 0; m < favorite.count; ++m) {
            const bool radio = favorite.members[m] & 0x8000;
            const int position = (favorite.members[m] & 0x7FFF) + (radio ? database->tvCount : 0);
            EXPECT_TRUE(database->channels[database->channelOrder[position]].flags & channelflag::favorite(group));
        }
    }

    const auto reloaded = loaded(savedOver(*database, demoImage()));
    EXPECT_EQ(reloaded->tvCount, kDemoTv - 2);
    EXPECT_EQ(nameAt(*reloaded, 0), afterFirst);

    const int none[] = {-1, 9000};
    const auto untouched = loaded(demoImage());
    EXPECT_EQ(untouched->deleteChannelsAt(none), 0);
    EXPECT_FALSE(untouched->modified);
}

TEST(ChannelEdits, DeletingATransponderTakesItsChannelsAndItsListEntry)
{
    Bytes image = demoImage();
    // TV channel 2 points past the loaded stream records: its transponder cannot be told.
    putBe32(image, channelOffset(2) + 24, 0xBFEC0000u + 20u * 1100u);
    const auto database = loaded(image);
    const int transponder = 9; // the second of satellite 1
    const ChannelDatabase::TransponderDeletion result = database->deleteTransponder(transponder);

    EXPECT_TRUE(result.removed);
    EXPECT_TRUE(result.streamMissing);
    // TV channels 9, 43, 77, ... and radio channels whose (3m + 1) % 34 is 9.
    int expected = 0;
    for (int n = 0; n < kDemoTv; ++n)
        expected += n % kDemoTransponders == transponder;
    for (int m = 0; m < kDemoRadio; ++m)
        expected += (3 * m + 1) % kDemoTransponders == transponder;
    EXPECT_EQ(result.channelsDeleted, expected);
    EXPECT_EQ(database->channelCount, kDemoTv + kDemoRadio - expected);
    EXPECT_EQ(database->satellites[1].transponderCount, 7);
    EXPECT_EQ(database->satellites[1].transponderIndex[1], 10);
    EXPECT_EQ(database->satellites[1].transponderIndex[7], 0);
    EXPECT_EQ(database->transponders[transponder].frequency, kDeletedTransponderMark);
    EXPECT_EQ(database->transponders[transponder].symbolRate, kDeletedTransponderMark);

    // The save drops the record: no second copy of another transponder is left.
    const Bytes saved = savedOver(*database, image);
    expectCheckWordsValid(saved);
    const auto reloaded = loaded(saved);
    EXPECT_EQ(reloaded->usedTransponderCount(), kDemoTransponders - 1);
    EXPECT_EQ(reloaded->satellites[1].transponderIndex[1], 9);
    EXPECT_EQ(reloaded->transponders[9].frequency, database->transponders[10].frequency);
}

TEST(ChannelEdits, MovingOneRowMovesRecordContentsNotRows)
{
    const struct {
        int from, insertionPoint;
        std::vector<int> order; // original row of the contents now behind rows 0..6
    } cases[] = {
        {2, 5, {0, 1, 3, 4, 2, 5, 6}},
        {5, 2, {0, 1, 5, 2, 3, 4, 6}},
        {0, 7, {1, 2, 3, 4, 5, 6, 0}}, // below the last row
        {3, 3, {0, 1, 2, 3, 4, 5, 6}}, // onto itself
        {3, 4, {0, 1, 2, 3, 4, 5, 6}}, // just before the next row: where it is
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.insertionPoint));
        const auto database = loaded(demoImage());
        // Every other position, as a filtered list shows them: contents move between these slots only.
        std::vector<std::uint16_t> rows;
        for (int row = 0; row < 7; ++row)
            rows.push_back(static_cast<std::uint16_t>(2 * row));
        std::vector<std::string> before;
        for (const std::uint16_t position : rows)
            before.push_back(nameAt(*database, position));
        const std::string between = nameAt(*database, 1);

        const bool moved = database->moveRow(rows, c.from, c.insertionPoint);
        EXPECT_EQ(moved, c.order != std::vector<int>({0, 1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(database->modified, moved);
        for (int row = 0; row < 7; ++row)
            EXPECT_EQ(nameAt(*database, rows[row]), before[c.order[row]]) << "row " << row;
        EXPECT_EQ(nameAt(*database, 1), between);
        EXPECT_EQ(database->channelOrder[2], 2); // the order itself stays
    }
}

TEST(ChannelEdits, MovingASelectionKeepsItTogetherBeforeTheTarget)
{
    const struct {
        std::vector<int> selected;
        int target;
        std::vector<int> order;
        std::vector<int> selectedAfter;
    } cases[] = {
        {{1, 2}, 5, {0, 3, 4, 1, 2, 5, 6, 7}, {3, 4}},
        {{5, 6}, 1, {0, 5, 6, 1, 2, 3, 4, 7}, {1, 2}},
        {{1, 6}, 4, {0, 2, 3, 1, 6, 4, 5, 7}, {3, 4}},
        {{0, 3}, 8, {1, 2, 4, 5, 6, 7, 0, 3}, {6, 7}},  // below the last row
        {{1, 4}, 4, {0, 2, 1, 3, 4, 5, 6, 7}, {2, 4}},  // the target is selected: no block
        {{}, 3, {0, 1, 2, 3, 4, 5, 6, 7}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("target " + std::to_string(c.target));
        const auto database = loaded(demoImage());
        const std::vector<std::uint16_t> rows = positions(kDemoTv, 8); // the radio list
        std::vector<std::string> before;
        for (const std::uint16_t position : rows)
            before.push_back(nameAt(*database, position));
        EXPECT_EQ(database->moveSelectedRows(rows, c.selected, c.target), c.selectedAfter);
        for (int row = 0; row < 8; ++row)
            EXPECT_EQ(nameAt(*database, rows[row]), before[c.order[row]]) << "row " << row;
    }
}

TEST(ChannelEdits, FavouriteGroupsFollowMovedChannels)
{
    const auto database = loaded(demoImage());
    // TV channel 0 is in a favourite group (every fifth channel is).
    const std::uint16_t flags = database->channels[0].flags;
    int group = 1;
    while (!(flags & channelflag::favorite(group)))
        ++group;
    const FavoriteGroup& favorite = database->favorites[group - 1];
    ASSERT_EQ(favorite.members[0], 0);

    const std::vector<std::uint16_t> rows = positions(0, 4);
    const int selected[] = {0};
    database->moveSelectedRows(rows, selected, 4);
    EXPECT_EQ(favorite.members[0], 3);

    const auto reloaded = loaded(savedOver(*database, demoImage()));
    EXPECT_EQ(reloaded->favorites[group - 1].members[0], 3);
    EXPECT_EQ(nameAt(*reloaded, 3), nameAt(*database, 3));
}

} // namespace
