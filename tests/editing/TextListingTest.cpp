#include "ChannelTestSupport.h"

#include <sstream>

#include "TextListing.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

const std::string kHeading =
    "Satellite        | Freq. | Pol | Sr    | Channel          | V PID | A PID | P PID | P No.\r\n"
    "---------------|-------|-----|-------|------------------|-------|-------|-------|------\r\n";

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

RecordName nameOf(std::string_view text)
{
    RecordName name{};
    std::copy_n(text.begin(), std::min(text.size(), name.size()), name.begin());
    return name;
}

TEST(TextListing, UnloadedDatabaseGivesOnlyTheHeadingLines)
{
    const auto database = std::make_unique<ChannelDatabase>();
    EXPECT_EQ(channelListingText(*database), kHeading);
}

TEST(TextListing, LoadedImageListsEverySlot)
{
    const auto database = loaded(demoImage());
    const std::string text = channelListingText(*database);
    ASSERT_EQ(text.substr(0, kHeading.size()), kHeading);
    const auto lines = linesOf(text);
    ASSERT_EQ(lines.size(), 2u + 9000u);
    EXPECT_EQ(lines[2], "ASTRA 19.2E      | 10714 | Ver | 22000 | News 24 1        |   256 |   257 |   256 |   256");
    EXPECT_EQ(lines[4], "ASTRA 19.2E      | 10788 | Ver | 29900 | \x05Kanal Sieben    |   258 |   259 |   258 |   258");
    // A slot without a channel: nothing from outside the tables, the slot's own values.
    EXPECT_EQ(lines[2 + 240], "                 |       |     |       |                  | 65535 | 65535 | 65535 | 65535");
    // Radio slots follow in slot order.
    EXPECT_EQ(lines[2 + 7000].substr(0, 17), "ASTRA 19.2E      ");
}

TEST(TextListing, CellsAreCutAndPadded)
{
    const struct {
        const char* what;
        std::uint8_t satellite;
        std::string_view satelliteName, channelName;
        std::uint16_t frequency, symbolRate;
        std::uint8_t polarity, priority;
        std::uint16_t transponder;
        std::string expected;
    } cases[] = {
        {"satellite", 0, "SAT", "Ch", 11362, 22000, 1, 0, 0,
         "SAT              | 11362 | Hor | 22000 | Ch               |   512 |    80 |   513 |     7"},
        {"names of 16 bytes", 0, "ABCDEFGHIJKLMNOP", "abcdefghijklmnop", 9750, 0, 0, 0, 0,
         "ABCDEFGHIJKLMNOP |  9750 | Ver |     0 | abcdefghijklmnop |   512 |    80 |   513 |     7"},
        {"terrestrial HP", 127, "DVB-T", "T", 4745, 21, 0, 0, 0,
         "DVB-T            | CH21  | HP  |   474 | T                |   512 |    80 |   513 |     7"},
        {"terrestrial LP", 127, "DVB-T", "T", 8580, 68, 0, 1, 0,
         "DVB-T            | CH68  | LP  |   858 | T                |   512 |    80 |   513 |     7"},
        {"terrestrial Auto", 127, "DVB-T", "T", 4745, 21, 0, 2, 0,
         "DVB-T            | CH21  | Aut |   474 | T                |   512 |    80 |   513 |     7"},
        {"terrestrial priority 3", 127, "DVB-T", "T", 10, 5, 0, 3, 0,
         "DVB-T            | CH5   | Aut |     1 | T                |   512 |    80 |   513 |     7"},
        {"no transponder", 0, "SAT", "Lost", 11362, 22000, 1, 0, kNoTransponder,
         "SAT              |       |     |       | Lost             |   512 |    80 |   513 |     7"},
        {"no satellite", 255, "", "Lost", 11362, 22000, 1, 0, kNoTransponder,
         "                 |       |     |       | Lost             |   512 |    80 |   513 |     7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto database = std::make_unique<ChannelDatabase>();
        database->channelSlots = 1;
        if (c.satellite < kSatelliteCapacity)
            database->satellites[c.satellite].name = nameOf(c.satelliteName);
        TransponderRecord& transponder = database->transponders[0];
        transponder.satellite = c.satellite;
        transponder.frequency = c.frequency;
        transponder.symbolRate = c.symbolRate;
        transponder.polarity = c.polarity;
        transponder.priority = c.priority;
        ChannelRecord& channel = database->channels[0];
        channel.satellite = c.satellite;
        channel.transponder = c.transponder;
        channel.name = nameOf(c.channelName);
        channel.videoPid = 512;
        channel.audioPid = 80;
        channel.pcrPid = 513;
        channel.serviceId = 7;
        const auto lines = linesOf(channelListingText(*database));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], c.expected);
    }
}

TEST(TextListing, WritesTheFileByteForByte)
{
    TempFolder folder;
    const auto database = loaded(demoImage());
    const std::string path = folder.file("list.txt");
    ASSERT_TRUE(writeChannelListing(*database, path));
    const Bytes written = readFile(path);
    const std::string expected = channelListingText(*database);
    EXPECT_EQ(std::string(written.begin(), written.end()), expected);
    EXPECT_FALSE(writeChannelListing(*database, folder.file("missing-folder/list.txt")));
}

TEST(TextListing, FullListingIsFast)
{
    const auto database = loaded(fullImage());
    const auto start = std::chrono::steady_clock::now();
    const std::string text = channelListingText(*database);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(linesOf(text).size(), 9002u);
    // Generous against sanitizer builds; the benchmark measures the real figure.
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(TextListing, PathGetsTxtUnlessItHasIt)
{
    const struct {
        const char* chosen;
        const char* expected;
    } cases[] = {
        {"/home/tech/list", "/home/tech/list.TXT"},
        {"/home/tech/list.txt", "/home/tech/list.txt"},
        {"/home/tech/list.Txt", "/home/tech/list.Txt"},
        {"/home/tech/list.TXT", "/home/tech/list.TXT"},
        {"/home/tech/list.doc", "/home/tech/list.doc.TXT"},
        {"/home/tech/list.", "/home/tech/list..TXT"},
        {"/home/tech/list.tx", "/home/tech/list.tx.TXT"},
        {"/home/tech/list.txtx", "/home/tech/list.txtx.TXT"},
        {"/home/tech.txt/list", "/home/tech.txt/list.TXT"},
        {"list.old.txt", "list.old.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(listingPathFor(c.chosen), c.expected) << c.chosen;
}

} // namespace
