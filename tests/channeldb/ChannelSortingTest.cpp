// Sorting, keyboard moves and duplicate finding on a channel list.
#include "ChannelTestSupport.h"

#include <cstring>
#include <numeric>

#include "EditorLists.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {


// The radio list's first rows, with names and ids set so the expected orders are plain.
std::vector<std::uint16_t> namedRows(ChannelDatabase& database, const std::vector<std::pair<const char*, int>>& channels)
{
    std::vector<std::uint16_t> rows;
    for (std::size_t row = 0; row < channels.size(); ++row) {
        const auto position = static_cast<std::uint16_t>(kDemoTv + row);
        ChannelRecord& channel = channelAt(database, position);
        channel.name.fill(0);
        std::strncpy(channel.name.data(), channels[row].first, channel.name.size() - 1);
        channel.serviceId = static_cast<std::uint16_t>(channels[row].second);
        rows.push_back(position);
    }
    return rows;
}

// The original row of the contents now behind each row, told by their audio pids, all different.
std::vector<int> orderOf(ChannelDatabase& database, const std::vector<std::uint16_t>& rows,
                         const std::vector<std::uint16_t>& pidOfRow)
{
    std::vector<int> order;
    for (const std::uint16_t position : rows) {
        const auto found = std::find(pidOfRow.begin(), pidOfRow.end(), channelAt(database, position).audioPid);
        order.push_back(static_cast<int>(found - pidOfRow.begin()));
    }
    return order;
}

std::vector<std::uint16_t> pidsOf(ChannelDatabase& database, const std::vector<std::uint16_t>& rows)
{
    std::vector<std::uint16_t> pids;
    for (const std::uint16_t position : rows)
        pids.push_back(channelAt(database, position).audioPid);
    return pids;
}

TEST(ChannelSorting, SortsTheSelectionOrTheWholeListStably)
{
    using Key = ChannelDatabase::SortKey;
    const struct {
        Key key;
        std::vector<int> selected;
        std::vector<int> order;
        std::vector<int> selectedAfter;
    } cases[] = {
        // Case does not count, a leading 0x05 is not part of the name, equal names keep their order.
        {Key::Name, {}, {1, 2, 0, 5, 3, 4}, {}},
        {Key::ServiceId, {}, {4, 1, 3, 2, 0, 5}, {}},
        {Key::Name, {0, 2, 3}, {2, 1, 0, 3, 4, 5}, {0, 2, 3}},
        {Key::Name, {3}, {1, 2, 0, 5, 3, 4}, {4}}, // one row: the whole list, the selection follows it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.selected));
        const auto database = loaded(demoImage());
        const auto rows = namedRows(*database, {{"beta", 30}, {"\x05" "Alpha", 10}, {"alpha", 20}, {"Gamma", 10},
                                                {"\xC9" "cole", 5}, {"delta", 40}});
        const auto pids = pidsOf(*database, rows);
        EXPECT_EQ(database->sortRows(rows, c.selected, c.key), c.selectedAfter);
        EXPECT_EQ(orderOf(*database, rows, pids), c.order);
        EXPECT_TRUE(database->modified);
    }

    const auto sorted = loaded(demoImage());
    const auto rows = namedRows(*sorted, {{"a", 1}, {"b", 2}});
    sorted->sortRows(rows, {}, Key::Name);
    EXPECT_FALSE(sorted->modified) << "a list already in order is not changed";
}

TEST(ChannelSorting, KeyboardMovesShiftTheSelection)
{
    using Shift = ChannelDatabase::Shift;
    const struct {
        Shift shift;
        std::vector<int> selected;
        std::vector<int> order;
        std::vector<int> selectedAfter;
    } cases[] = {
        {Shift::Up, {2, 3}, {0, 2, 3, 1, 4, 5, 6, 7}, {1, 2}},
        {Shift::Up, {0, 1, 4}, {0, 1, 2, 4, 3, 5, 6, 7}, {0, 1, 3}}, // the block at the top stays
        {Shift::Down, {6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}, {6, 7}},
        {Shift::Down, {1, 5}, {0, 2, 1, 3, 4, 6, 5, 7}, {2, 6}},
        {Shift::Top, {3, 5}, {3, 5, 0, 1, 2, 4, 6, 7}, {0, 1}},
        {Shift::Bottom, {0, 4}, {1, 2, 3, 5, 6, 7, 0, 4}, {6, 7}},
        {Shift::Top, {}, {0, 1, 2, 3, 4, 5, 6, 7}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.selected));
        const auto database = loaded(demoImage());
        std::vector<std::uint16_t> rows(8);
        std::iota(rows.begin(), rows.end(), static_cast<std::uint16_t>(kDemoTv));
        const auto pids = pidsOf(*database, rows);
        EXPECT_EQ(database->moveSelectedBy(rows, c.selected, c.shift), c.selectedAfter);
        EXPECT_EQ(orderOf(*database, rows, pids), c.order);
    }

    // A block moved up by one is what dragging it onto the row above does, favourites included.
    const auto keyed = loaded(demoImage());
    const auto dragged = loaded(demoImage());
    const auto rows = listedChannels(*keyed, kFilterAll, 0).tv;
    keyed->moveSelectedBy(rows, std::vector{4, 5, 6}, Shift::Up);
    dragged->moveSelectedRows(rows, std::vector{4, 5, 6}, 3);
    EXPECT_TRUE(savedOver(*keyed, demoImage()) == savedOver(*dragged, demoImage()));
}

TEST(ChannelSorting, DuplicatesHaveTheIdOfAnEarlierChannelOnTheirTransponder)
{
    const auto database = loaded(demoImage());
    // TV channel n is on transponder n % 34: 6, 40 and 74 share one, 7 does not.
    const std::uint16_t id = channelAt(*database, 6).serviceId;
    channelAt(*database, 40).serviceId = id;
    channelAt(*database, 74).serviceId = id;
    channelAt(*database, 7).serviceId = id;
    // Two channels whose stream record is missing prove nothing about each other.
    for (const std::uint16_t position : {100, 134}) {
        channelAt(*database, position).streamRef = 0xBFEC0000u + 20u * 1100u;
        channelAt(*database, position).serviceId = 7;
    }
    const auto rows = listedChannels(*database, kFilterAll, 0).tv;
    EXPECT_EQ(duplicateRows(*database, rows), (std::vector<int>{40, 74}));
    const std::vector<std::uint16_t> filtered = {74, 40, 7};
    EXPECT_EQ(duplicateRows(*database, filtered), (std::vector<int>{1}));
}

} // namespace
