#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace boxsim {

// The box's end of the serial line: the master side of a pseudo-terminal whose
// slave device the update tool opens. Optionally paces both directions like a
// real line at a given baud rate.
class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Creates the terminal in raw mode; baud 0 leaves it unthrottled. With a
    // turn-around, what the box writes reaches the tool only turnaroundMs after
    // the first byte of it was written, as a USB adapter's latency timer holds
    // short answers back; the box itself goes on meanwhile.
    bool open(unsigned baud, unsigned turnaroundMs, std::string& error);
    // Every byte read or written also goes to this file, in hex. False when it cannot be made.
    bool logWireTo(const std::string& path);
    const std::string& slavePath() const { return slavePath_; }

    // One byte, or nothing when none arrived within timeoutMs (negative: wait forever).
    std::optional<std::uint8_t> readByte(int timeoutMs);
    // Throws away whatever has arrived and not been read yet.
    void discardInput();
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text);
    bool writeByte(std::uint8_t byte) { return write(std::span<const std::uint8_t>(&byte, 1)); }
    // Bytes written that the tool has not read yet (none while it reads).
    int unreadByTool() const;
    // Closes the terminal as a box that loses power would; nothing works afterwards.
    void hangUp();
    bool hungUp() const { return masterFd_ < 0; }

private:
    bool fillBuffer(int timeoutMs);
    bool writeNow(std::span<const std::uint8_t> bytes);
    bool writePaced(std::span<const std::uint8_t> bytes);
    // Hands the held bytes over once their time has come (or at once with force).
    bool deliverHeld(bool force = false);
    void logWire(const char* who, std::span<const std::uint8_t> bytes);

    int masterFd_ = -1;
    // Held open for as long as boxsim runs: while no job has the device open, the
    // master would otherwise report a hang-up on every read.
    int slaveFd_ = -1;
    std::string slavePath_;

    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t bufferStart_ = 0;
    std::size_t bufferEnd_ = 0;
    std::int64_t bufferReadNs_ = 0;

    // Pacing: the time one byte (start, 8 data bits, stop) takes on the line, and
    // when each direction of the line is next free.
    std::int64_t byteNs_ = 0;
    std::int64_t rxFreeNs_ = 0;
    std::int64_t txFreeNs_ = 0;
    std::int64_t turnaroundNs_ = 0;
    std::vector<std::uint8_t> held_;
    std::int64_t heldDueNs_ = 0;

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> wireLog_;
};

} // namespace boxsim
