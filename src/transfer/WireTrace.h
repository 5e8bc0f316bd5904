#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace updatetool {

// A record of every byte one job puts on the line or takes from it, for a
// person to read: one line per run of bytes (time in milliseconds since the
// port opened, direction, hex, text), one line per XMODEM packet (header,
// block number, data length, check, and the answer it got), and notes such as
// what the adapter granted. Fed from the serial port; used by one worker only.
class WireTrace {
public:
    WireTrace();
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // Creates (replaces) the file and writes its heading. False when it cannot.
    bool open(const std::string& path, std::string_view portName);
    bool isOpen() const { return file_ != nullptr; }
    // Writes what is still pending (a packet awaiting its answer) and closes.
    void close();

    void sent(std::span<const std::uint8_t> bytes);
    void received(std::span<const std::uint8_t> bytes);
    void note(std::string_view text);

private:
    enum class Direction : std::uint8_t { Sent, Received };
    struct Packet {
        std::vector<std::uint8_t> bytes;
        std::size_t expected = 0;
        std::uint32_t startMs = 0;
        std::uint32_t endMs = 0;   // its last byte, from which the answer is timed
        bool complete() const { return bytes.size() == expected; }
    };

    void take(Direction direction, std::uint8_t byte, std::uint32_t now);
    // A byte of the other side while a packet is open: the packet's answer.
    bool answerPacket(Direction direction, std::uint8_t byte, std::uint32_t now);
    void writePacket(const Packet& packet, Direction direction, std::string_view outcome);
    void flushRun();
    void writeLine(std::uint32_t ms, std::string_view direction, std::string_view text);
    std::uint32_t nowMs() const;

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::chrono::steady_clock::time_point opened_;

    // The run of plain bytes being collected for one line.
    std::vector<std::uint8_t> run_;
    Direction runDirection_ = Direction::Sent;
    std::uint32_t runStartMs_ = 0;
    std::uint32_t runLastMs_ = 0;

    // XMODEM: packets are told apart only once the other side asked for them
    // ('C' or NAK), so a stray SOH in line noise is shown as the byte it is.
    bool packetsAsked_[2] = {false, false};
    bool crcMode_[2] = {true, true};
    bool modeLatched_[2] = {false, false};
    std::unique_ptr<Packet> packet_;
    Direction packetDirection_ = Direction::Sent;
};

} // namespace updatetool
