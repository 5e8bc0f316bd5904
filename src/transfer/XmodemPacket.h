#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace updatetool {

// XMODEM control bytes.
namespace xmodem {
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kCrcRequest = 0x43; // 'C'
inline constexpr std::uint8_t kPad = 0x1A;
} // namespace xmodem

// Chosen by the receiver's start request: 'C' for 1K packets with CRC-16,
// NAK for 128-byte packets with an 8-bit sum.
enum class XmodemMode : std::uint8_t { Crc1K, Checksum128 };

// One data packet in one fixed buffer: header, block number, complement, data, check.
// The sender reads file bytes straight into payload() and seals the packet, so each
// packet goes out with a single write.
class XmodemPacket {
public:
    static constexpr std::size_t kHeaderOffset = 0;
    static constexpr std::size_t kBlockOffset = 1;
    static constexpr std::size_t kComplementOffset = 2;
    static constexpr std::size_t kDataOffset = 3;
    static constexpr std::size_t kLargestData = 1024;
    static constexpr std::size_t kLargestSize = kDataOffset + kLargestData + 2;

    static constexpr std::size_t dataSize(XmodemMode mode) { return mode == XmodemMode::Crc1K ? 1024 : 128; }
    static constexpr std::size_t checkSize(XmodemMode mode) { return mode == XmodemMode::Crc1K ? 2 : 1; }
    static constexpr std::uint8_t header(XmodemMode mode) { return mode == XmodemMode::Crc1K ? xmodem::kStx : xmodem::kSoh; }

    // Where the file bytes of the next packet go.
    std::span<std::uint8_t> payload(XmodemMode mode) { return std::span(buffer_).subspan(kDataOffset, dataSize(mode)); }
    // Pads the payload behind the first fileBytes with 0x1A, fills in the framing and
    // the check, and returns the packet's bytes.
    std::span<const std::uint8_t> seal(std::uint8_t block, std::size_t fileBytes, XmodemMode mode);
    // Copies data (at most one packet's worth) into the payload and seals.
    std::span<const std::uint8_t> build(std::uint8_t block, std::span<const std::uint8_t> data, XmodemMode mode);

    static std::uint8_t checksum(std::span<const std::uint8_t> data);
    // Whether check (2 CRC bytes, high first, or 1 sum byte) matches data.
    static bool checkMatches(std::span<const std::uint8_t> data, std::span<const std::uint8_t> check, XmodemMode mode);

private:
    std::array<std::uint8_t, kLargestSize> buffer_{};
};

} // namespace updatetool
