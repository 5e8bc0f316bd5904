// One image assembled byte by byte from the file format's own offsets, not from
// the codec's layout table or the sample generator: a field the layout table
// puts at the wrong offset reads or writes the wrong bytes here.
#include "ChannelTestSupport.h"

#include <string_view>

using namespace updatetool;
using namespace updatetool::test;

namespace {

void putBytes(Bytes& image, std::size_t offset, std::string_view text)
{
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// One TV channel on stream record 0, which lies on transponder 0 of satellite 3.
Bytes knownAnswerImage()
{
    Bytes image(851984, 0x00);
    putBytes(image, 0x000000, "QVCH");
    std::fill(image.begin() + 0x000010, image.begin() + 0x000010 + 432000, 0xFF); // every channel slot empty
    // Channel slot 0 at 0x000010.
    putBe16(image, 0x000010 + 0, 0x1001);  // service id
    putBe16(image, 0x000010 + 2, 0x0202);  // video PID
    putBe16(image, 0x000010 + 4, 0x0303);  // audio PID
    putBe16(image, 0x000010 + 6, 0x0404);  // kind bits 00, extra PID 0x0404
    putBe16(image, 0x000010 + 8, 0x0505);  // teletext PID
    putBe16(image, 0x000010 + 10, 0x0606); // PCR PID
    putBe16(image, 0x000010 + 16, 0x0707); // flag16 0, info mark 0, value14 0x0707
    image[0x000010 + 18] = 0x18;
    image[0x000010 + 19] = 0x19;
    putBe16(image, 0x000010 + 20, 0x0009); // locked (bit 3) and scrambled (bit 0)
    image[0x000010 + 22] = 0x22;
    image[0x000010 + 23] = 0x23;
    putBe32(image, 0x000010 + 24, 0xBFEC0000); // stream record 0
    putBe32(image, 0x000010 + 28, 0x28282828);
    putBytes(image, 0x000010 + 32, std::string_view("Known Answer\0\0\0\0", 16));
    // Stream record 0 at 0x080010; record 1 ends the table (frequency 0).
    putBe16(image, 0x080010 + 0, 0x00A0);  // tsWord0, the channel's network id
    putBe16(image, 0x080010 + 12, 11778);  // frequency
    putBe16(image, 0x080010 + 14, 27500);  // symbol rate
    image[0x080010 + 16] = 0x40;           // horizontal
    image[0x080010 + 19] = 3;              // satellite
    // Satellite record 3 at 0x0B0014 + 3 * 282.
    const std::size_t satellite = 0x0B0014 + 3 * 282;
    image[satellite + 0] = 3;
    putBytes(image, satellite + 1, "Astra 19.2E");
    putBe16(image, satellite + 18, 0xA1A2); // opaqueA
    image[satellite + 20] = 0xB1;          // opaqueB
    image[satellite + 21] = 0xC1;          // opaqueC
    putBe16(image, satellite + 22, 0xD1D2); // opaqueD
    putBe16(image, satellite + 24, 1);      // one transponder
    putBe16(image, satellite + 26, 0);      // transponder 0
    // Transponder record 0 at 0x0B8D18; every other record is free.
    for (std::size_t record = 1; record < 3072; ++record)
        image[0x0B8D18 + 8 * record] = 0xFF;
    image[0x0B8D18 + 0] = 3;
    putBe16(image, 0x0B8D18 + 2, 11778);
    putBe16(image, 0x0B8D18 + 4, 27500);
    image[0x0B8D18 + 6] = 0x80 | 0x18;     // horizontal, mode bits 3
    image[0x0B8D18 + 7] = 0x01;            // marked
    return image;
}

TEST(ChannelKnownAnswer, LoadReadsEveryFieldFromItsOwnOffset)
{
    const auto database = loaded(knownAnswerImage());
    ASSERT_EQ(database->tvCount, 1);
    EXPECT_EQ(database->radioCount, 0);
    const ChannelRecord& channel = database->channels[0];
    EXPECT_EQ(channel.serviceId, 0x1001);
    EXPECT_EQ(channel.videoPid, 0x0202);
    EXPECT_EQ(channel.audioPid, 0x0303);
    EXPECT_EQ(channel.extraPid, 0x0404);
    EXPECT_EQ(channel.word8, 0x0505);
    EXPECT_EQ(channel.pcrPid, 0x0606);
    EXPECT_EQ(channel.value14, 0x0707);
    EXPECT_EQ(channel.byte18, 0x18);
    EXPECT_EQ(channel.byte19, 0x19);
    EXPECT_EQ(channel.byte22, 0x22);
    EXPECT_EQ(channel.byte23, 0x23);
    EXPECT_EQ(channel.word28, 0x28282828u);
    EXPECT_EQ(channel.flags, channelflag::kLocked | channelflag::kScrambled);
    EXPECT_EQ(std::string_view(channel.name.data()), "Known Answer");
    EXPECT_EQ(channel.streamWord, 0x00A0);
    EXPECT_EQ(channel.satellite, 3);
    EXPECT_EQ(channel.transponder, 0);

    const SatelliteRecord& satellite = database->satellites[3];
    EXPECT_EQ(satellite.number, 3);
    EXPECT_EQ(std::string_view(satellite.name.data()), "Astra 19.2E");
    EXPECT_EQ(satellite.opaqueA, 0xA1A2);
    EXPECT_EQ(satellite.opaqueB, 0xB1);
    EXPECT_EQ(satellite.opaqueC, 0xC1);
    EXPECT_EQ(satellite.opaqueD, 0xD1D2);
    EXPECT_EQ(satellite.transponderCount, 1);

    const TransponderRecord& transponder = database->transponders[0];
    EXPECT_EQ(transponder.satellite, 3);
    EXPECT_EQ(transponder.frequency, 11778);
    EXPECT_EQ(transponder.symbolRate, 27500);
    EXPECT_EQ(transponder.polarity, 1);
    EXPECT_EQ(transponder.modeBits, 3);
    EXPECT_EQ(database->transponderMarks[0], 0x00FF);
}

TEST(ChannelKnownAnswer, SaveWritesEveryPidToItsOwnOffset)
{
    const Bytes original = knownAnswerImage();
    const auto database = loaded(original);
    ChannelRecord& channel = database->channels[0];
    channel.videoPid = 0x0A0A;
    channel.audioPid = 0x0B0B;
    channel.pcrPid = 0x0C0C;
    channel.word8 = 0x0D0D;
    const Bytes saved = savedOver(*database, original);
    EXPECT_EQ(be16(saved, 0x000010 + 0), 0x1001);
    EXPECT_EQ(be16(saved, 0x000010 + 2), 0x0A0A);
    EXPECT_EQ(be16(saved, 0x000010 + 4), 0x0B0B);
    EXPECT_EQ(be16(saved, 0x000010 + 8), 0x0D0D);
    EXPECT_EQ(be16(saved, 0x000010 + 10), 0x0C0C);
    EXPECT_EQ(be32(saved, 0x000010 + 24), 0xBFEC0000u);
    EXPECT_EQ(be16(saved, 0x0B8D18 + 2), 11778);
    EXPECT_EQ(be16(saved, 0x0B8D18 + 4), 27500);
    EXPECT_EQ(saved[0x0B8D18 + 1], 0xFF); // the mark, copied into byte 1
}

} // namespace
