#pragma once

#include <cstdint>
#include <span>

// The box's own XMODEM vocabulary. Deliberately written apart from the engine's,
// so that a shared mistake cannot make both ends agree on something wrong.
namespace boxsim::xmodem {

inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kCrcStart = 'C';
inline constexpr std::uint8_t kPad = 0x1A;
inline constexpr std::uint8_t kEsc = 0x1B;

inline std::uint16_t crc16(std::span<const std::uint8_t> data)
{
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

inline std::uint8_t checksum(std::span<const std::uint8_t> data)
{
    unsigned sum = 0;
    for (const std::uint8_t byte : data)
        sum += byte;
    return static_cast<std::uint8_t>(sum);
}

} // namespace boxsim::xmodem
