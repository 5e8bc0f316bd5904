#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFile.h"
#include "PtyPeer.h"
#include "XmodemPacket.h"
#include "XmodemReceiver.h"
#include "XmodemSender.h"

namespace updatetool {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using test::ScriptedPeer;
using test::Watchdog;
namespace x = xmodem;

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 31 + i / 256) & 0xFF);
    return bytes;
}

std::string asString(std::span<const std::uint8_t> bytes)
{
    return {bytes.begin(), bytes.end()};
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The bytes from the file's position to its end, as the box would be told.
std::uint32_t sizeFromHere(std::FILE* file)
{
    const long here = std::ftell(file);
    std::fseek(file, 0, SEEK_END);
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return static_cast<std::uint32_t>(end - here);
}

std::unique_ptr<std::FILE, FileCloser> fileWith(const std::vector<std::uint8_t>& bytes)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    return file;
}

struct Line {
    PtyPeer peer;
    TransferJob job;
    SerialPort port{&job.cancelRequest};

    Line()
    {
        if (!port.open(peer.slavePath()))
            throw std::runtime_error("cannot open the pseudo-terminal");
    }
};

// What a receiver on the far end saw: each packet, as the raw bytes.
struct ReceiverSide {
    std::vector<std::string> packets;
    std::string afterEot;
};

// Receives packet after packet, ACKing each, until EOT.
ReceiverSide receiveAll(PtyPeer& peer, std::uint8_t start, std::size_t packetSize)
{
    ReceiverSide seen;
    peer.sendByte(start);
    for (;;) {
        const auto header = peer.readByte(2s);
        if (!header)
            return seen;
        if (*header == x::kEot) {
            peer.sendByte(x::kAck);
            seen.afterEot = peer.read(10, 100ms);
            return seen;
        }
        seen.packets.push_back(std::string(1, static_cast<char>(*header)) + peer.read(packetSize - 1, 2s));
        peer.sendByte(x::kAck);
    }
}

TEST(XmodemSender, PacketsInTheModeTheReceiverAsksFor)
{
    const struct {
        const char* name;
        std::uint8_t start;
        std::size_t fileSize;
        std::size_t packets;
        // The size the box was told, when the file grew after that.
        std::optional<std::size_t> announced = std::nullopt;
    } cases[] = {
        {"1K, one byte", 'C', 1, 1},
        {"1K, exact multiple: no padded packet", 'C', 2048, 2},
        {"1K, one byte over", 'C', 2049, 3},
        {"128, one byte", x::kNak, 1, 1},
        {"128, exact multiple", x::kNak, 384, 3},
        {"128, a few bytes short", x::kNak, 380, 3},
        {"empty file: EOT only", 'C', 0, 0},
        {"1K, file grew: only the announced bytes", 'C', 5000, 2, 2000},
        {"128, file grew: only the announced bytes", x::kNak, 500, 2, 200},
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 10s);
        const auto data = pattern(c.fileSize);
        auto file = fileWith(data);
        const std::size_t sent = c.announced.value_or(c.fileSize);
        const XmodemMode mode = c.start == 'C' ? XmodemMode::Crc1K : XmodemMode::Checksum128;
        const std::size_t packetSize = XmodemPacket::dataSize(mode) + 3 + XmodemPacket::checkSize(mode);
        ReceiverSide seen;
        ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) { seen = receiveAll(peer, c.start, packetSize); });
        XmodemSender sender(line.port, line.job);
        EXPECT_TRUE(sender.send(file.get(), static_cast<std::uint32_t>(sent))) << c.name;
        receiver.join();
        EXPECT_EQ(sender.mode(), mode) << c.name;
        ASSERT_EQ(seen.packets.size(), c.packets) << c.name;
        for (std::size_t i = 0; i < c.packets; ++i) {
            const std::size_t offset = i * XmodemPacket::dataSize(mode);
            XmodemPacket expected;
            const auto chunk = std::span(data).subspan(offset, std::min(XmodemPacket::dataSize(mode), sent - offset));
            EXPECT_EQ(seen.packets[i], asString(expected.build(static_cast<std::uint8_t>(i + 1), chunk, mode))) << c.name << " packet " << i;
        }
        EXPECT_EQ(seen.afterEot, "") << c.name;
        EXPECT_EQ(line.job.bytesDone.load(), sent) << c.name;
    }
}

TEST(XmodemSender, BlockNumbersWrapFrom255ToZero)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 20s);
    const auto data = pattern(258 * 128);
    auto file = fileWith(data);
    ReceiverSide seen;
    ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) { seen = receiveAll(peer, x::kNak, 132); });
    XmodemSender sender(line.port, line.job);
    EXPECT_TRUE(sender.send(file.get(), sizeFromHere(file.get())));
    receiver.join();
    ASSERT_EQ(seen.packets.size(), 258u);
    const struct {
        std::size_t packet;
        std::uint8_t block;
        std::uint8_t complement;
    } cases[] = {{0, 1, 254}, {254, 255, 0}, {255, 0, 255}, {256, 1, 254}, {257, 2, 253}};
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<std::uint8_t>(seen.packets[c.packet][1]), c.block) << c.packet;
        EXPECT_EQ(static_cast<std::uint8_t>(seen.packets[c.packet][2]), c.complement) << c.packet;
    }
}

// The receiver's answers to the first packet, and what the sender does next.
TEST(XmodemSender, AnswersToAPacket)
{
    const struct {
        const char* name;
        std::vector<std::string> answers; // what the receiver sends after each thing it hears
        std::string expected; // 'P' packet 1, 'Q' packet 2, 'E' EOT, 'X' CAN
        bool succeeds;
        int result;
        std::uint32_t announced = 1500;
    } cases[] = {
        {"ACK moves on", {"\x06", "\x06", "\x06"}, "PQE", true, 0},
        {"NAK repeats", {"\x15", "\x15", "\x06", "\x06", "\x06"}, "PPPQE", true, 0},
        // A receiver that found packet 1 spoilt asks again with 'C': after a grace
        // time without an ACK the packet goes again, and a later NAK still lines up.
        {"'C' for a spoilt first packet repeats it", {"C", "\x06", "\x15", "\x06", "\x06"}, "PPQQE", true, 0},
        // A 'C' that was queued or crossed packet 1 is followed by its ACK: sent once.
        {"stale 'C' before the first ACK", {"C\x06", "\x15", "\x06", "\x06"}, "PQQE", true, 0},
        {"'C' after the first ACK is ignored", {"\x06", "C\x06", "\x06"}, "PQE", true, 0},
        {"NAK on EOT repeats it", {"\x06", "\x06", "\x15", "\x06"}, "PQEE", true, 0},
        {"CAN gives 6, nothing sent back", {"\x18"}, "P", false, kResultTransferFail},
        {"CAN on EOT gives 6", {"\x06", "\x06", "\x18"}, "PQE", false, kResultTransferFail},
        {"other bytes ignored", {"z\x06", "\x01\x06", "\x06"}, "PQE", true, 0},
        // The file was cut short after the box was told its size: the box is stopped.
        {"file shorter than announced gives 2", {"\x06", "", ""}, "PXX", false, kResultImageFileError, 2048},
    };
    const auto data = pattern(1500);
    XmodemPacket first;
    XmodemPacket second;
    const std::string packet1 = asString(first.build(1, std::span(data).first(1024), XmodemMode::Crc1K));
    const std::string packet2 = asString(second.build(2, std::span(data).subspan(1024), XmodemMode::Crc1K));
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 3s);
        auto file = fileWith(data);
        std::string heard;
        ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) {
            peer.send("C");
            for (const std::string& answer : c.answers) {
                const auto header = peer.readByte(2s);
                if (!header)
                    return;
                if (*header == x::kStx) {
                    const std::string packet = std::string(1, '\x02') + peer.read(1028, 2s);
                    heard += packet == packet1 ? "P" : packet == packet2 ? "Q" : "?";
                } else {
                    heard += *header == x::kEot ? "E" : *header == x::kCan ? "X" : "?";
                }
                peer.send(answer);
            }
            heard += peer.read(1, 100ms).empty() ? "" : "+";
        });
        XmodemSender sender(line.port, line.job);
        EXPECT_EQ(sender.send(file.get(), c.announced), c.succeeds) << c.name;
        receiver.join();
        // Nothing follows the last answer ('+' would show it).
        EXPECT_EQ(heard, c.expected) << c.name;
        if (!c.succeeds) {
            EXPECT_EQ(line.job.result.load(), c.result) << c.name;
        }
        if (c.result == kResultImageFileError) {
            EXPECT_EQ(line.job.imageProblem, "the file ends 1500 bytes in; the box was told 2048 bytes") << c.name;
        }
    }
}

// Before the start request the receiver may give up, or the monitor refuse after all.
TEST(XmodemSender, GivesUpWhenTheReceiverDoesBeforeTheStart)
{
    const struct {
        const char* before;
        bool succeeds;
    } cases[] = {
        {"\x18\x18", false},
        {"?", false},
        {"\r\n>\x18\x18", false},
        {"\x18zC", true}, // a single CAN is line noise
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 3s);
        auto file = fileWith(pattern(100));
        ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) {
            peer.send(c.before);
            if (c.succeeds) {
                peer.read(1029, 2s);
                peer.sendByte(x::kAck);
                peer.readByte(2s);
                peer.sendByte(x::kAck);
            }
        });
        XmodemSender sender(line.port, line.job);
        EXPECT_EQ(sender.send(file.get(), sizeFromHere(file.get())), c.succeeds) << c.before;
        receiver.join();
        EXPECT_FALSE(watchdog.fired()) << c.before;
        if (!c.succeeds) {
            EXPECT_EQ(line.job.result.load(), kResultTransferFail) << c.before;
        }
    }
}

TEST(XmodemSender, CancelWhileWaiting)
{
    const struct {
        const char* name;
        bool startRequested;
        std::string sentAfterCancel;
    } cases[] = {
        {"for the start request: nothing sent", false, ""},
        {"for an ACK: CAN CAN", true, "\x18\x18"},
    };
    for (const auto& c : cases) {
        Line line;
        auto file = fileWith(pattern(5000));
        std::string afterCancel;
        ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) {
            if (c.startRequested) {
                peer.send("C");
                peer.read(1029, 2s);
            }
            std::this_thread::sleep_for(50ms);
            line.job.cancelRequest.store(true);
            afterCancel = peer.read(10, 500ms);
        });
        XmodemSender sender(line.port, line.job);
        EXPECT_FALSE(sender.send(file.get(), sizeFromHere(file.get()))) << c.name;
        receiver.join();
        EXPECT_EQ(line.job.result.load(), kResultCancelled) << c.name;
        EXPECT_EQ(afterCancel, c.sentAfterCancel) << c.name;
    }
}

TEST(XmodemSender, HangUpGivesThreePromptly)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 5s);
    auto file = fileWith(pattern(5000));
    ScriptedPeer receiver(line.peer, [&](PtyPeer& peer) {
        peer.send("C");
        peer.read(1029, 2s);
        peer.hangUp();
    });
    const auto start = std::chrono::steady_clock::now();
    XmodemSender sender(line.port, line.job);
    EXPECT_FALSE(sender.send(file.get(), sizeFromHere(file.get())));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    receiver.join();
    EXPECT_EQ(line.job.result.load(), kResultSerialPortError);
}

// A sender on the far end, stepping through a script of packets.
struct Step {
    enum Kind { Packet, Eot, Cancel } kind;
    std::uint8_t block = 0;
    std::size_t size = 1024;
    enum Fault { None, BadCheck, BadComplement } fault = None;
};

std::string framed(const Step& step, std::uint8_t fill)
{
    XmodemPacket packet;
    std::vector<std::uint8_t> data(step.size, fill);
    const XmodemMode frame = step.size == 1024 ? XmodemMode::Crc1K : XmodemMode::Checksum128;
    std::string bytes = asString(packet.build(step.block, data, frame));
    if (frame == XmodemMode::Checksum128) {
        // The receiver starts in CRC mode: a 128-byte packet still carries two CRC bytes.
        bytes.pop_back();
        const std::uint16_t crc = crc16Xmodem(data);
        bytes += static_cast<char>(crc >> 8);
        bytes += static_cast<char>(crc & 0xFF);
    }
    if (step.fault == Step::BadCheck)
        bytes.back() ^= 0x01;
    if (step.fault == Step::BadComplement)
        bytes[2] ^= 0x01;
    return bytes;
}

TEST(XmodemReceiver, RepeatAndSequenceRules)
{
    using S = Step;
    const struct {
        const char* name;
        std::uint32_t announced;
        std::vector<Step> steps;
        std::string answers; // 'A' ACK, 'N' NAK, 'X' CAN CAN, '-' nothing
        bool succeeds;
        std::size_t stored;
    } cases[] = {
        {"two packets", 2048, {{S::Packet, 1}, {S::Packet, 2}, {S::Eot}}, "AAA", true, 2048},
        {"repeat is acknowledged, stored once", 2048, {{S::Packet, 1}, {S::Packet, 1}, {S::Packet, 2}, {S::Eot}}, "AAAA", true, 2048},
        {"skipped block: CAN CAN", 4096, {{S::Packet, 1}, {S::Packet, 3}}, "AX", false, 1024},
        {"first block not 1: CAN CAN", 4096, {{S::Packet, 2}}, "X", false, 0},
        {"bad check: NAK, then good", 2048, {{S::Packet, 1, 1024, S::BadCheck}, {S::Packet, 1}, {S::Eot}}, "NAA", true, 1024},
        {"bad complement: NAK", 2048, {{S::Packet, 1, 1024, S::BadComplement}, {S::Packet, 1}, {S::Eot}}, "NAA", true, 1024},
        {"128-byte packets in CRC mode", 300, {{S::Packet, 1, 128}, {S::Packet, 2, 128}, {S::Packet, 3, 128}, {S::Eot}}, "AAAA", true, 384},
        {"a packet beyond the announced size is acknowledged and dropped", 1000,
         {{S::Packet, 1}, {S::Packet, 2}, {S::Eot}}, "AAA", true, 1024},
        {"sender cancels", 4096, {{S::Packet, 1}, {S::Cancel}}, "A-", false, 1024},
        {"EOT at once", 4096, {{S::Eot}}, "A", true, 0},
    };
    for (const auto& c : cases) {
        Line line;
        Watchdog watchdog(line.job.cancelRequest, 10s);
        std::string answers;
        std::string start;
        ScriptedPeer sender(line.peer, [&](PtyPeer& peer) {
            start = peer.read(1, 2s);
            std::uint8_t fill = 0x40;
            for (const Step& step : c.steps) {
                if (step.kind == S::Eot)
                    peer.sendByte(x::kEot);
                else if (step.kind == S::Cancel)
                    peer.send("\x18\x18");
                else
                    peer.send(framed(step, fill++));
                const std::string answer = peer.read(step.kind == S::Cancel ? 1 : 2, 300ms);
                answers += answer == "\x06" ? "A" : answer == "\x15" ? "N" : answer == "\x18\x18" ? "X" : answer.empty() ? "-" : "?";
            }
        });
        XmodemReceiver receiver(line.port, line.job);
        std::vector<std::uint8_t> buffer(kReceiveBufferSize);
        const auto outcome = receiver.receive(c.announced, buffer);
        sender.join();
        EXPECT_FALSE(watchdog.fired()) << c.name;
        EXPECT_EQ(start, "C") << c.name;
        EXPECT_EQ(answers, c.answers) << c.name;
        EXPECT_EQ(outcome.succeeded, c.succeeds) << c.name;
        EXPECT_EQ(outcome.stored, c.stored) << c.name;
        // Each stored packet holds its own fill byte, in order.
        std::uint8_t fill = 0x40;
        std::size_t at = 0;
        for (const Step& step : c.steps) {
            if (step.kind != S::Packet)
                continue;
            const std::uint8_t thisFill = fill++;
            if (step.fault != S::None || at >= outcome.stored)
                continue;
            if (buffer[at] == thisFill)
                at += step.size;
        }
        EXPECT_EQ(at, outcome.stored) << c.name;
        EXPECT_LE(line.job.bytesDone.load(), c.announced) << c.name;
    }
}

TEST(XmodemReceiver, NeverStoresPastTheBuffer)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 10s);
    std::string answers;
    ScriptedPeer sender(line.peer, [&](PtyPeer& peer) {
        peer.read(1, 2s);
        for (std::uint8_t block = 1; block <= 3; ++block) {
            peer.send(framed({Step::Packet, block}, 0x77));
            answers += peer.read(2, 300ms);
        }
    });
    XmodemReceiver receiver(line.port, line.job);
    std::vector<std::uint8_t> storage(2048 + 16, 0xEE);
    const auto buffer = std::span(storage).first(1500);
    const auto outcome = receiver.receive(0x1F0000, buffer);
    sender.join();
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.stored, 1024u);
    EXPECT_EQ(answers, "\x06\x18\x18");
    EXPECT_TRUE(std::all_of(storage.begin() + 1024, storage.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

TEST(XmodemReceiver, BlockNumbersWrapAndCancelSendsCanCan)
{
    Line line;
    Watchdog watchdog(line.job.cancelRequest, 20s);
    std::size_t acks = 0;
    std::string afterCancel;
    ScriptedPeer sender(line.peer, [&](PtyPeer& peer) {
        peer.read(1, 2s);
        for (int i = 1; i <= 258; ++i) {
            peer.send(framed({Step::Packet, static_cast<std::uint8_t>(i), 128}, static_cast<std::uint8_t>(i)));
            acks += peer.read(1, 1s) == "\x06";
        }
        line.job.cancelRequest.store(true);
        afterCancel = peer.read(2, 1s);
    });
    XmodemReceiver receiver(line.port, line.job);
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    const auto outcome = receiver.receive(0x1F0000, buffer);
    sender.join();
    EXPECT_EQ(acks, 258u);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.stored, 258u * 128);
    EXPECT_EQ(buffer[255 * 128], 0); // block 0 is the 256th packet
    EXPECT_EQ(buffer[257 * 128], 2);
    EXPECT_EQ(afterCancel, "\x18\x18");
}

} // namespace
} // namespace updatetool
