// Transponder tables in and out: the two file forms, the import's rules, and the round trip.
#include "ChannelTestSupport.h"

#include <cstdlib>

#include "ChannelEditCommands.h"
#include "EditorLists.h"
#include "TransponderImport.h"
#include "TransponderTable.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

using Pol = TableTransponder::Polarization;

std::string channelBlock(const std::string& fields)
{
    return "[CHANNEL]\n" + fields + "\n";
}

TEST(TransponderTable, ReadsDvbv5AndRefusesWhatIsWrongAtItsLine)
{
    const struct {
        std::string text;
        std::vector<TableTransponder> expected; // empty: refused
        std::string error;
    } cases[] = {
        {"# Hotbird\n\n[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 10719000\n\tPOLARIZATION = VERTICAL\n"
         "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = 3/4\n\tINVERSION = AUTO\n",
         {{10719000, 27500000, Pol::Vertical, false, 3}}, ""},
        // No delivery system is DVB-S; section names are free; CR LF line ends; LEFT/RIGHT; DVBS2.
        {"[Sky 1]\r\nFREQUENCY=11719500\r\nSYMBOL_RATE=29900000\r\nPOLARIZATION=horizontal\r\n"
         "[x]\nDELIVERY_SYSTEM = DVBS2\nFREQUENCY = 11000000\nSYMBOL_RATE = 2000000\nPOLARIZATION = LEFT\n"
         "  # indented comment\n[y]\nFREQUENCY = 3\nSYMBOL_RATE = 4\nPOLARIZATION = RIGHT\nSTREAM_ID = 7\n",
         {{11719500, 29900000, Pol::Horizontal, false, 1}, {11000000, 2000000, Pol::Left, true, 5},
          {3, 4, Pol::Right, false, 11}},
         ""},
        {channelBlock("FREQUENCY = 1\nSYMBOL_RATE = 2"), {}, "line 1: the entry has no POLARIZATION"},
        {std::string("\n").append(channelBlock("FREQUENCY = 1\nPOLARIZATION = VERTICAL")), {},
         "line 2: the entry has no SYMBOL_RATE"},
        {channelBlock("SYMBOL_RATE = 2\nPOLARIZATION = VERTICAL"), {}, "line 1: the entry has no FREQUENCY"},
        {channelBlock("FREQUENCY = 11.7GHz"), {}, "line 2: FREQUENCY \"11.7GHz\" is not a number"},
        {channelBlock("SYMBOL_RATE = -5"), {}, "line 2: SYMBOL_RATE \"-5\" is not a number"},
        {channelBlock("FREQUENCY = 99999999999"), {}, "line 2: FREQUENCY \"99999999999\" is not a number"},
        {channelBlock("POLARIZATION = SIDEWAYS"), {}, "line 2: POLARIZATION \"SIDEWAYS\" is not one"},
        {channelBlock("DELIVERY_SYSTEM = DVBT"), {}, "line 2: DELIVERY_SYSTEM \"DVBT\" is not a satellite system"},
        {"FREQUENCY = 1\n", {}, "line 1: KEY = VALUE before the first [section]"},
        {"[CHANNEL\n", {}, "line 1: a section name without its closing ']'"},
        {"[CHANNEL]\njust words\n", {}, "line 2: neither a [section]"},
        {"# nothing\n\n", {}, "no transponder"},
        {"\x7f" "ELF\x01\x02", {}, "line 1: neither"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = TransponderTable::read(c.text);
        if (c.expected.empty()) {
            EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
            EXPECT_TRUE(result.satellites.empty());
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error;
        ASSERT_EQ(result.satellites.size(), 1u);
        EXPECT_EQ(result.satellites[0].transponders, c.expected);
        for (std::size_t i = 0; i < c.expected.size() && i < result.satellites[0].transponders.size(); ++i)
            EXPECT_EQ(result.satellites[0].transponders[i].line, c.expected[i].line);
    }
}

TEST(TransponderTable, ReadsSatellitesXmlAndRefusesWhatIsNotWellFormed)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made by hand -->\n<satellites>\n";
    const std::string good = head
        + "<sat name=\"Hot &amp; Bird &#49;3&#x2E;0E &lt;&gt;&quot;&apos;\" flags=\"0\" position=\"130\">\n"
          "  <transponder frequency=\"10719000\" symbol_rate=\"27500000\" polarization=\"1\" fec_inner=\"3\"/>\n"
          "  <!-- a comment --> <![CDATA[ <not an element> ]]>\n"
          "  <transponder frequency='11000000' symbol_rate='2000000' polarization='2' system='1' modulation='2'/>\n"
          "</sat>\n<sat name='West' position='-300'><transponder frequency=\"1\" symbol_rate=\"2\" polarization=\"0\">"
          "</transponder></sat>\n</satellites>\n";
    const auto ok = TransponderTable::read(good);
    ASSERT_TRUE(ok.ok()) << ok.error;
    ASSERT_EQ(ok.satellites.size(), 2u);
    EXPECT_EQ(ok.satellites[0].name, "Hot & Bird 13.0E <>\"'");
    EXPECT_EQ(ok.satellites[0].position, 130);
    EXPECT_EQ(ok.satellites[1].position, -300);
    EXPECT_EQ(ok.satellites[0].transponders,
              (std::vector<TableTransponder>{{10719000, 27500000, Pol::Vertical, false, 0},
                                             {11000000, 2000000, Pol::Left, true, 0}}));
    EXPECT_EQ(ok.satellites[0].transponders[1].line, 7);

    const struct {
        std::string body;
        std::string error;
    } refused[] = {
        {"<sat name=\"a\"><transponder symbol_rate=\"1\" polarization=\"0\"/></sat>", "line 4: <transponder> has no frequency"},
        {"<sat>\n<transponder frequency=\"1\" polarization=\"0\"/></sat>", "line 5: <transponder> has no symbol_rate"},
        {"<sat><transponder frequency=\"1\" symbol_rate=\"2\"/></sat>", "has no polarization"},
        {"<sat><transponder frequency=\"1e6\" symbol_rate=\"2\" polarization=\"0\"/></sat>", "frequency \"1e6\" is not one"},
        {"<sat><transponder frequency=\"1\" symbol_rate=\"2\" polarization=\"4\"/></sat>", "polarization \"4\" is not one"},
        {"<sat position=\"east\"></sat>", "position \"east\" is not a number"},
        {"<sat name=\"a & b\"></sat>", "line 4: '&' that starts no reference"},
        {"<sat name=\"&nbsp;\"></sat>", "unknown entity"},
        {"<sat name=\"&#0;\"></sat>", "character XML does not allow"},
        {"<sat name=a></sat>", "attribute value without quotes"},
        {"<sat name=\"a\" name=\"b\"></sat>", "attribute name twice"},
        {"<sat>\n\n</sad>", "line 6: </sad> closes <sat>"},
        {"<sat><transponder frequency=\"1\"", "line 5: a name was expected"},
        {"<!-- open", "comment is not closed"},
        {"<sat/></satellites><more/>", "text after the root element"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.body);
        const auto result = TransponderTable::read(head + c.body + (c.body.find("</satellites>") == std::string::npos ? "\n</satellites>\n" : ""));
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
    EXPECT_NE(TransponderTable::read("<channels/>").error.find("is not <satellites>"), std::string::npos);
    EXPECT_NE(TransponderTable::read("<!DOCTYPE x><satellites/>").error.find("line 1"), std::string::npos);
}

TEST(TransponderTable, PositionFromName)
{
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"HOTBIRD 13.0E", 130}, {"THOR 0.8W", -8}, {"ASTRA 19.2E", 192}, {"Hotbird-13.0E", 130},
        {"Intelsat-34.5W", -345}, {"AMOS 4W", -40}, {"EUTELSAT 7.0E ", 70}, {"Terrestrial", std::nullopt},
        {"SAT 01", std::nullopt}, {"X13.0E", std::nullopt}, {"A 13.05E", std::nullopt}, {"A 200.0E", std::nullopt},
    };
    for (const auto& [name, position] : cases)
        EXPECT_EQ(TransponderTable::positionFromName(name), position) << name;
}

// A table that meets every rule once, in the order the rules are tried.
TEST(TransponderImport, CountsEachSkipByItsFirstReasonAndAddsWhatNewAdds)
{
    const auto database = loaded(demoImage());
    ChannelEditCommands commands(*database);
    const TransponderRecord existing = database->transponders[database->satellites[1].transponderIndex[0]];
    const std::vector<TableTransponder> table = {
        {11719500, 27499500, Pol::Horizontal, false, 1}, // added as 11720 H 27500 (halves round up)
        {11720400, 27500400, Pol::Horizontal, false, 2}, // a repeat within the table once rounded
        {11720000, 27500000, Pol::Vertical, false, 3},   // polarity tells it apart: added
        {3499499, 2000000, Pol::Left, true, 4},          // circular before anything else
        {12000000, 30000000, Pol::Vertical, true, 5},    // DVB-S2
        {3499499, 2000000, Pol::Vertical, false, 6},     // 3499 MHz
        {12750499, 45000499, Pol::Vertical, false, 7},   // 12750 / 45000: the bounds are in
        {12000000, 1999499, Pol::Vertical, false, 8},    // 1999 kbaud
        {existing.frequency * 1000u, existing.symbolRate * 1000u, existing.polarity ? Pol::Horizontal : Pol::Vertical,
         false, 9},                                      // already on the satellite
    };
    database->currentSatellite = 4;
    const TransponderImportSummary summary = commands.importTransponders(1, table, false);
    EXPECT_EQ(summary.added, 3);
    EXPECT_EQ(summary.circular, 1);
    EXPECT_EQ(summary.dvbs2, 1);
    EXPECT_EQ(summary.outOfRange, 2);
    EXPECT_EQ(summary.duplicates, 2);
    EXPECT_EQ(summary.leftOut, 0);
    EXPECT_EQ(summary.text(), "Added 3 transponders.\nSkipped 1 circular, 1 DVB-S2, 2 out of range, 2 already there.\n"
                              "Left out for want of room: 0.");
    EXPECT_EQ(database->currentSatellite, 4) << "the editor's own current satellite is kept";

    // Exactly what "New" adds: the same records a database gets from the dialog's step.
    const auto byHand = loaded(demoImage());
    byHand->currentSatellite = 1;
    for (const ChannelDatabase::TransponderValues values :
         {ChannelDatabase::TransponderValues{1, 11720, 27500, 1, 0}, {1, 11720, 27500, 0, 0}, {1, 12750, 45000, 0, 0}}) {
        int index = -1;
        ASSERT_EQ(byHand->insertTransponder(values, index), ChannelDatabase::EditResult::Stored);
    }
    EXPECT_TRUE(database->transponders == byHand->transponders);
    EXPECT_TRUE(database->satellites == byHand->satellites);

    // One step of the history; saved, reloaded and listed it is still there.
    EXPECT_EQ(commands.undoLabel(), "Import Transponders");
    ASSERT_TRUE(commands.undo());
    EXPECT_EQ(listedTransponders(*database, kFilterSatellite, 1).size(), 8u);
    ASSERT_TRUE(commands.redo());
    const auto reloaded = loaded(savedOver(*database, demoImage()));
    const auto listed = listedTransponders(*reloaded, kFilterSatellite, 1);
    ASSERT_EQ(listed.size(), 11u);
    EXPECT_EQ(reloaded->transponders[listed.back()].frequency, 12750);

    // Satellite transponders have no place on the terrestrial slot.
    EXPECT_FALSE(commands.importTransponders(kTerrestrialSatellite, table, false).refusal.empty());
}

TEST(TransponderImport, StopsWhereThereIsNoRoomAndCountsTheRestLeftOut)
{
    const auto database = loaded(demoImage());
    std::vector<TableTransponder> table;
    for (std::uint32_t i = 0; i < 130; ++i)
        table.push_back({10700000 + i * 1000, 27500000, i == 125 ? Pol::Left : Pol::Vertical, i == 126, 0});
    // Satellite 5 starts empty: 128 fit beside the two skipped ones, and its list is then full.
    const TransponderImportSummary summary = importTransponders(*database, 5, table, false);
    EXPECT_EQ(summary.added, 128);
    EXPECT_EQ(summary.circular, 1);
    EXPECT_EQ(summary.dvbs2, 1);
    EXPECT_EQ(summary.leftOut, 0);
    const TransponderImportSummary more = importTransponders(*database, 5, std::vector<TableTransponder>{
        {4000000, 27500000, Pol::Left, false, 0}, {4001000, 27500000, Pol::Vertical, false, 0},
        {4002000, 27500000, Pol::Left, false, 0}}, false);
    EXPECT_EQ(more.circular, 1);
    EXPECT_EQ(more.added, 0);
    EXPECT_EQ(more.leftOut, 2) << "the entry without room and every later one";
    EXPECT_EQ(database->satellites[5].transponderCount, 128);
}

TEST(TransponderTable, ExportReadsBackToTheSameTable)
{
    const auto database = loaded(demoImage());
    const std::vector<SatelliteTable> exported = TransponderTable::fromDatabase(*database);
    ASSERT_EQ(exported.size(), 5u) << "the named satellites without the terrestrial slot";
    EXPECT_EQ(exported[1].name, "HOTBIRD 13.0E");
    EXPECT_EQ(exported[1].position, 130);
    EXPECT_EQ(exported[4].position, -8);
    for (const auto& text : {TransponderTable::writeDvbv5({&exported[1], 1}), TransponderTable::writeSatellitesXml(exported)}) {
        const auto read = TransponderTable::read(text);
        ASSERT_TRUE(read.ok()) << read.error;
        const SatelliteTable& hotbird = read.satellites[read.satellites.size() == 1 ? 0 : 1];
        EXPECT_EQ(hotbird.transponders, exported[1].transponders);
        // Imported into an empty satellite, the same table comes out again.
        const auto target = loaded(demoImage());
        EXPECT_EQ(importTransponders(*target, 5, hotbird.transponders, false).added, 8);
        EXPECT_EQ(TransponderTable::fromDatabase(*target, 5)[0].transponders, exported[1].transponders);
    }
}

// A standard parser reads the written satellites.xml back to the same table, names escaped.
TEST(TransponderTable, WrittenXmlIsWellFormedForAStandardParser)
{
    if (std::system("python3 -c 'import xml.etree.ElementTree' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3";
    const std::vector<SatelliteTable> tables = {
        {"A&B <\"Sat\"> 'x' \x05\xe9", 130, {{10719000, 27500000, Pol::Vertical, false, 0}}},
        {"West", -300, {{11000000, 2000000, Pol::Horizontal, false, 0}, {12000000, 3000000, Pol::Vertical, false, 0}}}};
    TempFolder folder;
    ASSERT_TRUE(TransponderTable::writeFile(folder.file("sat.xml"), TransponderTable::writeSatellitesXml(tables)));
    const std::string command =
        "python3 -c \"import sys, xml.etree.ElementTree as E\n"
        "for s in E.parse(sys.argv[1]).getroot():\n"
        "  print(s.get('name'), s.get('position'), *[(t.get('frequency'), t.get('symbol_rate'), t.get('polarization'), "
        "t.get('system'), t.get('fec_inner'), t.get('modulation')) for t in s])\" "
        + folder.file("sat.xml") + " > " + folder.file("out.txt");
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes out = readFile(folder.file("out.txt"));
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "A&B <\"Sat\"> 'x' .\xc3\xa9 130 ('10719000', '27500000', '1', '0', '0', '1')\n"
              "West -300 ('11000000', '2000000', '0', '0', '0', '1') ('12000000', '3000000', '1', '0', '0', '1')\n");
}

TEST(TransponderTable, ReadsEveryInstalledScanTable)
{
    const std::filesystem::path folder = "/usr/share/dvb/dvb-s";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "dtv-scan-tables is not installed";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto result = TransponderTable::readFile(entry.path().string());
        EXPECT_TRUE(result.ok()) << entry.path() << ": " << result.error;
        const auto database = loaded(demoImage());
        if (result.ok()) {
            EXPECT_EQ(importTransponders(*database, 5, result.satellites[0].transponders, true).refusal, "");
        }
        ++files;
    }
    EXPECT_GT(files, 300);
}

} // namespace
