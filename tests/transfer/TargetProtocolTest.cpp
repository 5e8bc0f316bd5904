#include "TargetProtocol.h"

#include <functional>

#include <time.h>

#include <gtest/gtest.h>

#include "PtyPeer.h"

namespace updatetool {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;
using test::ScriptedPeer;
using test::Watchdog;

// One exchange over a pseudo-terminal against a scripted box.
struct Line {
    PtyPeer peer;
    TransferJob job;
    SerialPort port{&job.cancelRequest};
    TargetProtocol protocol{port, job};

    Line()
    {
        if (!port.open(peer.slavePath()))
            throw std::runtime_error("cannot open the pseudo-terminal");
    }
};

TEST(Attention, EscEveryThirtyOneMillisecondsUntilThePrompt)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 5s);
    std::string heard;
    ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
        // A box being reset stays silent for a while.
        heard = peer.read(1000, 320ms);
        peer.send("boot noise\r\n>");
    });
    EXPECT_TRUE(line.protocol.attention());
    box.join();
    EXPECT_FALSE(watchdog.fired());
    EXPECT_EQ(heard.find_first_not_of('\x1B'), std::string::npos) << "only ESC goes out";
    // About ten in 320 ms; the shared machine may delay some.
    EXPECT_GE(heard.size(), 5u);
    EXPECT_LE(heard.size(), 11u);
}

TEST(Attention, NoEscWhileTheBoxTalks)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 5s);
    std::string heard;
    ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
        peer.readByte(); // the first ESC
        for (int i = 0; i < 20; ++i) {
            peer.send("x");
            heard += peer.read(10, 10ms);
        }
        peer.send(">");
    });
    EXPECT_TRUE(line.protocol.attention());
    box.join();
    EXPECT_EQ(heard, "");
}

TEST(Identify, EndsAtAPromptThatStartsALine)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 5s);
    std::optional<std::string> command;
    std::atomic<Clock::rep> finalPromptSent{0};
    ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
        command = peer.readUntil("\r\n");
        peer.send("QV_IDENT\r\nSTB monitor a>b, version 1.23456789\r\nxx>");
        std::this_thread::sleep_for(150ms);
        finalPromptSent.store(Clock::now().time_since_epoch().count());
        peer.send("\r\n>");
    });
    EXPECT_TRUE(line.protocol.identify());
    const auto returned = Clock::now().time_since_epoch().count();
    box.join();
    EXPECT_EQ(command, "QV_IDENT\r\n");
    EXPECT_GE(returned, finalPromptSent.load()) << "a '>' inside a line ended the wait";
}

TEST(AnnounceUpdate, Answers)
{
    const struct {
        const char* reply;
        bool accepted;
        int result;
    } cases[] = {
        {"QV_UPDATE 11170!\r\nOK\r\n", true, 0},
        {"QV_UPDATE 11170!\r\n\n", true, 0},
        {"QV_UPDATE 11170!\r\n?\r\n", false, kResultTransferFail},
        {"QV_UPDATE ?? echo\r\nready\n", true, 0}, // a '?' in the echo counts for nothing
        {"\nxx?", false, kResultTransferFail},
        // Late prompts for earlier ESCs come before the echo.
        {"\r\n>\r\n>QV_UPDATE 11170!\r\n?\r\n", false, kResultTransferFail},
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 5s);
        std::optional<std::string> command;
        ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
            command = peer.readUntil("\r\n");
            peer.send(c.reply);
        });
        EXPECT_EQ(line.protocol.announceUpdate(70000), c.accepted) << c.reply;
        box.join();
        EXPECT_EQ(command, "QV_UPDATE 11170!\r\n");
        if (!c.accepted) {
            EXPECT_EQ(line.job.result.load(), c.result) << c.reply;
        }
        EXPECT_FALSE(watchdog.fired()) << c.reply;
    }
}

TEST(AwaitCompletion, LastLineBeforeThePrompt)
{
    const struct {
        const char* reply;
        bool done;
    } cases[] = {
        {"Done\r\n>", true},
        {"Writing flash\r\nDone\r\n>", true},
        {"Done\n>", true},
        {"Done.\r\n>", false},
        {" Done\r\n>", false},
        {"Abort\r\n>", false},
        {"done\r\n>", false},
        {">", false}, // no line at all
        {"Done\r\n\r\n>", false}, // the last line is the empty one
        {"50%>\r\nDone\r\n>", true}, // a '>' inside a line does not end the wait
        {"Done>\r\n>", false},
        {"\r\n>\r\n>Writing\r\nDone\r\n>", true}, // late prompts before the reply
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 5s);
        ScriptedPeer box(line.peer, [&](PtyPeer& peer) { peer.send(c.reply); });
        EXPECT_EQ(line.protocol.awaitCompletion(), c.done) << c.reply;
        box.join();
        if (!c.done) {
            EXPECT_EQ(line.job.result.load(), kResultUpdateFail) << c.reply;
        }
        EXPECT_FALSE(watchdog.fired()) << c.reply;
    }
}

TEST(EraseAll, OnlyALineWhoseLettersBeginWithDoneEndsIt)
{
    const struct {
        const char* reply;
        bool done;
    } cases[] = {
        {"QV_ERASEALL\r\nDone\r\n>", true},
        {"Done!\r\n", true},
        {"  D-o-n-e 100%\r\n", true},
        {"Done.\n", true},
        {"Doneness\r\n", true},
        {"Erase Done\r\n", false},
        {"done\r\n", false},
        {"Don\r\ne\r\n", false},
        {"12345\r\n\r\nDone\x01", true}, // lines without letters are skipped
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 1500ms);
        std::optional<std::string> command;
        ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
            command = peer.readUntil("\r\n");
            peer.send(c.reply);
        });
        EXPECT_EQ(line.protocol.eraseAll(), c.done) << c.reply;
        box.join();
        EXPECT_EQ(command, "QV_ERASEALL\r\n");
        EXPECT_TRUE(line.job.eraseStarted.load());
        // A reply that does not end the exchange leaves it waiting until cancelled.
        EXPECT_EQ(watchdog.fired(), !c.done) << c.reply;
    }
}

TEST(Restart, SendsTheCommandAndReadsNothing)
{
    Line line;
    line.peer.send("anything");
    EXPECT_TRUE(line.protocol.restart());
    EXPECT_EQ(line.peer.read(100, 100ms), "QV_RESTART\r\n");
}

TEST(MonitorRole, AttentionAndCommandLoop)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 5s);
    std::string transcript;
    ScriptedPeer box(line.peer, [&](PtyPeer& peer) {
        peer.send("garbage");
        const bool quiet = peer.read(1, 100ms).empty();
        peer.send("\x1B");
        transcript += *peer.readUntil(">\r\n>");
        transcript += quiet ? "" : "[answered garbage]";
        const auto typeLine = [&](std::string_view typed, std::string_view until) {
            peer.send(typed);
            transcript += peer.readUntil(until).value_or("[timeout]");
        };
        typeLine("help\r", "\r\n>");
        typeLine("\r", "\r\n>");
        typeLine("QV_UPDATE 1F\r", "\r\n?\r\n>");
        typeLine("QV_UPDATE 1F0001!\r", "\r\n?\r\n>");
        typeLine("QV_UPDATE 123456789!\r", "\r\n?\r\n>");
        typeLine("qv_updaX\bte 11170!\n\r", "\r\n\r\n");
    });
    EXPECT_TRUE(line.protocol.awaitAttention());
    EXPECT_TRUE(line.protocol.commandLoop());
    box.join();
    EXPECT_FALSE(watchdog.fired());
    EXPECT_EQ(transcript,
              ">\r\n>"
              "HELP\r\n>"
              "\r\n>"
              "QV_UPDATE 1F\r\n?\r\n>"
              "QV_UPDATE 1F0001!\r\n?\r\n>"
              "QV_UPDATE 123456789!\r\n?\r\n>"
              "QV_UPDAX\b \bTE 11170!\r\n\r\n");
    EXPECT_EQ(line.job.totalBytes.load(), 70000u);
}

// Every wait of the protocol ends on a cancel request with result 1 and on a
// vanished device with result 3, promptly, while the box stays silent.
struct Exchange {
    const char* name;
    std::function<bool(TargetProtocol&)> run;
};

const Exchange kWaits[] = {
    {"attention", [](TargetProtocol& p) { return p.attention(); }},
    {"identify", [](TargetProtocol& p) { return p.identify(); }},
    {"announce", [](TargetProtocol& p) { return p.announceUpdate(100); }},
    {"await completion", [](TargetProtocol& p) { return p.awaitCompletion(); }},
    {"erase all", [](TargetProtocol& p) { return p.eraseAll(); }},
    {"await attention", [](TargetProtocol& p) { return p.awaitAttention(); }},
    {"command loop", [](TargetProtocol& p) { return p.commandLoop(); }},
};

TEST(ProtocolWaits, CancelEndsEachWithResultOne)
{
    for (const auto& exchange : kWaits) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 150ms);
        const auto start = Clock::now();
        EXPECT_FALSE(exchange.run(line.protocol)) << exchange.name;
        EXPECT_LT(Clock::now() - start, 1s) << exchange.name;
        EXPECT_EQ(line.job.result.load(), kResultCancelled) << exchange.name;
    }
}

TEST(ProtocolWaits, HangUpEndsEachWithResultThreeWithinASecond)
{
    for (const auto& exchange : kWaits) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 5s);
        ScriptedPeer box(line.peer, [](PtyPeer& peer) {
            std::this_thread::sleep_for(100ms);
            peer.hangUp();
        });
        const auto start = Clock::now();
        EXPECT_FALSE(exchange.run(line.protocol)) << exchange.name;
        EXPECT_LT(Clock::now() - start, 1s) << exchange.name;
        EXPECT_EQ(line.job.result.load(), kResultSerialPortError) << exchange.name;
        EXPECT_FALSE(watchdog.fired()) << exchange.name;
    }
}

TEST(ProtocolWaits, ASilentBoxCostsAlmostNoProcessorTime)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 600ms);
    timespec before{};
    timespec after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    EXPECT_FALSE(line.protocol.awaitCompletion());
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const double cpuMs = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    EXPECT_EQ(line.job.result.load(), kResultCancelled);
    EXPECT_LT(cpuMs, 60.0) << "the wait spins instead of blocking";
}

} // namespace
} // namespace updatetool
