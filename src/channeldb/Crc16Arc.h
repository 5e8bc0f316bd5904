#pragma once

#include <cstdint>
#include <span>

namespace updatetool {

// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR): the check words
// of the channel block. "123456789" gives 0xBB3D.
std::uint16_t crc16Arc(std::span<const std::uint8_t> data);

} // namespace updatetool
