#include "Crc16Arc.h"

#include <array>

namespace updatetool {

namespace {

constexpr std::array<std::uint16_t, 256> makeArcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[byte] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kArcTable = makeArcTable();

} // namespace

std::uint16_t crc16Arc(std::span<const std::uint8_t> data)
{
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kArcTable[(crc ^ byte) & 0xFFu]);
    return crc;
}

} // namespace updatetool
