#include "XmodemPacket.h"

#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFile.h"

namespace updatetool {
namespace {

TEST(XmodemPacket, Framing)
{
    const struct {
        XmodemMode mode;
        std::uint8_t block;
        std::size_t fileBytes;
        std::size_t size;
        std::uint8_t header;
        std::uint8_t complement;
    } cases[] = {
        {XmodemMode::Crc1K, 1, 1024, 1029, 0x02, 254},
        {XmodemMode::Crc1K, 1, 1, 1029, 0x02, 254},
        {XmodemMode::Crc1K, 255, 10, 1029, 0x02, 0},
        {XmodemMode::Crc1K, 0, 1024, 1029, 0x02, 255},
        {XmodemMode::Checksum128, 1, 128, 132, 0x01, 254},
        {XmodemMode::Checksum128, 1, 1, 132, 0x01, 254},
        {XmodemMode::Checksum128, 0, 5, 132, 0x01, 255},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> data(c.fileBytes);
        std::iota(data.begin(), data.end(), std::uint8_t{0x30});
        XmodemPacket packet;
        const auto bytes = packet.build(c.block, data, c.mode);
        ASSERT_EQ(bytes.size(), c.size);
        EXPECT_EQ(bytes[0], c.header);
        EXPECT_EQ(bytes[1], c.block);
        EXPECT_EQ(bytes[2], c.complement);
        const std::size_t dataSize = XmodemPacket::dataSize(c.mode);
        const auto payload = bytes.subspan(3, dataSize);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), payload.begin()));
        // Everything behind the file bytes is fill.
        EXPECT_TRUE(std::all_of(payload.begin() + static_cast<std::ptrdiff_t>(c.fileBytes), payload.end(), [](std::uint8_t b) { return b == 0x1A; }));
        if (c.mode == XmodemMode::Crc1K) {
            const std::uint16_t crc = crc16Xmodem(payload);
            EXPECT_EQ(bytes[3 + dataSize], crc >> 8);
            EXPECT_EQ(bytes[4 + dataSize], crc & 0xFF);
        } else {
            unsigned sum = 0;
            for (auto b : payload)
                sum += b;
            EXPECT_EQ(bytes[3 + dataSize], sum & 0xFF);
        }
    }
}

} // namespace
} // namespace updatetool
