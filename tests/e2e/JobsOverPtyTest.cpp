// Whole jobs over a pseudo-terminal, with boxsim playing the box.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "JobRunner.h"
#include "TestSupport.h"
#include "TransferJob.h"

using namespace updatetool;
using namespace testsupport;
using namespace std::chrono_literals;

namespace {

constexpr auto kJobTimeout = 30s;

class JobsOverPty : public ::testing::Test {
protected:
    // Starts boxsim with a log (and a save file in the monitor role).
    void startBox(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--log", logPath()});
        if (std::find(args.begin(), args.end(), "upload") == args.end())
            args.insert(args.end(), {"--save", savePath()});
        ASSERT_TRUE(box.start(args));
    }
    std::string logPath() const { return scratch.path("box.log"); }
    std::string savePath() const { return scratch.path("box.save"); }
    std::string boxLog() const { return readText(logPath()); }

    std::string writeImage(const Bytes& image, const std::string& name = "image.img")
    {
        const std::string path = scratch.path(name);
        writeFile(path, image);
        return path;
    }

    void prepareSend(TransferJob& job, const std::string& imagePath, std::uint8_t fileType, bool autoRestart = true)
    {
        job.kind = JobKind::SendImage;
        job.portDevice = box.device();
        job.imagePath = imagePath;
        job.fileType = fileType;
        job.autoRestart = autoRestart;
    }

    // Runs the job to its end; a job that hangs is cancelled and fails the test.
    int runToEnd(TransferJob& job, std::chrono::milliseconds timeout = kJobTimeout)
    {
        JobRunner runner;
        runner.start(job);
        return waitForEnd(runner, job, timeout);
    }

    static int waitForEnd(JobRunner& runner, TransferJob& job, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const int code = runner.exitCode();
            if (code != JobRunner::kStillActive)
                return code;
            if (std::chrono::steady_clock::now() >= deadline) {
                ADD_FAILURE() << "job still running after its time-out";
                job.cancelRequest.store(true);
                runner.wait();
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    TempDir scratch;
    BoxSimProcess box;
};

// --- Sending images ---------------------------------------------------------

struct SendCase {
    const char* name;
    const char* magic;
    std::uint8_t fileType;
    std::size_t size;
    bool checksumMode;
    unsigned packets;   // what the box must see: no extra padded packet
};

class SendImage : public JobsOverPty, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendImage, ArrivesByteExactInTheChosenMode)
{
    const SendCase& c = GetParam();
    std::vector<std::string> args;
    if (c.checksumMode)
        args = {"--mode", "checksum"};
    startBox(args);
    const Bytes image = makeImage(c.magic, c.size, 7);
    TransferJob job;
    prepareSend(job, writeImage(image), c.fileType, false);

    EXPECT_EQ(runToEnd(job), kResultSuccess);
    EXPECT_EQ(readFile(savePath()), image);
    EXPECT_EQ(job.totalBytes.load(), c.size);
    EXPECT_EQ(job.bytesDone.load(), c.size);
    const std::string log = boxLog();
    EXPECT_NE(log.find(c.checksumMode ? "start checksum" : "start crc"), std::string::npos);
    EXPECT_NE(log.find("eot after " + std::to_string(c.packets) + " packets"), std::string::npos) << log;
    EXPECT_EQ(log.find("bad fill"), std::string::npos) << log;
    EXPECT_EQ(log.find("packet bad"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, SendImage,
    ::testing::Values(
        SendCase{"ApplicationCrc", "VORN", kFileTypeApplication, 70000, false, 69},
        SendCase{"ApplicationChecksum", "VORN", kFileTypeApplication, 70000, true, 547},
        SendCase{"ChannelCrc", "QVCH", kFileTypeChannel, 30000, false, 30},
        SendCase{"ChannelChecksum", "QVCH", kFileTypeChannel, 30000, true, 235},
        SendCase{"BootCrcExactPackets", "QVBT", kFileTypeBoot, 8192, false, 8},
        SendCase{"BootChecksumExactPackets", "QVBT", kFileTypeBoot, 1024, true, 8},
        // 300 packets wrap the block number past 255.
        SendCase{"BlockNumbersWrap", "QVBT", kFileTypeBoot, 300 * 128 + 5, true, 301},
        SendCase{"TinyBootImage", "QVBT", kFileTypeBoot, 4, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct RestartCase {
    const char* name;
    bool autoRestart;
};

class AutoRestart : public JobsOverPty, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(AutoRestart, SendsQvRestartOnlyWhenAsked)
{
    startBox({});
    TransferJob job;
    prepareSend(job, writeImage(makeImage("QVCH", 5000)), kFileTypeChannel, GetParam().autoRestart);
    ASSERT_EQ(runToEnd(job), kResultSuccess);
    // The box ends its session on QV_RESTART, or after a second without it.
    ASSERT_TRUE(waitForText(logPath(), "session end 1"));
    EXPECT_EQ(boxLog().find("command QV_RESTART") != std::string::npos, GetParam().autoRestart) << boxLog();
}

INSTANTIATE_TEST_SUITE_P(Jobs, AutoRestart,
                         ::testing::Values(RestartCase{"On", true}, RestartCase{"Off", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobsOverPty, EraseAfterASendOnTheSameBoxLeavesSizesAndTimesAlone)
{
    startBox({});
    TransferJob job;
    prepareSend(job, writeImage(makeImage("QVCH", 3000)), kFileTypeChannel);
    ASSERT_EQ(runToEnd(job), kResultSuccess);
    const std::uint32_t startTick = job.startTick.load();
    const std::uint32_t endTick = job.endTick.load();

    // The device is closed and opened again between jobs.
    job.kind = JobKind::EraseApplication;
    EXPECT_EQ(runToEnd(job), kResultSuccess);
    EXPECT_TRUE(job.eraseStarted.load());
    EXPECT_EQ(job.totalBytes.load(), 3000u);
    EXPECT_EQ(job.startTick.load(), startTick);
    EXPECT_EQ(job.endTick.load(), endTick);
    EXPECT_NE(boxLog().find("command QV_ERASEALL"), std::string::npos);
}

// --- Receiving uploads ------------------------------------------------------

struct ReceiveCase {
    const char* name;
    const char* packetSize;
    std::size_t size;
    std::vector<std::string> faults;
    const char* expectedInLog;
};

class ReceiveData : public JobsOverPty, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveData, WritesSignatureAndExactlyTheAnnouncedBytes)
{
    const ReceiveCase& c = GetParam();
    const Bytes data = randomBytes(c.size, 11);
    std::vector<std::string> args{"--role", "upload", "--file", writeImage(data, "upload.bin"), "--xmodem",
                                  c.packetSize, "--packet-timeout", "300"};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    startBox(args);
    TransferJob job;
    job.kind = JobKind::ReceiveData;
    job.portDevice = box.device();
    job.outputPath = scratch.path("received.img");

    EXPECT_EQ(runToEnd(job), kResultReceiveFinished);
    Bytes expected(16);
    std::copy_n("VORN LUMEN CORP ", 16, expected.begin());
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(readFile(job.outputPath), expected);
    EXPECT_EQ(job.totalBytes.load(), c.size);
    EXPECT_TRUE(waitForText(logPath(), "final Done")) << boxLog();
    EXPECT_NE(boxLog().find(c.expectedInLog), std::string::npos) << boxLog();
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, ReceiveData,
    ::testing::Values(
        ReceiveCase{"Crc1K", "1k", 30000, {}, "start crc 1024"},
        ReceiveCase{"Crc128", "128", 30000, {}, "start crc 128"},
        ReceiveCase{"ExactPackets", "1k", 4096, {}, "eot acked"},
        ReceiveCase{"SmallestSize", "128", 32, {}, "eot acked"},
        ReceiveCase{"CorruptedPacketIsRepeated", "1k", 20000, {"--corrupt-every", "3"}, "packet 3 nak"},
        ReceiveCase{"LostAckRepeatsPacket", "1k", 20000, {"--drop-ack", "2"}, "ack ignored 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobsOverPty, ReceiveEndedShortLeavesAnExistingOutputAsItWas)
{
    // The box announces 0x2000 bytes and sends 5000.
    startBox({"--role", "upload", "--file", writeImage(randomBytes(5000, 3), "upload.bin"), "--type-size", "2000"});
    TransferJob job;
    job.kind = JobKind::ReceiveData;
    job.portDevice = box.device();
    job.outputPath = writeImage(randomBytes(851984, 4), "received.img");
    const Bytes before = readFile(job.outputPath);
    EXPECT_EQ(runToEnd(job), kResultReceiveFinished);
    EXPECT_EQ(job.receiveFailure.load(), kResultTransferFail);
    EXPECT_TRUE(readFile(job.outputPath) == before);
    EXPECT_TRUE(waitForText(logPath(), "final Done")) << boxLog();
}

// --- Faults on the monitor's side --------------------------------------------

struct MonitorFaultCase {
    const char* name;
    std::vector<std::string> faults;
    int result;
    const char* expectedInLog;
    bool dataArrives;
};

class MonitorFault : public JobsOverPty, public ::testing::WithParamInterface<MonitorFaultCase> {};

TEST_P(MonitorFault, EndsWithTheResultTheBoxCaused)
{
    const MonitorFaultCase& c = GetParam();
    std::vector<std::string> args{"--packet-timeout", "300"};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    startBox(args);
    const Bytes image = makeImage("VORN", 20000, 5);
    TransferJob job;
    prepareSend(job, writeImage(image), kFileTypeApplication);
    EXPECT_EQ(runToEnd(job), c.result);
    EXPECT_TRUE(waitForText(logPath(), c.expectedInLog)) << boxLog();
    if (c.dataArrives) {
        EXPECT_EQ(readFile(savePath()), image);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, MonitorFault,
    ::testing::Values(
        MonitorFaultCase{"CorruptedPacketIsRepeated", {"--corrupt-every", "4"}, kResultSuccess, "packet 8 nak (injected)", true},
        MonitorFaultCase{"CorruptedChecksumPacket", {"--mode", "checksum", "--corrupt-every", "7"}, kResultSuccess, "packet 14 nak (injected)", true},
        MonitorFaultCase{"DroppedAck", {"--drop-ack", "2"}, kResultSuccess, "packet 2 repeat", true},
        MonitorFaultCase{"Refused", {"--refuse"}, kResultTransferFail, "refused", false},
        MonitorFaultCase{"AbortAfterTransfer", {"--abort"}, kResultUpdateFail, "reply Abort", true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Port and file failures -------------------------------------------------

TEST_F(JobsOverPty, NoSuchDeviceIsASerialPortError)
{
    TransferJob job;
    job.kind = JobKind::SendImage;
    job.portDevice = scratch.path("no-such-tty");
    job.fileType = kFileTypeChannel;
    job.imagePath = writeImage(makeImage("QVCH", 100));
    EXPECT_EQ(runToEnd(job), kResultSerialPortError);

    job.kind = JobKind::EraseApplication;
    EXPECT_EQ(runToEnd(job), kResultSerialPortError);
    job.kind = JobKind::ReceiveData;
    job.outputPath = scratch.path("out.img");
    EXPECT_EQ(runToEnd(job), kResultSerialPortError);
}

TEST_F(JobsOverPty, BadApplicationHeaderNeverOpensThePort)
{
    startBox({});
    Bytes image = makeImage("VORN", 2000);
    image[13] ^= 0x01;
    TransferJob job;
    prepareSend(job, writeImage(image), kFileTypeApplication);
    EXPECT_EQ(runToEnd(job), kResultFileInvalid);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(boxLog(), "");   // not even one ESC reached the box
}

TEST_F(JobsOverPty, HangUpMidTransferEndsWithinASecond)
{
    startBox({"--hangup-after", "5"});
    TransferJob job;
    prepareSend(job, writeImage(makeImage("QVCH", 200000)), kFileTypeChannel);
    JobRunner runner;
    runner.start(job);
    ASSERT_TRUE(box.hasExited(10s));
    const auto hungUp = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForEnd(runner, job, 5s), kResultSerialPortError);
    EXPECT_LT(std::chrono::steady_clock::now() - hungUp, 1s);
}

TEST_F(JobsOverPty, SecondJobOnABusyPortFails)
{
    startBox({"--silent"});
    TransferJob first;
    first.kind = JobKind::EraseApplication;
    first.portDevice = box.device();
    JobRunner runner;
    runner.start(first);
    // The first job holds the port while it calls the silent box.
    ASSERT_TRUE(waitForText(logPath(), "attention ignored"));

    TransferJob second;
    second.kind = JobKind::EraseApplication;
    second.portDevice = box.device();
    EXPECT_EQ(runToEnd(second, 5s), kResultSerialPortError);

    first.cancelRequest.store(true);
    EXPECT_EQ(waitForEnd(runner, first, 5s), kResultCancelled);
}

// --- Cancelling at each wait ------------------------------------------------

struct CancelCase {
    const char* name;
    JobKind kind;
    std::vector<std::string> boxArgs;
    const char* cancelWhenLogged;   // cancel once the box has logged this
    const char* boxSeesAfterCancel; // empty: nothing to check
};

class CancelJob : public JobsOverPty, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelJob, EndsAsCancelledWithinASecond)
{
    const CancelCase& c = GetParam();
    std::vector<std::string> args = c.boxArgs;
    if (c.kind == JobKind::ReceiveData)
        args.insert(args.end(), {"--file", writeImage(randomBytes(100, 1), "upload.bin")});
    startBox(args);
    TransferJob job;
    job.kind = c.kind;
    job.portDevice = box.device();
    job.fileType = kFileTypeChannel;
    job.imagePath = writeImage(makeImage("QVCH", 20000));
    job.outputPath = scratch.path("received.img");
    JobRunner runner;
    runner.start(job);
    if (*c.cancelWhenLogged != '\0') {
        ASSERT_TRUE(waitForText(logPath(), c.cancelWhenLogged)) << boxLog();
    } else {
        std::this_thread::sleep_for(200ms);
    }

    const auto cancelled = std::chrono::steady_clock::now();
    job.cancelRequest.store(true);
    EXPECT_EQ(waitForEnd(runner, job, 5s), kResultCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 1s);
    if (*c.boxSeesAfterCancel != '\0') {
        EXPECT_TRUE(waitForText(logPath(), c.boxSeesAfterCancel)) << boxLog();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, CancelJob,
    ::testing::Values(
        CancelCase{"SendWaitingForPrompt", JobKind::SendImage, {"--silent"}, "attention ignored", ""},
        CancelCase{"EraseWaitingForPrompt", JobKind::EraseApplication, {"--silent"}, "attention ignored", ""},
        // 960 bytes a second: the transfer is still running when the cancel comes.
        CancelCase{"SendDuringTransfer", JobKind::SendImage, {"--baud", "9600"}, "packet 1 ok", "cancel received"},
        CancelCase{"ReceiveWaitingForAttention", JobKind::ReceiveData, {"--role", "upload", "--silent"}, "", ""},
        // A refused size leaves the tool prompting for the next command.
        CancelCase{"ReceiveAfterRefusedSize", JobKind::ReceiveData, {"--role", "upload", "--type-size", "1F"}, "refused", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
