#include "Jobs.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "ImageFile.h"
#include "JobRunner.h"
#include "PtyPeer.h"
#include "XmodemPacket.h"

namespace updatetool {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;
using test::ScriptedPeer;
using test::Watchdog;
namespace fs = std::filesystem;

// Calls the monitor the way an uploading box does: ESC again and again until the
// prompt comes, since what it sends before the job opens the line is dropped with
// the stale input. Returns what the monitor answered, up to its first prompt.
std::string callAsBox(PtyPeer& p, std::string_view noise)
{
    p.send(std::string(noise) + "\x1B");
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (const auto first = p.readByte(50ms))
            return std::string(1, static_cast<char>(*first)) + p.readUntil("\r\n>").value_or("");
        p.send("\x1B");
    }
    return {};
}

class JobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path()
             / ("updatetool-jobs-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string writeFile(const std::string& name, const std::string& bytes)
    {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

std::string channelImage(std::size_t size)
{
    std::string image = "QVCH";
    for (std::size_t i = image.size(); i < size; ++i)
        image += static_cast<char>(i * 13);
    return image;
}

// The box's side of a send job: prompt, identification, update accepted, XMODEM
// reception with 'C', then the given completion reply.
struct BoxForSend {
    std::string completion = "Done\r\n>";
    std::string received;
    std::string announce;
    std::string afterCompletion;

    void operator()(PtyPeer& peer)
    {
        if (peer.readByte(5s) != 0x1B)
            return;
        peer.send("monitor\r\n>");
        if (!peer.readUntil("QV_IDENT\r\n"))
            return;
        peer.send("QV_IDENT\r\nSTB-1 boot 2.0\r\n>");
        announce = peer.readUntil("\r\n").value_or("");
        peer.send(announce + "OK\r\n");
        peer.send("C");
        for (;;) {
            const auto header = peer.readByte(2s);
            if (!header)
                return;
            if (*header == xmodem::kEot)
                break;
            received += peer.read(1028, 2s).substr(2, 1024);
            peer.sendByte(xmodem::kAck);
        }
        peer.sendByte(xmodem::kAck);
        peer.send("Writing\r\n" + completion);
        afterCompletion = peer.read(100, 400ms);
    }
};

TEST_F(JobTest, SendImageRunsTheWholeExchange)
{
    const struct {
        const char* name;
        bool autoRestart;
        std::string completion;
        int result;
        int phase;
        std::string afterCompletion;
    } cases[] = {
        {"auto restart", true, "Done\r\n>", kResultSuccess, kPhaseNone, "QV_RESTART\r\n"},
        {"no restart", false, "Done\r\n>", kResultSuccess, kPhaseNone, ""},
        {"box aborts", true, "Abort\r\n>", kResultUpdateFail, kPhaseUpdating, ""},
    };
    const std::string image = channelImage(2500);
    for (const auto& c : cases) {
        PtyPeer peer;
        TransferJob job;
        job.kind = JobKind::SendImage;
        job.portDevice = peer.slavePath();
        job.fileType = kFileTypeChannel;
        job.imagePath = writeFile("channel.img", image);
        job.autoRestart = c.autoRestart;
        Watchdog watchdog(job.cancelRequest, 10s);
        BoxForSend box;
        box.completion = c.completion;
        {
            ScriptedPeer boxThread(peer, std::ref(box));
            EXPECT_EQ(runWorker(job), c.result) << c.name;
        }
        EXPECT_FALSE(watchdog.fired()) << c.name;
        EXPECT_EQ(job.result.load(), c.result) << c.name;
        EXPECT_EQ(job.phase.load(), c.phase) << c.name;
        EXPECT_EQ(box.announce, "QV_UPDATE 9C4!\r\n") << c.name;
        ASSERT_EQ(box.received.size(), 3072u) << c.name;
        EXPECT_EQ(box.received.substr(0, image.size()), image) << c.name;
        EXPECT_EQ(box.received.substr(image.size()), std::string(3072 - image.size(), '\x1A')) << c.name;
        EXPECT_EQ(box.afterCompletion, c.afterCompletion) << c.name;
        EXPECT_EQ(job.totalBytes.load(), image.size()) << c.name;
        EXPECT_EQ(job.bytesDone.load(), image.size()) << c.name;
        EXPECT_LE(job.startTick.load(), job.endTick.load()) << c.name;
    }
}

// A real boot monitor answers every ESC with a prompt, and those that piled up
// while it booted come back to back, one even after QV_IDENT has gone out.
TEST_F(JobTest, SendToABoxThatPromptsForEveryEsc)
{
    const struct {
        const char* answer;
        int result;
    } cases[] = {
        {"OK\r\n", kResultSuccess},
        {"?\r\n", kResultTransferFail},
    };
    const std::string image = channelImage(1500);
    for (const auto& c : cases) {
        PtyPeer peer;
        TransferJob job;
        job.kind = JobKind::SendImage;
        job.portDevice = peer.slavePath();
        job.fileType = kFileTypeChannel;
        job.imagePath = writeFile("channel.img", image);
        job.autoRestart = false;
        Watchdog watchdog(job.cancelRequest, 5s);
        std::string received;
        {
            ScriptedPeer box(peer, [&](PtyPeer& p) {
                // Booting: the ESCs queue up unanswered.
                const std::size_t escs = p.read(100, 200ms).size();
                for (std::size_t i = 1; i < escs; ++i) {
                    p.send("\r\n>");
                    std::this_thread::sleep_for(5ms);
                }
                if (!p.readUntil("QV_IDENT\r\n"))
                    return;
                p.send("\r\n>QV_IDENT\r\nSTB-1 boot 2.0\r\n>");
                const std::string announce = p.readUntil("\r\n").value_or("");
                p.send(announce + c.answer);
                if (c.result != kResultSuccess)
                    return;
                p.send("C");
                while (p.readByte(2s) == xmodem::kStx) {
                    received += p.read(1028, 2s).substr(2, 1024);
                    p.sendByte(xmodem::kAck);
                }
                p.sendByte(xmodem::kAck);
                p.send("Done\r\n>");
            });
            EXPECT_EQ(runWorker(job), c.result) << c.answer;
        }
        EXPECT_FALSE(watchdog.fired()) << c.answer;
        if (c.result == kResultSuccess) {
            EXPECT_EQ(received.substr(0, image.size()), image);
        }
    }
}

TEST_F(JobTest, FailuresBeforeTheBoxIsReached)
{
    std::string badApplication = "VORN" + std::string(8, 'x') + std::string("\x00\x01\x02\x03", 4) + std::string(200, 'y');
    const struct {
        const char* name;
        JobKind kind;
        std::string imageContent; // empty: no such file
        std::uint8_t fileType;
        int result;
        int phase;
    } cases[] = {
        // The port does not exist either: a result of 4 shows the port was never tried.
        {"missing image", JobKind::SendImage, "", kFileTypeChannel, kResultFileInvalid, kPhaseChecking},
        {"bad application header", JobKind::SendImage, badApplication, kFileTypeApplication, kResultFileInvalid, kPhaseChecking},
        {"short application image", JobKind::SendImage, badApplication.substr(0, 103), kFileTypeApplication, kResultFileInvalid, kPhaseChecking},
        {"no port for a good image", JobKind::SendImage, channelImage(100), kFileTypeChannel, kResultSerialPortError, kPhaseCallBox},
        {"no port for erase", JobKind::EraseApplication, "", kFileTypeNone, kResultSerialPortError, kPhaseNone},
        {"no port for receive", JobKind::ReceiveData, "", kFileTypeNone, kResultSerialPortError, kPhaseNone},
    };
    for (const auto& c : cases) {
        TransferJob job;
        job.kind = c.kind;
        job.portDevice = (dir_ / "no-such-tty").string();
        job.fileType = c.fileType;
        job.imagePath = c.imageContent.empty() ? (dir_ / "missing.img").string() : writeFile("image.img", c.imageContent);
        job.outputPath = (dir_ / "out.img").string();
        // Left over from an earlier job: every job starts from zero.
        job.phase.store(kPhaseUpdating);
        job.bytesDone.store(999);
        job.totalBytes.store(12345);
        EXPECT_EQ(runWorker(job), c.result) << c.name;
        EXPECT_EQ(job.result.load(), c.result) << c.name;
        EXPECT_EQ(job.phase.load(), c.phase) << c.name;
        EXPECT_EQ(job.bytesDone.load(), 0u) << c.name;
        if (c.kind != JobKind::SendImage) {
            EXPECT_EQ(job.totalBytes.load(), 12345u) << c.name;
        }
        EXPECT_FALSE(fs::exists(job.outputPath)) << c.name;
    }
}

TEST_F(JobTest, EraseLeavesTheTransferFiguresAlone)
{
    PtyPeer peer;
    TransferJob job;
    job.kind = JobKind::EraseApplication;
    job.portDevice = peer.slavePath();
    job.totalBytes.store(777);
    job.startTick.store(5);
    job.endTick.store(6);
    Watchdog watchdog(job.cancelRequest, 5s);
    std::optional<std::string> command;
    {
        ScriptedPeer box(peer, [&](PtyPeer& p) {
            p.readByte(5s);
            p.send(">");
            command = p.readUntil("QV_ERASEALL\r\n");
            p.send("QV_ERASEALL\r\nErase Done\r\nErasing 100%\r\nDone.\r\n>");
        });
        EXPECT_EQ(runWorker(job), kResultSuccess);
    }
    EXPECT_TRUE(command.has_value());
    EXPECT_TRUE(job.eraseStarted.load());
    EXPECT_EQ(job.totalBytes.load(), 777u);
    EXPECT_EQ(job.startTick.load(), 5u);
    EXPECT_EQ(job.endTick.load(), 6u);
    EXPECT_EQ(job.phase.load(), kPhaseNone);
}

TEST_F(JobTest, ReceiveDataAnswersAndWritesTheFile)
{
    enum Output { Writable, CannotBeMade, DiskFull };
    const struct {
        const char* name;
        bool senderGivesUp;
        Output output;
        std::string answer;
        bool received; // the box got its 'C' and uploaded
        bool replaced; // OUTPUT holds the new data, not what it held before
        int failure;
        std::uint8_t blocks = 2;
        std::uint32_t extra = 0;
    } cases[] = {
        {"received", false, Writable, "Done\r\n>", true, true, kResultSuccess},
        // A box that sends a packet too many: the announced data is kept and the rest counted.
        {"received with a packet too many", false, Writable, "Done\r\n>", true, true, kResultSuccess, 3, 1024},
        // A failed reception leaves OUTPUT as it was and no partial file beside it.
        {"reception fails", true, Writable, "Done\r\n>", true, false, kResultTransferFail},
        // The box is told at once instead of uploading into nothing.
        {"file cannot be made", false, CannotBeMade, "Abort\r\n>", false, false, kResultImageFileError},
        {"file cannot be written", false, DiskFull, "Abort\r\n>", true, false, kResultImageFileError},
        {"reception fails, file cannot be written", true, DiskFull, "Done\r\n>", true, false, kResultTransferFail},
    };
    const std::string oldImage = "VORN LUMEN CORP the image that was there before";
    for (const auto& c : cases) {
        PtyPeer peer;
        TransferJob job;
        job.kind = JobKind::ReceiveData;
        job.portDevice = peer.slavePath();
        job.outputPath = c.output == CannotBeMade ? (dir_ / "missing-dir" / "out.img").string()
                       : c.output == DiskFull     ? std::string("/dev/full")
                                                  : writeFile("out.img", oldImage);
        Watchdog watchdog(job.cancelRequest, 10s);
        std::string greeting;
        std::string answer;
        std::vector<int> phasesSeen;
        {
            ScriptedPeer box(peer, [&](PtyPeer& p) {
                greeting = callAsBox(p, "noise");
                p.send("QV_UPDATE 7D0!\r");
                greeting += p.readUntil("\r\n\r\n").value_or("");
                const std::string start = p.read(1, 4s);
                if (start != "C") {
                    answer = start + p.readUntilQuiet(200ms);
                    return;
                }
                phasesSeen.push_back(job.phase.load());
                for (std::uint8_t block = 1; block <= c.blocks; ++block) {
                    XmodemPacket packet;
                    const std::vector<std::uint8_t> data(1024, static_cast<std::uint8_t>(0x60 + block));
                    p.send(packet.build(block, data, XmodemMode::Crc1K));
                    p.read(1, 2s);
                    if (c.senderGivesUp) {
                        p.send("\x18\x18");
                        break;
                    }
                }
                if (!c.senderGivesUp) {
                    p.sendByte(xmodem::kEot);
                    p.read(1, 2s);
                }
                answer = p.readUntilQuiet(200ms);
            });
            EXPECT_EQ(runWorker(job), kResultReceiveFinished) << c.name;
        }
        EXPECT_FALSE(watchdog.fired()) << c.name;
        EXPECT_EQ(greeting, ">\r\n>QV_UPDATE 7D0!\r\n\r\n") << c.name;
        EXPECT_EQ(phasesSeen, c.received ? std::vector<int>{kPhaseReceiving} : std::vector<int>{}) << c.name;
        EXPECT_EQ(answer, c.answer) << c.name;
        EXPECT_EQ(job.receiveFailure.load(), c.failure) << c.name;
        EXPECT_EQ(job.totalBytes.load(), 2000u) << c.name;
        EXPECT_EQ(job.phase.load(), kPhaseNone) << c.name;
        EXPECT_EQ(job.extraBytes.load(), c.extra) << c.name;
        if (c.output == Writable) {
            const std::string file = readFile(job.outputPath);
            if (c.replaced) {
                ASSERT_EQ(file.size(), 16u + 2000u) << c.name;
                EXPECT_EQ(file.substr(0, 16), "VORN LUMEN CORP ") << c.name;
                EXPECT_EQ(file.substr(16, 1024), std::string(1024, '\x61')) << c.name;
                EXPECT_EQ(file.substr(16 + 1024), std::string(2000 - 1024, '\x62')) << c.name;
            } else {
                EXPECT_EQ(file, oldImage) << c.name;
            }
            EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << c.name;
        }
    }
}

TEST_F(JobTest, HangUpDuringAReceptionEndsTheReceiveJobWithAPortError)
{
    PtyPeer peer;
    TransferJob job;
    job.kind = JobKind::ReceiveData;
    job.portDevice = peer.slavePath();
    job.outputPath = (dir_ / "out.img").string();
    Watchdog watchdog(job.cancelRequest, 5s);
    Clock::time_point hungUp;
    {
        ScriptedPeer box(peer, [&](PtyPeer& p) {
            callAsBox(p, "");
            p.send("QV_UPDATE 1000!\r");
            p.readUntil("\r\n\r\n");
            p.read(1, 4s);
            XmodemPacket packet;
            p.send(packet.build(1, std::vector<std::uint8_t>(1024, 1), XmodemMode::Crc1K));
            p.read(1, 2s);
            hungUp = Clock::now();
            p.hangUp();
        });
        EXPECT_EQ(runWorker(job), kResultSerialPortError);
    }
    EXPECT_LT(Clock::now() - hungUp, 1s);
    EXPECT_FALSE(watchdog.fired());
    // The reception failed: no file, not even a partial one beside it.
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(JobTest, CancelHangUpAndABusyPortEndAJobWaitingForTheBox)
{
    const struct {
        const char* name;
        JobKind kind;
        bool hangUp;
        int result;
    } cases[] = {
        {"cancel send", JobKind::SendImage, false, kResultCancelled},
        {"cancel erase", JobKind::EraseApplication, false, kResultCancelled},
        {"cancel receive", JobKind::ReceiveData, false, kResultCancelled},
        {"hang-up send", JobKind::SendImage, true, kResultSerialPortError},
        {"hang-up erase", JobKind::EraseApplication, true, kResultSerialPortError},
        {"hang-up receive", JobKind::ReceiveData, true, kResultSerialPortError},
    };
    for (const auto& c : cases) {
        PtyPeer peer;
        TransferJob job;
        job.kind = c.kind;
        job.portDevice = peer.slavePath();
        job.fileType = kFileTypeChannel;
        job.imagePath = writeFile("channel.img", channelImage(100));
        job.outputPath = (dir_ / "out.img").string();
        Watchdog watchdog(job.cancelRequest, 5s);
        JobRunner runner;
        ASSERT_TRUE(runner.start(job));
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(runner.exitCode(), JobRunner::kStillActive) << c.name;

        // A second job on the same line is refused instead of interleaving bytes.
        TransferJob second;
        second.kind = JobKind::EraseApplication;
        second.portDevice = peer.slavePath();
        EXPECT_EQ(runWorker(second), kResultSerialPortError) << c.name;

        const auto start = Clock::now();
        if (c.hangUp)
            peer.hangUp();
        else
            job.cancelRequest.store(true);
        EXPECT_EQ(runner.wait(), c.result) << c.name;
        EXPECT_LT(Clock::now() - start, 1s) << c.name;
        EXPECT_FALSE(watchdog.fired()) << c.name;
    }
}

} // namespace
} // namespace updatetool
