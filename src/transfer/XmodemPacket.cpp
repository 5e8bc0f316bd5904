#include "XmodemPacket.h"

#include <algorithm>

#include "ByteOrder.h"
#include "ImageFile.h"

namespace updatetool {

std::span<const std::uint8_t> XmodemPacket::seal(std::uint8_t block, std::size_t fileBytes, XmodemMode mode)
{
    const std::size_t size = dataSize(mode);
    const auto data = payload(mode);
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(std::min(fileBytes, size)), data.end(), xmodem::kPad);
    buffer_[kHeaderOffset] = header(mode);
    buffer_[kBlockOffset] = block;
    buffer_[kComplementOffset] = static_cast<std::uint8_t>(255 - block);
    const std::size_t checkOffset = kDataOffset + size;
    if (mode == XmodemMode::Crc1K)
        writeBE16(buffer_, checkOffset, crc16Xmodem(data));
    else
        buffer_[checkOffset] = checksum(data);
    return std::span(buffer_).first(checkOffset + checkSize(mode));
}

std::span<const std::uint8_t> XmodemPacket::build(std::uint8_t block, std::span<const std::uint8_t> data, XmodemMode mode)
{
    const std::size_t count = std::min(data.size(), dataSize(mode));
    std::copy_n(data.begin(), count, payload(mode).begin());
    return seal(block, count, mode);
}

std::uint8_t XmodemPacket::checksum(std::span<const std::uint8_t> data)
{
    unsigned sum = 0;
    for (std::uint8_t byte : data)
        sum += byte;
    return static_cast<std::uint8_t>(sum);
}

bool XmodemPacket::checkMatches(std::span<const std::uint8_t> data, std::span<const std::uint8_t> check, XmodemMode mode)
{
    if (check.size() != checkSize(mode))
        return false;
    if (mode == XmodemMode::Crc1K)
        return readBE16(check, 0) == crc16Xmodem(data);
    return check[0] == checksum(data);
}

} // namespace updatetool
