#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace updatetool {

// Big-endian (most significant byte first) fields of the image header, the packets
// and the channel block, and the bit fields packed into them. Callers check offsets
// against the size of what they read first; these helpers only do the shifting.
inline std::uint16_t readBE16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

inline std::uint32_t readBE32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16)
         | (std::uint32_t{bytes[offset + 2]} << 8) | std::uint32_t{bytes[offset + 3]};
}

inline void writeBE16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

inline void writeBE32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value >> 24);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 16);
    bytes[offset + 2] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 3] = static_cast<std::uint8_t>(value);
}

// `width` bits of `value` starting at bit `low` (bit 0 the least significant).
constexpr std::uint32_t getBits(std::uint32_t value, unsigned low, unsigned width)
{
    return (value >> low) & ((1u << width) - 1u);
}

constexpr std::uint32_t setBits(std::uint32_t value, unsigned low, unsigned width, std::uint32_t field)
{
    const std::uint32_t mask = ((1u << width) - 1u) << low;
    return (value & ~mask) | ((field << low) & mask);
}

} // namespace updatetool
