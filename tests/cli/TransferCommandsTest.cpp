// updatetool-cli's transfer commands as a user runs them: exit statuses,
// messages and files, against boxsim.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <map>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "SampleImages.h"
#include "TestSupport.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 30s;

// The exit status of a program started with spawnProcess as a shell reports it
// (128 + N for one ended by signal N), or -1 when it did not end within the
// time-out (it is killed then).
int waitForExit(pid_t pid, std::chrono::milliseconds timeout = 10s)
{
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t count(const std::string& text, const std::string& part)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

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
    const std::string good = image("QVBT", 500);
    const std::string wrongMagic = image("JUNK", 500, "junk.img");
    Bytes badHeader = makeImage("VORN", 500);
    badHeader[12] ^= 0x80;
    writeFile(scratch.path("bad.img"), badHeader);
    const std::string noDevice = scratch.path("no-such-tty");
    const std::string shortChannels = image("QVCH", 500, "short-channels.img");
    Bytes damaged = updatetool::samples::channelImage();
    damaged[0x0A2F88 + 40] ^= 1; // a favourite-group member, past the counts
    writeFile(scratch.path("damaged.img"), damaged);
    const std::string damagedChannels = scratch.path("damaged.img");
    ASSERT_EQ(::mkfifo(scratch.path("fifo.img").c_str(), 0600), 0);

    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* message;
    };
    const Case cases[] = {
        {{}, 64, ""},
        {{"frobnicate"}, 64, "unknown command"},
        {{"send"}, 64, "IMAGE is required"},
        {{"send", "--port"}, 64, "--port: 1 required PORT missing"},
        {{"send", "--bogus", good}, 64, "not expected: --bogus"},
        {{"send", "--port", "COM9", good}, 64, "unknown port 'COM9'"},
        {{"send", good, good}, 64, "not expected"},
        {{"erase", "--no-restart"}, 64, "not expected: --no-restart"},
        {{"send", "--give-up-after", "0", good}, 64, "--give-up-after: Value 0 not in range"},
        {{"receive", "--port", noDevice}, 64, "OUTPUT is required"},
        {{"send", "--port", noDevice, scratch.path("missing.img")}, 4, "Could not open file.\n"},
        {{"send", "--port", noDevice, wrongMagic}, 4, "Selected wrong Image type.\n"},
        {{"send", "--port", noDevice, scratch.path("bad.img")}, 4, "File Is Invalid\n"},
        // A channel image is checked whole before the port opens: short, or a check word off.
        {{"send", "--port", noDevice, shortChannels}, 4, "it has 500 bytes; a channel image has 851,984"},
        {{"send", "--port", noDevice, damagedChannels}, 4, "the check word of the favourite groups does not match"},
        {{"send", "--port", noDevice, scratch.path("fifo.img")}, 4, "Not a regular file"},
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
        const ProcessResult result = cli({"send", word});
        EXPECT_EQ(result.exitStatus, 0);
        for (const char* text : {"Usage: updatetool-cli send [OPTIONS] IMAGE", "-p,--port PORT", "--no-restart",
                                 "COM1..COM4", "UPDATETOOL_COM1", "Exit status", " 64"})
            EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    const ProcessResult overview = cli({"--help"});
    EXPECT_EQ(overview.exitStatus, 0);
    for (const char* command : {"send", "receive", "erase", "ports", "channels", "samples"})
        EXPECT_NE(overview.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
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

// Every file or port that cannot be used is named with the system's reason on
// the line before the result line, which stays as it was.
TEST_F(TransferCommands, AFileOrPortThatCannotBeUsedIsNamedWithTheSystemsReason)
{
    const std::string good = image("QVBT", 500);
    const std::string locked = image("QVBT", 500, "locked.img");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const std::string regularFile = image("JUNK", 10, "not-a-port");
    const std::string noDevice = scratch.path("no-such-tty");
    startBox({});
    ASSERT_EQ(::chmod(box.device().c_str(), 0), 0);
    // root opens whatever it likes: the permission cases run as nobody.
    std::vector<std::string> asNobody;
    if (::geteuid() == 0) {
        asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        ASSERT_EQ(::chmod(scratch.path("").c_str(), 0755), 0);
        ASSERT_EQ(::chmod(good.c_str(), 0644), 0);
    }

    struct Case {
        bool nobody;
        std::vector<std::string> args;
        int exitStatus;
        std::string lines;   // the reason line and the result line after it
    };
    const Case cases[] = {
        {false, {"send", "-p", noDevice, scratch.path("missing.img")}, 4,
         scratch.path("missing.img") + ": No such file or directory\nCould not open file.\n"},
        {false, {"send", "-p", noDevice, scratch.path("")}, 4, ": Is a directory\nCould not open file.\n"},
        {true, {"send", "-p", noDevice, locked}, 4, locked + ": Permission denied\nCould not open file.\n"},
        {false, {"send", "-p", noDevice, good}, 3, noDevice + ": No such file or directory\nSerial Port I/O Error\n"},
        {false, {"erase", "-p", regularFile}, 3, regularFile + ": Not a serial port\nSerial Port I/O Error\n"},
        {false, {"receive", "-p", scratch.path(""), "out.img"}, 3, ": Is a directory\nSerial Port I/O Error\n"},
        {true, {"send", "-p", box.device(), good}, 3,
         box.device() + ": Permission denied (is your user in the dialout group?)\nSerial Port I/O Error\n"},
        {false, {"erase", "-t", scratch.path("no/such/trace.txt"), "-p", noDevice}, 2,
         scratch.path("no/such/trace.txt") + ": No such file or directory\nCould not write the trace"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.nobody ? asNobody : std::vector<std::string>{};
        args.push_back(UPDATETOOL_CLI_PATH);
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult result = runProcess(args, {}, scratch, kTimeout);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.args[0] << " " << c.args.back() << "\n" << result.err;
        EXPECT_NE(result.err.find("updatetool-cli: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.lines), std::string::npos) << c.lines << "\n---\n" << result.err;
    }

    // With --trace the reason is in the trace as well.
    const std::string trace = scratch.path("trace.txt");
    EXPECT_EQ(cli({"send", "--trace", trace, "--port", noDevice, good}).exitStatus, 3);
    EXPECT_NE(readText(trace).find("could not be opened: No such file or directory"), std::string::npos)
        << readText(trace);
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
        std::size_t fileSize;   // 0: no file
        const char* lastLine;
    };
    // OUTPUT already holds an image; only a complete reception replaces it.
    const std::string oldImage = "VORN LUMEN CORP an image received last week";
    const Case cases[] = {
        {{}, "received.img", 0, 16 + 9000, "Received 9000 bytes into "},
        {{"--type-size", "3000"}, "received.img", 5, oldImage.size(), "Receive ended short: "},   // announces 12288 bytes, sends 9000
        {{"--type-size", "1000"}, "received.img", 0, 16 + 4096, "(the box sent 5120 bytes past the announced size; they were dropped).\n"},
        {{}, "no-such-dir/received.img", 2, 0, "No such file or directory.\n"},
    };
    const std::string upload = scratch.path("upload.bin");
    writeFile(upload, randomBytes(9000, 4));
    for (const Case& c : cases) {
        BoxSimProcess uploadingBox;
        std::vector<std::string> args{"--role", "upload", "--file", upload};
        args.insert(args.end(), c.extraBoxArgs.begin(), c.extraBoxArgs.end());
        ASSERT_TRUE(uploadingBox.start(args));
        const std::string output = scratch.path(c.output);
        if (c.fileSize > 0)
            writeFile(output, Bytes(oldImage.begin(), oldImage.end()));
        const ProcessResult result = cli({"receive", "--port", uploadingBox.device(), output});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(readFile(output).size(), c.fileSize);
        EXPECT_NE(result.err.find(c.lastLine), std::string::npos) << result.err;
        // Only a file complete on the disk ends the update.
        if (c.exitStatus != 0) {
            EXPECT_EQ(result.err.find("Update End"), std::string::npos) << result.err;
        }
    }
}

TEST_F(TransferCommands, CtrlCCancelsTheCallThenEndsTheProgramByItsSignal)
{
    startBox({"--silent"});
    const std::string err = scratch.path("cli.err");
    pid_t pid = spawnProcess({UPDATETOOL_CLI_PATH, "send", "--port", box.device(), image("QVBT", 2000)}, {},
                             scratch.path("cli.out"), err);
    ASSERT_GT(pid, 0);
    // Interrupt while it calls the silent box.
    ASSERT_TRUE(waitForText(scratch.path("box.log"), "attention ignored"));
    kill(pid, SIGINT);
    // What a shell shows for a program ended by Ctrl-C, so a loop of sends stops.
    EXPECT_EQ(waitForExit(pid, 5s), 130);
    EXPECT_TRUE(readText(err).ends_with("Cancelled.\n")) << readText(err);
}

TEST_F(TransferCommands, EndSignalsCancelAReceiveLeaveOutputAsItWasAndEndTheProgram)
{
    const std::string upload = scratch.path("upload.bin");
    writeFile(upload, randomBytes(200000, 9));
    const std::string oldImage = "VORN LUMEN CORP the image that was there before";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string log = scratch.path("upload" + std::to_string(signal) + ".log");
        BoxSimProcess uploadingBox;
        // Paced like a real line, so the upload is still running when the signal comes.
        ASSERT_TRUE(uploadingBox.start({"--role", "upload", "--file", upload, "--baud", "115200", "--log", log}));
        const std::string output = scratch.path("received.img");
        writeFile(output, Bytes(oldImage.begin(), oldImage.end()));
        const pid_t pid = spawnProcess({UPDATETOOL_CLI_PATH, "receive", "--port", uploadingBox.device(), output}, {},
                                       scratch.path("cli.out"), scratch.path("cli.err"));
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitForText(log, "packet 1 acked", 10s));
        kill(pid, signal);
        EXPECT_EQ(waitForExit(pid), 128 + signal);
        EXPECT_TRUE(waitForText(log, "cancel received"));
        EXPECT_EQ(readFile(output), Bytes(oldImage.begin(), oldImage.end()));
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path(".")))
            EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
    }
}

// Several simulated boxes, each on its own pseudo-terminal.
class SeveralPorts : public TransferCommands {
protected:
    // Starts count boxes with these options; box i logs to box<i>.log and,
    // with save, keeps what it received in box<i>.save.
    void startBoxes(std::size_t count, const std::vector<std::string>& args, bool save = false)
    {
        for (std::size_t i = 0; i < count; ++i) {
            std::vector<std::string> boxArgs = args;
            boxArgs.insert(boxArgs.end(), {"--log", scratch.path("box" + std::to_string(i) + ".log")});
            if (save)
                boxArgs.insert(boxArgs.end(), {"--save", scratch.path("box" + std::to_string(i) + ".save")});
            boxes.push_back(std::make_unique<BoxSimProcess>());
            ASSERT_TRUE(boxes.back()->start(boxArgs));
        }
    }
    std::vector<std::string> portOptions() const
    {
        std::vector<std::string> options;
        for (const auto& b : boxes)
            options.insert(options.end(), {"--port", b->device()});
        return options;
    }
    // The summary's row for a port: its words after the port name.
    static std::string summaryRow(const std::string& out, const std::string& port)
    {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(port + " "))
                return line.substr(line.find_first_not_of(' ', port.size()));
        return "(no row for " + port + ")";
    }

    std::vector<std::unique_ptr<BoxSimProcess>> boxes;
};

TEST_F(SeveralPorts, FourBoxesAtOnceAndOneRefusesWithoutHarmToTheOthers)
{
    startBoxes(3, {}, true);
    BoxSimProcess refusing;
    ASSERT_TRUE(refusing.start({"--refuse"}));
    const std::string path = image("VORN", 60000);
    std::vector<std::string> args{"send", "--no-restart"};
    const auto ports = portOptions();
    args.insert(args.end(), ports.begin(), ports.begin() + 2);
    args.insert(args.end(), {"--port", refusing.device()});
    args.insert(args.end(), ports.begin() + 2, ports.end());
    args.push_back(path);

    const ProcessResult result = cli(args);
    // The refusing box's status is the run's: the highest one.
    EXPECT_EQ(result.exitStatus, 6) << result.err;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(readFile(scratch.path("box" + std::to_string(i) + ".save")), readFile(path)) << i;
        EXPECT_TRUE(summaryRow(result.out, boxes[i]->device()).starts_with("Update End  ")) << result.out;
        EXPECT_TRUE(summaryRow(result.out, boxes[i]->device()).find(" 60000 ") != std::string::npos) << result.out;
        // Not a terminal: plain lines that begin with their port.
        EXPECT_NE(result.err.find(boxes[i]->device() + ": "), std::string::npos) << result.err;
    }
    EXPECT_TRUE(summaryRow(result.out, refusing.device()).starts_with("File Transfer Fail  ")) << result.out;
    EXPECT_TRUE(result.out.starts_with("PORT ")) << result.out;
    EXPECT_EQ(count(result.out, "\n"), 5u) << result.out;
}

// One silent box gives up alone after --give-up-after with the serial port
// status and the diagnosis; the others finish their update.
TEST_F(SeveralPorts, ASilentBoxIsGivenUpOnAfterTheTimeAllowed)
{
    startBoxes(2, {}, true);
    BoxSimProcess silent;
    ASSERT_TRUE(silent.start({"--silent"}));
    const std::string path = image("QVBT", 20000);
    std::vector<std::string> args{"send", "--no-restart", "--give-up-after", "1.5"};
    const auto ports = portOptions();
    args.insert(args.end(), ports.begin(), ports.end());
    args.insert(args.end(), {"--port", silent.device(), path});
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = cli(args);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(result.exitStatus, 3) << result.err << result.out;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        EXPECT_EQ(readFile(scratch.path("box" + std::to_string(i) + ".save")), readFile(path)) << i;
    EXPECT_EQ(summaryRow(result.out, silent.device()).rfind("Serial Port I/O Error", 0), 0u) << result.out;
    EXPECT_NE(result.err.find(silent.device() + ": No answer from the box for 1 s: nothing at all came back"),
              std::string::npos) << result.err;
    EXPECT_NE(result.err.find(silent.device() + ": Gave up after 1.5 s."), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("updatetool-cli: " + silent.device() +
                              ": no answer from the box within 1.5 s (--give-up-after)"),
              std::string::npos) << result.err;

    // One port alone, and a receive that the box never calls, the same way.
    for (const char* command : {"send", "receive"}) {
        const ProcessResult alone =
            cli({command, "--give-up-after", "1", "-p", silent.device(), std::string(command) == "send" ? path : scratch.path("got.img")});
        EXPECT_EQ(alone.exitStatus, 3) << command << "\n" << alone.err;
        EXPECT_NE(alone.err.find("Gave up after 1 s.\nupdatetool-cli: " + silent.device() +
                                 ": no answer from the box within 1 s (--give-up-after)\nSerial Port I/O Error\n"),
                  std::string::npos) << alone.err;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.path("got.img")));
}

TEST_F(SeveralPorts, AGlobAndLinkNamesFindTheBoxesAndEachReceiveGetsItsOwnFile)
{
    const std::string upload = scratch.path("upload.bin");
    writeFile(upload, randomBytes(5000, 7));
    // The links stand for /dev/serial/by-id names; the glob for '/dev/ttyUSB*'.
    startBoxes(1, {"--role", "upload", "--file", upload, "--link", scratch.path("usb-box-A")});
    startBoxes(1, {"--role", "upload", "--file", upload, "--link", scratch.path("usb-box-B")});
    // The second box named again by its device path is still one port.
    const ProcessResult result =
        cli({"receive", "--port", scratch.path("usb-box-*"), "--port", boxes[1]->device(), scratch.path("got.img")});
    EXPECT_EQ(result.exitStatus, 0) << result.err << result.out;
    for (const char* name : {"got-usb-box-A.img", "got-usb-box-B.img"})
        EXPECT_EQ(readFile(scratch.path(name)).size(), 16u + 5000u) << name;
    EXPECT_EQ(count(result.out, "Received into "), 2u) << result.out;

    const ProcessResult none = cli({"erase", "--port", scratch.path("nothing-*"), "--port", boxes[0]->device()});
    EXPECT_EQ(none.exitStatus, 64);
    EXPECT_NE(none.err.find("no port matches"), std::string::npos) << none.err;
}

TEST_F(SeveralPorts, PortsOfOneLastNameGetNumberedFilesAndNoOutputIsAnotherFile)
{
    const std::string upload = scratch.path("upload.bin");
    writeFile(upload, randomBytes(5000, 7));
    std::filesystem::create_directories(scratch.path("a"));
    std::filesystem::create_directories(scratch.path("b"));
    startBoxes(1, {"--role", "upload", "--file", upload, "--link", scratch.path("a/usb-box")});
    startBoxes(1, {"--role", "upload", "--file", upload, "--link", scratch.path("b/usb-box")});
    const ProcessResult result =
        cli({"receive", "--port", scratch.path("a/usb-box"), "--port", scratch.path("b/usb-box"), scratch.path("got.img")});
    EXPECT_EQ(result.exitStatus, 0) << result.err << result.out;
    for (const char* name : {"got-usb-box-1.img", "got-usb-box-2.img"})
        EXPECT_EQ(readFile(scratch.path(name)).size(), 16u + 5000u) << name;

    // Refused before any file is opened for writing, the image left whole.
    const std::string image = this->image("QVCH", 3000);
    const Bytes imageBytes = readFile(image);
    std::filesystem::create_symlink(image, scratch.path("image-link.img"));
    const struct {
        std::vector<std::string> args;
        std::string why;
    } refusals[] = {
        {{"send", "--trace", image, "--port", boxes[0]->device(), image}, "the trace " + image + " is the image itself"},
        {{"send", "--trace", scratch.path("image-link.img"), "--port", boxes[0]->device(), image}, "is the image itself"},
        {{"receive", "--trace", scratch.path("got.img"), "--port", boxes[0]->device(), "--port", boxes[1]->device(),
          scratch.path("got.img")}, "would be one file"},
        {{"receive", "--trace", scratch.path("out.img"), "--port", boxes[0]->device(), scratch.path("out.img")},
         "would be one file"},
    };
    for (const auto& refusal : refusals) {
        const ProcessResult refused = cli(refusal.args);
        EXPECT_EQ(refused.exitStatus, 64) << refused.err;
        EXPECT_NE(refused.err.find(refusal.why), std::string::npos) << refused.err;
        EXPECT_EQ(readFile(image), imageBytes);
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out.img")));
}

TEST_F(SeveralPorts, CtrlCSendsCanCanToEveryBoxAndEndsByItsSignal)
{
    // Paced like a real line, so the transfers are still running when Ctrl-C comes.
    startBoxes(2, {"--baud", "115200"});
    std::vector<std::string> args{UPDATETOOL_CLI_PATH, "send"};
    const auto ports = portOptions();
    args.insert(args.end(), ports.begin(), ports.end());
    args.push_back(image("QVBT", 200000));
    const pid_t pid = spawnProcess(args, {}, scratch.path("cli.out"), scratch.path("cli.err"));
    ASSERT_GT(pid, 0);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        ASSERT_TRUE(waitForText(scratch.path("box" + std::to_string(i) + ".log"), "packet 1 ok", 10s));
    kill(pid, SIGINT);
    EXPECT_EQ(waitForExit(pid), 130);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(waitForText(scratch.path("box" + std::to_string(i) + ".log"), "cancel received")) << i;
        EXPECT_TRUE(summaryRow(readText(scratch.path("cli.out")), boxes[i]->device()).starts_with("Cancelled"));
    }
}

// The trace read back: every byte each side sent, in order, with each packet
// line standing for its header, block number, complement, data and check.
struct TracedStream {
    struct Piece {
        Bytes bytes;                 // plain bytes, or a packet's framing...
        std::size_t dataSize = 0;    // ...with this many data bytes after it
        Bytes check;
    };
    std::vector<Piece> pieces;
};

std::uint8_t hexByte(const std::string& text)
{
    return static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
}

// [0]: what the tool sent, [1]: what it received.
std::array<TracedStream, 2> readTrace(const std::string& path)
{
    std::array<TracedStream, 2> streams;
    std::istringstream lines(readText(path));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string ms, direction, first;
        words >> ms >> direction >> first;
        if (direction != "->" && direction != "<-")
            continue;
        TracedStream& own = streams[direction == "->" ? 0 : 1];
        TracedStream& other = streams[direction == "->" ? 1 : 0];
        if (first == "STX" || first == "SOH") {
            // "STX block 1, 1024 bytes, CRC B344 good; answer ACK (06) after 4 ms"
            std::string blockWord, block, size, bytesWord, checkKind, check;
            words >> blockWord >> block >> size >> bytesWord >> checkKind >> check;
            const auto number = static_cast<std::uint8_t>(std::stoul(block));
            TracedStream::Piece packet{{first == "STX" ? std::uint8_t{0x02} : std::uint8_t{0x01}, number,
                                        static_cast<std::uint8_t>(255 - number)},
                                       std::stoul(size), {}};
            for (std::size_t i = 0; i < check.size(); i += 2)
                packet.check.push_back(hexByte(check.substr(i, 2)));
            own.pieces.push_back(packet);
            if (const std::size_t answer = line.find("answer "); answer != std::string::npos)
                other.pieces.push_back({{hexByte(line.substr(line.find('(', answer) + 1, 2))}, 0, {}});
            continue;
        }
        TracedStream::Piece plain;
        std::istringstream hex(line.substr(line.find(direction) + 2, line.find(" | ") - line.find(direction) - 2));
        for (std::string byte; hex >> byte;)
            plain.bytes.push_back(hexByte(byte));
        own.pieces.push_back(plain);
    }
    return streams;
}

// "" when the bytes on the wire are exactly what the trace says, else where they part.
std::string compare(const Bytes& wire, const TracedStream& traced)
{
    std::size_t at = 0;
    auto expect = [&](const Bytes& bytes) {
        for (const std::uint8_t byte : bytes) {
            if (at >= wire.size() || wire[at] != byte)
                return false;
            ++at;
        }
        return true;
    };
    for (const auto& piece : traced.pieces) {
        if (!expect(piece.bytes))
            return "differs at byte " + std::to_string(at);
        at += piece.dataSize;
        if (!expect(piece.check))
            return "packet check differs at byte " + std::to_string(at);
    }
    return at == wire.size() ? "" : "the wire has " + std::to_string(wire.size() - at) + " bytes more";
}

// On a terminal of 80 columns the live line never wraps: a wrapped line would
// be redrawn below itself ten times a second and fill the screen.
TEST_F(TransferCommands, TheLiveLineKeepsWithinAnEightyColumnTerminal)
{
    startBox({"--baud", "38400"});
    const std::string path = image("QVBT", 12000);
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(slave, STDERR_FILENO);
        ::close(master);
        ::execl(UPDATETOOL_CLI_PATH, UPDATETOOL_CLI_PATH, "send", "--no-restart", "-p", box.device().c_str(),
                path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    std::string screen;
    char buffer[4096];
    for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
        screen.append(buffer, static_cast<std::size_t>(got));
    ::close(master);
    EXPECT_EQ(waitForExit(pid), 0) << screen;

    std::size_t longest = 0;
    std::size_t liveLines = 0;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= screen.size(); ++at) {
        if (at < screen.size() && screen[at] != '\r' && screen[at] != '\n')
            continue;
        const std::string line = screen.substr(start, at - start);
        longest = std::max(longest, line.size());
        liveLines += line.find("Transfer Size") != std::string::npos ? 1 : 0;
        start = at + 1;
    }
    EXPECT_GT(liveLines, 3u) << screen;
    EXPECT_LT(longest, 80u) << screen;
}

TEST_F(TransferCommands, TheTraceOfASendIsWhatTheBoxSaw)
{
    startBox({"--wire-log", scratch.path("box.wire"), "--corrupt-every", "3"});
    const std::string trace = scratch.path("send.trace");
    const ProcessResult result = cli({"send", "--port", box.device(), "--trace", trace, image("QVBT", 9000)});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    // boxsim logs each read and write: "tool" for what came in, "box" for what went out.
    std::map<std::string, Bytes> wire;
    std::istringstream lines(readText(scratch.path("box.wire")));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string who;
        words >> who;
        for (std::string byte; words >> byte;)
            wire[who].push_back(hexByte(byte));
    }
    const auto traced = readTrace(trace);
    EXPECT_EQ(compare(wire["tool"], traced[0]), "");
    EXPECT_EQ(compare(wire["box"], traced[1]), "");

    const std::string text = readText(trace);
    // Nine packets, every third refused once; then the restart the box is told.
    EXPECT_EQ(count(text, "bytes, CRC "), 12u) << text;
    EXPECT_EQ(count(text, "answer NAK (15)"), 3u) << text;
    EXPECT_NE(text.find("| QV_RESTART\\r\\n"), std::string::npos) << text;
    // A pseudo-terminal has no low-latency switch; the trace says so and the job goes on.
    EXPECT_NE(text.find("##  low latency: not asked"), std::string::npos) << text;
}

TEST_F(TransferCommands, ASilentBoxGetsAPlainDiagnosisOnceAndTheCallGoesOn)
{
    struct Case {
        std::vector<std::string> boxArgs;
        const char* seen;
        const char* check;
    };
    const Case cases[] = {
        {{"--silent"}, "nothing at all came back", "Check that the box has power"},
        {{"--wrong-baud"}, "bytes came back, but never the box's prompt", "another baud rate than 115200"},
    };
    for (const Case& c : cases) {
        BoxSimProcess quietBox;
        std::vector<std::string> boxArgs = c.boxArgs;
        boxArgs.insert(boxArgs.end(), {"--wire-log", scratch.path("quiet.wire")});
        ASSERT_TRUE(quietBox.start(boxArgs));
        const std::string err = scratch.path("cli.err");
        const pid_t pid = spawnProcess({UPDATETOOL_CLI_PATH, "send", "--port", quietBox.device(), image("QVBT", 2000)},
                                       {"UPDATETOOL_DIAGNOSIS_MS=300"}, scratch.path("cli.out"), err);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitForText(err, c.seen)) << readText(err);
        // Still calling: ESCs keep coming after the diagnosis, which is not repeated.
        const std::size_t wireBefore = readText(scratch.path("quiet.wire")).size();
        std::this_thread::sleep_for(700ms);
        EXPECT_GT(readText(scratch.path("quiet.wire")).size(), wireBefore);
        kill(pid, SIGINT);
        EXPECT_EQ(waitForExit(pid), 130);
        const std::string text = readText(err);
        EXPECT_EQ(count(text, "No answer from the box"), 1u) << text;
        EXPECT_NE(text.find(c.check), std::string::npos) << text;
    }
}

} // namespace
