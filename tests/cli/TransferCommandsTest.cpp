// updatetool-cli's transfer commands as a user runs them: exit statuses,
// messages and files, against boxsim.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

#include "TestSupport.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 30s;

class TransferCommands : public ::testing::Test {
protected:
    ProcessResult cli(std::vector<std::string> args, const std::vector<std::string>& env = {})
    {
        args.insert(args.begin(), UPDATETOOL_CLI_PATH);
        return runProcess(args, env, scratch, kTimeout);
    }
    void startBox(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--log", scratch.path("box.log")});
        ASSERT_TRUE(box.start(args));
    }
    std::string image(const std::string& magic, std::size_t size, const std::string& name = "image.img")
    {
        const std::string path = scratch.path(name);
        writeFile(path, makeImage(magic, size));
        return path;
    }

    TempDir scratch;
    BoxSimProcess box;
};

// Commands that never reach a box.
TEST_F(TransferCommands, RefusesBadCommandLinesAndFiles)
{
    const std::string good = image("QVCH", 500);
    const std::string wrongMagic = image("JUNK", 500, "junk.img");
    Bytes badHeader = makeImage("VORN", 500);
    badHeader[12] ^= 0x80;
    writeFile(scratch.path("bad.img"), badHeader);
    const std::string noDevice = scratch.path("no-such-tty");

    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* message;
    };
    const Case cases[] = {
        {{}, 64, ""},
        {{"frobnicate"}, 64, "unknown command"},
        {{"send"}, 64, "which file?"},
        {{"send", "--port"}, 64, "--port needs a value"},
        {{"send", "--bogus", good}, 64, "unknown option '--bogus'"},
        {{"send", "--port", "COM9", good}, 64, "unknown port 'COM9'"},
        {{"send", good, good}, 64, "unexpected argument"},
        {{"erase", "--no-restart"}, 64, "unknown option '--no-restart'"},
        {{"receive", "--port", noDevice}, 64, "which file?"},
        {{"send", "--port", noDevice, scratch.path("missing.img")}, 4, "Could not open file.\n"},
        {{"send", "--port", noDevice, wrongMagic}, 4, "Selected wrong Image type.\n"},
        {{"send", "--port", noDevice, scratch.path("bad.img")}, 4, "File Is Invalid\n"},
        {{"send", "--port", noDevice, good}, 3, "Serial Port I/O Error\n"},
        {{"erase", "--port=" + noDevice}, 3, "Serial Port I/O Error\n"},
        {{"receive", "--port", noDevice, scratch.path("out.img")}, 3, "Serial Port I/O Error\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = cli(c.args);
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        EXPECT_EQ(result.exitStatus, c.exitStatus) << line << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << line << "\n" << result.err;
    }
}

TEST_F(TransferCommands, HelpExplainsCommandsPortsEnvironmentAndExitStatuses)
{
    for (const char* word : {"--help", "-h"}) {
        const ProcessResult result = cli({word});
        EXPECT_EQ(result.exitStatus, 0);
        for (const char* text : {"send    --port PORT [--no-restart] IMAGE", "receive --port PORT OUTPUT",
                                 "erase   --port PORT", "COM1..COM4", "UPDATETOOL_COM1", "Exit status", " 64"})
            EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(cli({"send", "--help"}).exitStatus, 0);
}

TEST_F(TransferCommands, SendPrintsPlainLinesAndTheImageArrives)
{
    startBox({"--save", scratch.path("box.save")});
    const std::string path = image("VORN", 40000);
    // COM2 is mapped to the simulated box through the environment.
    const ProcessResult result = cli({"send", "--port", "COM2", "--no-restart", path},
                                     {"UPDATETOOL_COM2=" + box.device()});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(readFile(scratch.path("box.save")), readFile(path));
    // Not a terminal: whole lines, no carriage returns, ending with the finish text.
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    EXPECT_TRUE(result.err.ends_with("Update End\n")) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(TransferCommands, BoxFailuresBecomeExitStatuses)
{
    struct Case {
        std::vector<std::string> boxArgs;
        int exitStatus;
        const char* message;
    };
    const Case cases[] = {
        {{"--refuse"}, 6, "File Transfer Fail\n"},
        {{"--abort"}, 7, "Data Update Fail\n"},
    };
    for (const Case& c : cases) {
        BoxSimProcess failingBox;
        ASSERT_TRUE(failingBox.start(c.boxArgs));
        const ProcessResult result = cli({"send", "--port", failingBox.device(), image("QVBT", 3000)});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_TRUE(result.err.ends_with(c.message)) << result.err;
    }
}

TEST_F(TransferCommands, EraseReportsTheEnd)
{
    startBox({});
    const ProcessResult result = cli({"erase", "--port", box.device()});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err, "Reset your Settopbox\nWait..APP Erase...\nErase End\n");
}

TEST_F(TransferCommands, ReceiveExitsZeroOnlyWhenEveryAnnouncedByteArrived)
{
    struct Case {
        std::vector<std::string> extraBoxArgs;
        const char* output;
        int exitStatus;
        std::size_t fileSize;
    };
    const Case cases[] = {
        {{}, "received.img", 0, 16 + 9000},
        {{"--type-size", "3000"}, "received.img", 5, 16},   // announces 12288 bytes, sends 9000
        {{}, "no-such-dir/received.img", 2, 0},
    };
    const std::string upload = scratch.path("upload.bin");
    writeFile(upload, randomBytes(9000, 4));
    for (const Case& c : cases) {
        BoxSimProcess uploadingBox;
        std::vector<std::string> args{"--role", "upload", "--file", upload};
        args.insert(args.end(), c.extraBoxArgs.begin(), c.extraBoxArgs.end());
        ASSERT_TRUE(uploadingBox.start(args));
        const std::string output = scratch.path(c.output);
        const ProcessResult result = cli({"receive", "--port", uploadingBox.device(), output});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(readFile(output).size(), c.fileSize);
    }
}

TEST_F(TransferCommands, CtrlCCancelsTheJobAndExitsOne)
{
    startBox({"--silent"});
    const std::string out = scratch.path("cli.out");
    const std::string err = scratch.path("cli.err");
    pid_t pid = spawnProcess({UPDATETOOL_CLI_PATH, "send", "--port", box.device(), image("QVCH", 2000)}, {}, out,
                             err);
    ASSERT_GT(pid, 0);
    // Interrupt while it calls the silent box.
    ASSERT_TRUE(waitForText(scratch.path("box.log"), "attention ignored"));
    kill(pid, SIGINT);

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "updatetool-cli did not end after SIGINT";
        }
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(readText(err).ends_with("Cancelled.\n")) << readText(err);
}

} // namespace
