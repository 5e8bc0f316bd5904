// The CSV export, reading it back, and reordering a list after a reference.
#include "ChannelTestSupport.h"

#include <cstring>

#include "ChannelCsv.h"
#include "EditorLists.h"
#include "ReferenceOrder.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {


void rename(ChannelRecord& channel, const char* name)
{
    channel.name.fill(0);
    std::strncpy(channel.name.data(), name, channel.name.size() - 1);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

TEST(ChannelCsv, WritesOneRowPerChannelInChannelOrder)
{
    const auto database = loaded(demoImage());
    rename(channelAt(*database, 1), "Caf\xE9, \"Bar\"");
    channelAt(*database, 5).streamRef = 0xBFEC0000u + 20u * 1100u; // no transponder to be found

    const std::string text = channelCsvText(*database);
    ASSERT_TRUE(text.ends_with("\r\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 1u + 240u + 60u);
    const struct {
        std::size_t line;
        std::string text;
    } expected[] = {
        {0, "list,number,name,satellite,frequency,polarity,symbol rate,video PID,audio PID,PCR PID,Ch. ID,scrambled,"
            "locked,favourites"},
        {1, "TV,1,News 24 1,ASTRA 19.2E,10714,VER,22000,256,257,256,256,0,0,1"},
        {2, "TV,2,\"Caf\xC3\xA9, \"\"Bar\"\"\",ASTRA 19.2E,10751,HOR,27500,257,258,257,257,0,0,"},
        {3, "TV,3,Kanal Sieben,ASTRA 19.2E,10788,VER,29900,258,259,258,258,0,0,"}, // 0x05 dropped
        {4, "TV,4,Kids 1,ASTRA 19.2E,10825,HOR,30000,259,260,259,259,1,0,"},
        {31, "TV,31,Shop 3,Terrestrial,474.5,Auto,21,286,287,286,286,0,0,7"},
        {241, "Radio,1,Radio Pop 1,ASTRA 19.2E,10751,HOR,27500,8191,4353,4353,16384,0,0,4"},
    };
    for (const auto& row : expected)
        EXPECT_EQ(lines[row.line], row.text);
    EXPECT_NE(lines[6].find(",,,,"), std::string::npos) << "empty tuning cells: " << lines[6];

    // Locked channels and several groups, as the flags hold them.
    ChannelRecord& flagged = channelAt(*database, kDemoTv);
    flagged.flags |= channelflag::kLocked | channelflag::favorite(1) | channelflag::favorite(3);
    flagged.flags &= static_cast<std::uint16_t>(~channelflag::favorite(4));
    EXPECT_TRUE(linesOf(channelCsvText(*database))[241].ends_with(",1,1 3"));
}

TEST(ChannelCsv, ReadsBackWhatItWrote)
{
    const auto database = loaded(demoImage());
    rename(channelAt(*database, 1), "Caf\xE9, \"Bar\"");
    rename(channelAt(*database, 2), "Line\nbreak");
    ReferenceLists lists;
    std::string error;
    ASSERT_TRUE(readChannelCsv(channelCsvText(*database), lists, error)) << error;
    const ReferenceLists expected = referenceListsOf(*database);
    EXPECT_TRUE(lists.tv == expected.tv);
    EXPECT_TRUE(lists.radio == expected.radio);
    EXPECT_EQ(lists.tv[1].name, "Caf\xE9, \"Bar\"");

    // Only the three columns matter, wherever they stand; LF line ends and a BOM are fine.
    ASSERT_TRUE(readChannelCsv("\xEF\xBB\xBF" "Ch. ID,name,list\n7,Eins,TV\n9,\"Zwei\",Radio\n\n", lists, error)) << error;
    EXPECT_TRUE(lists.tv == (std::vector<ReferenceEntry>{{"Eins", 7}}));
    EXPECT_TRUE(lists.radio == (std::vector<ReferenceEntry>{{"Zwei", 9}}));
}

TEST(ChannelCsv, MalformedFilesAreRefusedWithTheLine)
{
    struct Case {
        std::string text;
        std::string error;
    };
    std::vector<Case> cases_ = {
        {"", "empty"},
        {"QVCH\x01\x02", "not a channel CSV file"},
        {"list,name\r\nTV,One\r\n", "not a channel CSV file"},
        {"list,name,Ch. ID\r\nTV,One\r\n", "line 2: only 2 cells"},
        {"list,name,Ch. ID\r\nTV,One,1\r\nSat,Two,2\r\n", "line 3: the list is \"Sat\""},
        {"list,name,Ch. ID\r\nTV,One,70000\r\n", "line 2: the Ch. ID \"70000\""},
        {"list,name,Ch. ID\r\nTV,One,x1\r\n", "line 2: the Ch. ID"},
        {"list,name,Ch. ID\r\nTV,One,\r\n", "line 2: the Ch. ID"},
        {"list,name,Ch. ID\r\nTV,\"One\r\n", "line 2: a quoted cell is not closed"},
        {"list,name,Ch. ID\r\nTV,\"On\"e,1\r\n", "line 2: text after a closing quote"},
        {"list,name,Ch. ID\r\nTV,O\"ne,1\r\n", "line 2: a quote inside"},
        {"list,name,Ch. ID\r\nTV,\"a\nb\",1\r\nRadio,\xFF,2\r\n", "line 4: the name is not UTF-8"},
    };
    std::string tooManyRows = "list,name,Ch. ID\n";
    for (int row = 0; row < 2001; ++row)
        tooManyRows += "Radio,R,1\n";
    for (const auto& c : std::initializer_list<std::pair<std::string, std::string>>{
             {tooManyRows, "line 2002: more Radio rows than the 2000 the list can hold"},
             {"list,name,Ch. ID\n" + std::string(300, ','), "line 2: more than 256 cells"},
         })
        cases_.push_back({c.first, c.second});
    for (const auto& c : cases_) {
        SCOPED_TRACE(c.text.substr(0, 60));
        ReferenceLists lists;
        std::string error;
        EXPECT_FALSE(readChannelCsv(c.text, lists, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// Blank lines cost nothing: a file of nothing else is read in bounded memory.
TEST(ChannelCsv, BlankLinesAreSkippedWithoutBeingKept)
{
    const std::string text = "list,name,Ch. ID\n" + std::string(20u << 20, '\n') + "TV,One,1\n";
    ReferenceLists lists;
    std::string error;
    ASSERT_TRUE(readChannelCsv(text, lists, error)) << error;
    ASSERT_EQ(lists.tv.size(), 1u);
    EXPECT_EQ(lists.tv.front().name, "One");
}

TEST(ReferenceOrder, AReorderedCopyGetsTheOriginalOrderBack)
{
    const auto original = loaded(demoImage());
    ReferenceLists reference;
    std::string error;
    ASSERT_TRUE(readChannelCsv(channelCsvText(*original), reference, error)) << error;

    const auto copy = loaded(demoImage());
    const ListedChannels rows = listedChannels(*copy, kFilterAll, 0);
    copy->sortRows(rows.tv, {}, ChannelDatabase::SortKey::Name);
    copy->moveSelectedBy(rows.radio, std::vector{0, 1, 2}, ChannelDatabase::Shift::Bottom);
    ASSERT_FALSE(savedOver(*copy, demoImage()) == demoImage());

    const ReferenceOrderSummary tv = applyReferenceOrder(*copy, rows.tv, reference.tv);
    const ReferenceOrderSummary radio = applyReferenceOrder(*copy, rows.radio, reference.radio);
    EXPECT_EQ(tv.matched, 240);
    EXPECT_EQ(radio.matched, 60);
    EXPECT_EQ(tv.unmatched + tv.ignored + radio.unmatched + radio.ignored, 0);
    EXPECT_TRUE(savedOver(*copy, demoImage()) == demoImage());
}

TEST(ReferenceOrder, MatchesNameAndIdFirstThenNameAlone)
{
    const struct {
        std::vector<ReferenceEntry> channels;
        std::vector<ReferenceEntry> reference;
        std::vector<int> order; // original row of the contents now behind each row
        int matched, unmatched, ignored;
    } cases[] = {
        {{{"A", 1}, {"B", 2}, {"A", 3}, {"C", 4}}, {{"A", 3}, {"C", 9}, {"D", 5}, {"A", 1}}, {2, 3, 0, 1}, 3, 1, 1},
        // The second A/2 finds its own id taken and falls back to the name.
        {{{"A", 1}, {"A", 2}}, {{"A", 2}, {"A", 2}}, {1, 0}, 2, 0, 0},
        // An exact match later in the reference wins over an earlier name-only one.
        {{{"A", 1}, {"A", 2}, {"X", 3}}, {{"A", 9}, {"A", 1}}, {1, 0, 2}, 2, 1, 0},
        {{{"A", 1}, {"B", 2}}, {}, {0, 1}, 0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.order));
        const auto database = loaded(demoImage());
        std::vector<std::uint16_t> rows;
        for (std::size_t row = 0; row < c.channels.size(); ++row) {
            const auto position = static_cast<std::uint16_t>(kDemoTv + row);
            rename(channelAt(*database, position), c.channels[row].name.c_str());
            channelAt(*database, position).serviceId = c.channels[row].serviceId;
            rows.push_back(position);
        }
        std::vector<std::uint16_t> pids;
        for (const std::uint16_t position : rows)
            pids.push_back(channelAt(*database, position).audioPid);

        const ReferenceOrderSummary summary = applyReferenceOrder(*database, rows, c.reference);
        std::vector<int> order;
        for (const std::uint16_t position : rows)
            order.push_back(static_cast<int>(
                std::find(pids.begin(), pids.end(), channelAt(*database, position).audioPid) - pids.begin()));
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(summary.matched, c.matched);
        EXPECT_EQ(summary.unmatched, c.unmatched);
        EXPECT_EQ(summary.ignored, c.ignored);
    }
}

} // namespace
