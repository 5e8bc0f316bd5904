// The channel commands of updatetool-cli, run as a user would run them.
#include "ChannelTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "ChannelCsv.h"
#include "EditorLists.h"
#include "FileLock.h"
#include "TextListing.h"
#include "TransponderTable.h"

extern char** environ;

using namespace updatetool;
using namespace updatetool::test;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

std::string textOf(const std::string& path)
{
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class ChannelCommands : public testing::Test {
protected:
    void SetUp() override
    {
        writeFile(folder.file("channels.img"), demoImage());
        writeFile(folder.file("received.img"), samples::receivedChannelImage());
        writeFile(folder.file("app.img"), samples::applicationImage());
        writeFile(folder.file("boot.img"), samples::bootImage());
        writeFile(folder.file("tiny.img"), Bytes{'Q', 'V'});
        const Bytes& demo = demoImage();
        writeFile(folder.file("short.img"), Bytes(demo.begin(), demo.begin() + 500000));
        ::mkfifo(folder.file("fifo.img").c_str(), 0600);
    }

    CliRun run(std::vector<std::string> args, bool cli = true)
    {
        if (cli)
            args.insert(args.begin(), UPDATETOOL_CLI);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string outPath = folder.file("stdout"), errPath = folder.file("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        CliRun result;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return result;
        int wait = 0;
        ::waitpid(pid, &wait, 0);
        result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
        result.out = textOf(outPath);
        result.err = textOf(errPath);
        return result;
    }

    std::string at(const char* name) const { return folder.file(name); }

    TempFolder folder;
};

TEST_F(ChannelCommands, StatusesAndMessages)
{
    const struct {
        std::vector<std::string> args;
        int status;
        std::string inStdout, inStderr;
    } cases[] = {
        {{"channels"}, 64, "", "subcommand"},
        {{"channels", "info"}, 64, "", "IMAGE"},
        {{"channels", "list", at("channels.img")}, 64, "", "unknown command 'list'"},
        {{"channels", "export-text", at("channels.img")}, 64, "", "OUTPUT"},
        {{"samples"}, 64, "", "DIR"},
        {{"channels", "info", at("missing.img")}, 4, "", "Can't open file"},
        {{"channels", "info", folder.path().string()}, 4, "", "Can't open file"},
        {{"channels", "info", at("app.img")}, 4, "", "Invalid Channel File"},
        {{"channels", "info", at("boot.img")}, 4, "", "Invalid Channel File"},
        {{"channels", "info", at("tiny.img")}, 4, "", "Invalid Channel File"},
        {{"channels", "resave", at("app.img")}, 4, "", "Invalid Channel File"},
        {{"channels", "resave", at("short.img")}, 4, "", "it has 500,000 bytes; a channel image has 851,984"},
        {{"channels", "info", at("short.img")}, 4, "", "it has 500,000 bytes; a channel image has 851,984"},
        {{"channels", "info", at("fifo.img")}, 4, "", "Not a regular file"},
        {{"channels", "apply-order", at("channels.img"), at("short.img")}, 4, "", "not a whole channel image"},
        {{"channels", "apply-order", at("channels.img"), at("fifo.img")}, 2, "", "Not a regular file"},
        {{"channels", "export-text", at("channels.img"), at("no/such/folder.txt")}, 2, "", "Could not write"},
        // An export over its own image is refused before either file is touched.
        {{"channels", "export-text", at("channels.img"), at("channels.img")}, 64, "", "is the channel image itself"},
        {{"channels", "export-csv", at("channels.img"), at("image-link.img")}, 64, "", "is the channel image itself"},
        {{"channels", "export-csv", at("channels.img"), "/dev/full"}, 2, "", "Could not write \"/dev/full\": No space left on device"},
        {{"channels", "info", at("channels.img")}, 0, "TV channels: 240\nRadio channels: 60\n", ""},
        {{"channels", "info", at("received.img")}, 0, "  127  Terrestrial", ""},
        {{"channels", "export-text", "--help"}, 0, "channels export-text [OPTIONS] IMAGE OUTPUT", ""},
        {{"channels", "apply-order", "-h"}, 0, "--no-backup", ""},
        {{"channels", "export-csv", at("channels.img")}, 64, "", "OUTPUT"},
        {{"channels", "export-csv", at("channels.img"), at("no/such/folder.csv")}, 2, "", "Could not write"},
        {{"channels", "apply-order", at("channels.img")}, 64, "", "REFERENCE"},
        {{"channels", "apply-order", at("channels.img"), at("missing.csv")}, 2, "", "No such file or directory"},
        {{"channels", "apply-order", at("channels.img"), at("app.img")}, 4, "", "neither a channel image nor a channel CSV file"},
        {{"channels", "apply-order", at("app.img"), at("channels.img")}, 4, "", "Invalid Channel File"},
        {{"channels", "resave", "--no-backup"}, 64, "", "IMAGE"},
    };
    std::filesystem::create_symlink(at("channels.img"), at("image-link.img"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : std::string()));
        const CliRun result = run(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.out.find(c.inStdout), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.inStderr), std::string::npos) << result.err;
    }
    EXPECT_TRUE(readFile(at("channels.img")) == demoImage());
}

TEST_F(ChannelCommands, InfoCountsEverything)
{
    const CliRun result = run({"channels", "info", at("channels.img")});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* line : {"Satellites: 6\n", "    0  ASTRA 19.2E", "Transponders: 34\n", "Stream records: 34\n",
                             "Favourites: 9 8 8 9 9 9 8 (groups 1-7)\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << " missing in\n" << result.out;
}

TEST_F(ChannelCommands, ExportTextWritesTheListingToThePathAsGiven)
{
    const CliRun result = run({"channels", "export-text", at("channels.img"), at("listing")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(textOf(at("listing")), channelListingText(*loaded(demoImage())));
}

TEST_F(ChannelCommands, ResaveReproducesTheImage)
{
    const CliRun result = run({"channels", "resave", at("channels.img")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(readFile(at("channels.img")) == demoImage());
    EXPECT_TRUE(readFile(at("short.img")).size() == 500000u);
}

// While another program edits the image, a command that would rewrite it changes nothing;
// the editor's own save moves its lock to the new file, so the lock still holds after it.
TEST_F(ChannelCommands, ALockedImageIsLeftAlone)
{
    channelfile::FileLock editing;
    ASSERT_EQ(editing.acquire(at("channels.img")), channelfile::FileLock::Result::Locked);
    auto database = loaded(demoImage());
    database->filePath = at("channels.img");
    database->saveOptions.lock = &editing;
    database->channels[0].name[0] = 'Z';
    ASSERT_TRUE(database->save());
    const Bytes saved = readFile(at("channels.img"));

    for (const char* command : {"resave", "apply-order"}) {
        std::vector<std::string> args{"channels", command, at("channels.img")};
        if (std::string_view(command) == "apply-order")
            args.push_back(at("received.img"));
        const CliRun result = run(args);
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_NE(result.err.find("is being edited by another program"), std::string::npos) << result.err;
        EXPECT_TRUE(readFile(at("channels.img")) == saved) << command;
    }
    editing.release();
    EXPECT_EQ(run({"channels", "resave", "--no-backup", at("channels.img")}).status, 0);
}

TEST_F(ChannelCommands, ExportCsvWritesTheEditorsCsv)
{
    const CliRun result = run({"channels", "export-csv", at("channels.img"), at("channels.csv")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(textOf(at("channels.csv")), channelCsvText(*loaded(demoImage())));
}

TEST_F(ChannelCommands, ApplyOrderPutsAReorderedCopyBackAndKeepsABackup)
{
    const auto reordered = loaded(demoImage());
    const ListedChannels rows = listedChannels(*reordered, kFilterAll, 0);
    reordered->sortRows(rows.tv, {}, ChannelDatabase::SortKey::Name);
    reordered->sortRows(rows.radio, {}, ChannelDatabase::SortKey::Name);
    const Bytes shuffled = savedOver(*reordered, demoImage());
    writeFile(at("copy.img"), shuffled);

    // The reference as an image and as the CSV of the shuffled file's original.
    ASSERT_EQ(run({"channels", "export-csv", at("channels.img"), at("channels.csv")}).status, 0);
    for (const char* reference : {"channels.img", "channels.csv"}) {
        SCOPED_TRACE(reference);
        writeFile(at("copy.img"), shuffled);
        std::filesystem::remove(at("copy.img.bak"));
        const CliRun result = run({"channels", "apply-order", at("copy.img"), at(reference)});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "TV: 240 matched, 0 unmatched, 0 ignored\nRadio: 60 matched, 0 unmatched, 0 ignored\n");
        // The channel records and the favourite groups as they were; the list of stream
        // references keeps the order the shuffled file's load gave it.
        const Bytes restored = readFile(at("copy.img"));
        ASSERT_EQ(restored.size(), kImageSize);
        EXPECT_TRUE(std::equal(restored.begin() + kChannelTable, restored.begin() + kStreamTable,
                               demoImage().begin() + kChannelTable));
        EXPECT_TRUE(std::equal(restored.begin() + kFavorites, restored.begin() + kFavorites + 2128,
                               demoImage().begin() + kFavorites));
        EXPECT_TRUE(readFile(at("copy.img.bak")) == shuffled);
    }
}

TEST_F(ChannelCommands, ResaveKeepsABackupUnlessToldNot)
{
    const Bytes old = {'o', 'l', 'd'};
    writeFile(at("channels.img.bak"), old);
    ASSERT_EQ(run({"channels", "resave", "--no-backup", at("channels.img")}).status, 0);
    EXPECT_TRUE(readFile(at("channels.img.bak")) == old);
    ASSERT_EQ(run({"channels", "resave", at("channels.img")}).status, 0);
    EXPECT_TRUE(readFile(at("channels.img.bak")) == demoImage());

    // A backup that cannot be written stops the save.
    std::filesystem::remove(at("channels.img.bak"));
    std::filesystem::create_directory(at("channels.img.bak"));
    const CliRun failed = run({"channels", "resave", at("channels.img")});
    EXPECT_EQ(failed.status, 2);
    EXPECT_NE(failed.err.find("updatetool-cli: " + at("channels.img.bak") + ": Is a directory\n"), std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find("could not write the backup copy"), std::string::npos) << failed.err;
}

TEST_F(ChannelCommands, AnExportBeyondTheFileSizeLimitFailsWithItsReasonAndKeepsTheOldFile)
{
    writeFile(at("list.csv"), Bytes{'o', 'l', 'd'});
    // ulimit -f counts 512-byte blocks: the CSV is far larger than one.
    const CliRun result = run({"/bin/sh", "-c", "ulimit -f 1 && exec \"$0\" \"$@\"", UPDATETOOL_CLI, "channels",
                               "export-csv", at("channels.img"), at("list.csv")},
                              false);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("Could not write \"" + at("list.csv") + "\": File too large"), std::string::npos)
        << result.err;
    EXPECT_EQ(textOf(at("list.csv")), "old");
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
}

TEST_F(ChannelCommands, SamplesWritesEveryImage)
{
    const CliRun result = run({"samples", at("demo")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(readFile(at("demo/channels.img")) == demoImage());
    EXPECT_EQ(readFile(at("demo/channels-full.img")).size(), kImageSize);
    const Bytes app = readFile(at("demo/app.img"));
    ASSERT_GE(app.size(), 104u);
    EXPECT_EQ(std::string(app.begin(), app.begin() + 4), "VORN");
    EXPECT_EQ(app[12], 0);
    EXPECT_EQ(app[13], 0);
    EXPECT_EQ(textOf(at("demo/boot.img")).substr(0, 4), "QVBT");

    // A real image of a sample's name is never replaced by a demo one unasked.
    writeFile(at("demo/app.img"), Bytes{'r', 'e', 'a', 'l'});
    const CliRun refused = run({"samples", at("demo")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("app.img already exists"), std::string::npos) << refused.err;
    EXPECT_EQ(textOf(at("demo/app.img")), "real");
    EXPECT_EQ(run({"samples", "--force", at("demo")}).status, 0);
    EXPECT_EQ(textOf(at("demo/app.img")).substr(0, 4), "VORN");
}

} // namespace

TEST_F(ChannelCommands, TransponderTablesAndDiffAsAUserRunsThem)
{
    const auto writeText = [&](const char* name, const std::string& text) {
        writeFile(at(name), Bytes(text.begin(), text.end()));
    };
    writeText("Test-9.0E", "# two entries\n[CHANNEL]\nFREQUENCY = 11719500\nSYMBOL_RATE = 27500000\n"
                           "POLARIZATION = HORIZONTAL\n[CHANNEL]\nDELIVERY_SYSTEM = DVBS2\nFREQUENCY = 12000000\n"
                           "SYMBOL_RATE = 27500000\nPOLARIZATION = VERTICAL\n");
    writeText("bad", "[CHANNEL]\nFREQUENCY = 11719500\nSYMBOL_RATE = fast\n");
    writeText("two.xml", "<satellites><sat name='A' position='-300'><transponder frequency='11000000' "
                         "symbol_rate='2000000' polarization='0'/></sat><sat name='B' position='130'/></satellites>");
    const Bytes before = demoImage();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string inStdout, inStderr;
    } cases[] = {
        {{"channels", "import-transponders", at("channels.img"), "--satellite", "1", at("bad")}, 4, "",
         "line 3: SYMBOL_RATE \"fast\" is not a number; nothing was changed"},
        {{"channels", "import-transponders", at("channels.img"), "--satellite", "0", at("two.xml")}, 4, "", "no <sat> at position 192"},
        {{"channels", "import-transponders", at("channels.img"), "--satellite", "200", at("Test-9.0E")}, 64, "", "no satellite 200"},
        {{"channels", "import-transponders", at("channels.img"), at("Test-9.0E")}, 64, "", "--satellite"},
        {{"channels", "diff", at("channels.img"), at("channels.img")}, 0, "", ""},
        {{"channels", "diff", at("channels.img"), at("missing.img")}, 2, "", "Can't open file"},
        {{"channels", "diff", at("channels.img"), at("app.img")}, 2, "", "Invalid Channel File"},
        {{"channels", "import-transponders", at("channels.img"), "--satellite", "thor 0.8w", at("two.xml"), "--sat",
          "-300"}, 0, "Added 1 transponder.\nSkipped 0 circular", ""},
        {{"channels", "import-transponders", at("channels.img"), "--satellite=HOTBIRD 13.0E", at("Test-9.0E"),
          "--include-dvbs2"}, 0, "Added 2 transponders.\nSkipped 0 circular, 0 DVB-S2", ""},
        {{"channels", "diff", at("channels.img.bak"), at("channels.img")}, 1,
         // Each run's save keeps the file as that run found it.
         "Transponder added: HOTBIRD 13.0E 11720 HOR 27500\n"
         "Transponder added: HOTBIRD 13.0E 12000 VER 27500\n", ""},
        {{"channels", "export-transponders", at("channels.img"), at("hotbird"), "--satellite", "1"}, 0, "Wrote 10 transponders of 1 satellites", ""},
        {{"channels", "export-transponders", at("channels.img"), at("channels.img"), "--format", "satellites-xml"}, 2, "", "OUTPUT is IMAGE"},
        {{"channels", "export-transponders", at("channels.img"), at("x"), "--format", "csv"}, 64, "", "--format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        const CliRun result = run(c.args);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.out.find(c.inStdout), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.inStderr), std::string::npos) << result.err;
        if (c.status == 3) {
            EXPECT_EQ(readFile(at("channels.img")), before) << "a refused table changes nothing";
        }
    }
    // The written scan file holds the satellite's table and imports into another as it is.
    const auto table = TransponderTable::readFile(at("hotbird"));
    ASSERT_TRUE(table.ok()) << table.error;
    EXPECT_EQ(table.satellites[0].transponders, TransponderTable::fromDatabase(*loaded(readFile(at("channels.img"))), 1)[0].transponders);
}
