#include "SerialPort.h"

#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PtyPeer.h"

namespace updatetool {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(SerialPortNames, IndexAndDevice)
{
    EXPECT_EQ(SerialPort::portNameForIndex(0), "COM1");
    EXPECT_EQ(SerialPort::portNameForIndex(3), "COM4");

    ::unsetenv("UPDATETOOL_COM1");
    ::setenv("UPDATETOOL_COM2", "/dev/pts/77", 1);
    ::setenv("UPDATETOOL_COM3", "", 1);
    const struct {
        std::string_view name;
        std::string_view device;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM2", "/dev/pts/77"},
        {"COM3", "/dev/ttyS2"}, // empty variable: the default
        {"COM4", "/dev/ttyS3"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"./relative/dev", "./relative/dev"},
        {"ttyACM1", "/dev/ttyACM1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SerialPort::resolvePortName(c.name), c.device) << c.name;
    ::unsetenv("UPDATETOOL_COM2");
    ::unsetenv("UPDATETOOL_COM3");
}

TEST(SerialPort, OpeningDropsBytesThatArrivedBeforeTheJob)
{
    // A prompt left over from an earlier session must not pass for the box's answer.
    PtyPeer peer;
    peer.send("Abort\r\n>");
    std::this_thread::sleep_for(50ms);
    SerialPort port;
    ASSERT_TRUE(port.open(peer.slavePath()));
    std::uint8_t byte = 0;
    EXPECT_FALSE(port.readByte(byte)) << "stale byte " << int(byte);
    peer.send(">");
    ASSERT_TRUE(port.readByte(byte));
    EXPECT_EQ(byte, '>');
}

TEST(SerialPort, ReadGivesUpAfterTheConstantPlusOneMillisecond)
{
    PtyPeer peer;
    SerialPort port;
    ASSERT_TRUE(port.open(peer.slavePath()));
    const struct {
        unsigned constantMs;
    } cases[] = {{30}, {100}, {10}};
    for (const auto& c : cases) {
        ASSERT_TRUE(port.setTimeouts(c.constantMs));
        std::uint8_t byte = 0x5A;
        const auto start = Clock::now();
        EXPECT_FALSE(port.readByte(byte));
        const auto took = msSince(start);
        EXPECT_GE(took, c.constantMs + 1) << c.constantMs;
        // Generous upper bound: the machine is shared, but it must never block on.
        EXPECT_LT(took, c.constantMs + 150) << c.constantMs;
        EXPECT_EQ(byte, 0x5A) << "the caller's byte is left alone";
        EXPECT_FALSE(port.lost());
    }
}

TEST(SerialPort, OpenAppliesTheThirtyThenHundredConstant)
{
    PtyPeer peer;
    SerialPort port;
    ASSERT_TRUE(port.open(peer.slavePath()));
    std::uint8_t byte = 0;
    auto start = Clock::now();
    EXPECT_FALSE(port.readByte(byte));
    EXPECT_GE(msSince(start), 101);
    ASSERT_TRUE(port.applyLineSettings());
    start = Clock::now();
    EXPECT_FALSE(port.readByte(byte));
    EXPECT_GE(msSince(start), 31);
    EXPECT_LT(msSince(start), 101);
}

TEST(SerialPort, BytesPassBothWaysUnchanged)
{
    PtyPeer peer;
    SerialPort port;
    ASSERT_TRUE(port.open(peer.slavePath()));
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);
    // Raw mode: CR, LF, XON/XOFF, ^C and 0xFF all arrive as sent.
    peer.send(all);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t byte = 0;
        ASSERT_TRUE(port.readByte(byte)) << i;
        ASSERT_EQ(byte, i);
    }
    EXPECT_EQ(port.writeBuffer(all), 256);
    EXPECT_TRUE(port.writeByte(0x0A));
    const std::string echoed = peer.read(257, 2s);
    ASSERT_EQ(echoed.size(), 257u);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), echoed.begin(), [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
    EXPECT_EQ(echoed.back(), '\n');
}

TEST(SerialPort, SecondOpenOfTheSameDeviceFails)
{
    PtyPeer peer;
    SerialPort first;
    ASSERT_TRUE(first.open(peer.slavePath()));
    SerialPort second;
    EXPECT_FALSE(second.open(peer.slavePath()));
    EXPECT_FALSE(second.isOpen());
    ASSERT_TRUE(first.close());
    EXPECT_TRUE(second.open(peer.slavePath()));
}

TEST(SerialPort, OpenFailsForAMissingDeviceOrAPlainFile)
{
    SerialPort port;
    EXPECT_FALSE(port.open("/nonexistent/ttyX"));
    EXPECT_FALSE(port.open("/dev/null")); // not a terminal: settings refused
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialPort, HangUpIsNoticedPromptly)
{
    PtyPeer peer;
    SerialPort port;
    ASSERT_TRUE(port.open(peer.slavePath()));
    peer.hangUp();
    const auto start = Clock::now();
    std::uint8_t byte = 0;
    EXPECT_FALSE(port.readByte(byte));
    EXPECT_TRUE(port.lost());
    EXPECT_LT(msSince(start), 50);
    EXPECT_FALSE(port.readByte(byte));
    EXPECT_EQ(port.writeBuffer(std::vector<std::uint8_t>(10, 1)), -1);
    EXPECT_TRUE(port.close());
}

TEST(SerialPort, CancelEndsABufferWriteEarly)
{
    PtyPeer peer; // never reads: the line fills up
    std::atomic<bool> cancel{false};
    SerialPort port(&cancel);
    ASSERT_TRUE(port.open(peer.slavePath()));
    const std::vector<std::uint8_t> bytes(4 * 1024 * 1024, 0x55);
    auto writing = std::async(std::launch::async, [&] { return port.writeBuffer(bytes); });
    EXPECT_EQ(writing.wait_for(200ms), std::future_status::timeout);
    const auto start = Clock::now();
    cancel.store(true);
    ASSERT_EQ(writing.wait_for(2s), std::future_status::ready);
    EXPECT_LT(msSince(start), 500);
    const long written = writing.get();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<long>(bytes.size()));
    // What was written is what the peer can read.
    EXPECT_EQ(peer.readUntilQuiet(100ms, 10s).size(), static_cast<std::size_t>(written));
}

TEST(SerialPort, ByteStillGoesOutWithACancelPending)
{
    PtyPeer peer;
    std::atomic<bool> cancel{true};
    SerialPort port(&cancel);
    ASSERT_TRUE(port.open(peer.slavePath()));
    EXPECT_TRUE(port.writeByte(0x18));
    EXPECT_EQ(peer.readByte(1s), 0x18);
}

} // namespace
} // namespace updatetool
