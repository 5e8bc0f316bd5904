#include "ChannelTestSupport.h"

#include <string_view>

#include "Crc16Arc.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

constexpr int kDemoTransponders = 34;

std::uint32_t refOfStream(std::uint32_t index)
{
    return 0xBFEC0000u + 20u * index;
}

TEST(Crc16Arc, MatchesTheStandardCheckValue)
{
    constexpr std::string_view digits = "123456789";
    const Bytes bytes(digits.begin(), digits.end());
    EXPECT_EQ(crc16Arc(bytes), 0xBB3D);
    EXPECT_EQ(crc16Arc({}), 0);
    EXPECT_EQ(crc16Arc(bytes), referenceArc(bytes, 0, bytes.size()));
}

TEST(ChannelDatabaseRoundTrip, UnchangedImagesSaveBackByteForByte)
{
    const struct {
        const char* name;
        Bytes image;
        int tv, radio;
    } cases[] = {
        {"demo", demoImage(), kDemoTv, kDemoRadio},
        {"full", fullImage(), 7000, 2000},
        {"received", samples::receivedChannelImage(), kDemoTv, kDemoRadio},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectCheckWordsValid(c.image);
        const auto database = loaded(c.image);
        EXPECT_EQ(database->tvCount, c.tv);
        EXPECT_EQ(database->radioCount, c.radio);
        EXPECT_EQ(database->channelCount, c.tv + c.radio);
        const Bytes saved = savedOver(*database, c.image);
        EXPECT_TRUE(saved == c.image) << "first differing byte at offset "
            << std::distance(saved.begin(), std::mismatch(saved.begin(), saved.end(), c.image.begin()).first);
    }
}

TEST(ChannelDatabaseSave, RecomputesCheckWordsOverChangedPieces)
{
    Bytes image = demoImage();
    image[0x0A0024 + 100] ^= 0x5A; // list-area piece 1, carried unread
    image[0x0A0D1C + 7] ^= 0x01;   // piece 3
    const auto database = loaded(image);
    database->satellites[2].name = RecordName{'N', 'E', 'W', ' ', 'S', 'A', 'T'};
    database->transponders[5].frequency = 12345;
    const Bytes saved = savedOver(*database, image);

    expectCheckWordsValid(saved);
    EXPECT_NE(be16(saved, kCheckWords), be16(demoImage(), kCheckWords));
    EXPECT_EQ(saved[0x0A0024 + 100], image[0x0A0024 + 100]);
    EXPECT_EQ(be16(saved, kTransponders + 8 * 5 + 2), 12345);
    EXPECT_EQ(saved[kSatellites + 282 * 2 + 1], 'N');
}

TEST(ChannelDatabaseSave, DeletedChannelsCloseTheirGaps)
{
    const Bytes& original = demoImage();
    const auto database = loaded(original);
    database->channels[5].flags |= channelflag::kDeleted;
    database->channels[7001].flags |= channelflag::kDeleted;
    const Bytes saved = savedOver(*database, original);

    const auto record = [](const Bytes& image, int slot) {
        return Bytes(image.begin() + channelOffset(slot), image.begin() + channelOffset(slot) + 48);
    };
    const Bytes erased(48, 0xFF);
    EXPECT_EQ(record(saved, 4), record(original, 4));
    EXPECT_EQ(record(saved, 5), record(original, 6));
    EXPECT_EQ(record(saved, kDemoTv - 2), record(original, kDemoTv - 1));
    EXPECT_EQ(record(saved, kDemoTv - 1), erased);
    EXPECT_EQ(record(saved, 7000), record(original, 7000));
    EXPECT_EQ(record(saved, 7001), record(original, 7002));
    EXPECT_EQ(record(saved, 7000 + kDemoRadio - 1), erased);
    EXPECT_EQ(channelOffset(7000), kRadioTable);

    const auto reloaded = loaded(saved);
    EXPECT_EQ(reloaded->tvCount, kDemoTv - 1);
    EXPECT_EQ(reloaded->radioCount, kDemoRadio - 1);
}

TEST(ChannelDatabaseSave, DeletedTranspondersMoveTheLaterOnesUp)
{
    const Bytes& original = demoImage();
    const auto database = loaded(original);
    database->transponders[2].frequency = 1799;
    database->transponders[2].symbolRate = 1799;
    database->satellites[0].transponderIndex[2] = 2; // still listed: the save drops it
    const Bytes saved = savedOver(*database, original);

    const auto record = [](const Bytes& image, int index) {
        return Bytes(image.begin() + kTransponders + 8 * index, image.begin() + kTransponders + 8 * index + 8);
    };
    EXPECT_EQ(record(saved, 1), record(original, 1));
    EXPECT_EQ(record(saved, 2), record(original, 3));
    EXPECT_EQ(record(saved, kDemoTransponders - 2), record(original, kDemoTransponders - 1));
    // No second copy of the last one is left behind.
    EXPECT_EQ(record(saved, kDemoTransponders - 1), Bytes(8, 0xFF));
    expectCheckWordsValid(saved);

    // The satellites' lists follow the records they name.
    const auto reloaded = loaded(saved);
    EXPECT_EQ(reloaded->satellites[0].transponderCount, 7);
    EXPECT_EQ(reloaded->satellites[1].transponderIndex[0], 7);
    EXPECT_EQ(reloaded->transponders[7].frequency, database->transponders[8].frequency);
    EXPECT_EQ(reloaded->transponders[7].satellite, 1);
}

TEST(ChannelDatabaseLoad, StreamReferencesAreListedOncePerStreamButZeroEveryTime)
{
    Bytes image = demoImage();
    putBe32(image, channelOffset(0) + 24, 0);
    putBe32(image, channelOffset(1) + 24, 0);
    putBe32(image, channelOffset(2) + 24, refOfStream(7));
    putBe32(image, channelOffset(3) + 24, refOfStream(7));
    const auto database = loaded(image);

    // 0, 0, stream 7, then the demo's other streams in channel order.
    EXPECT_EQ(database->streamRefs.count, 2 + kDemoTransponders);
    EXPECT_EQ(database->streamRefs.refs[0], 0u);
    EXPECT_EQ(database->streamRefs.refs[1], 0u);
    EXPECT_EQ(database->streamRefs.refs[2], refOfStream(7));
    EXPECT_EQ(database->streamRefs.streamIndex[2], 7);
    EXPECT_EQ(database->streamRefs.refs[3], refOfStream(4));

    const Bytes saved = savedOver(*database, image);
    EXPECT_EQ(be32(saved, kStreamRefList), static_cast<std::uint32_t>(2 + kDemoTransponders) << 16);
    EXPECT_EQ(be32(saved, kStreamRefList + 4 + 4 * 2), refOfStream(7));
    EXPECT_EQ(be32(saved, kStreamRefList + 4 + 4 * (2 + kDemoTransponders)), 0u);
}

TEST(ChannelDatabaseSave, SavingTwiceWritesTheSameBytes)
{
    const auto database = loaded(demoImage());
    database->channels[3].flags |= channelflag::kDeleted;
    const Bytes first = savedOver(*database, demoImage());
    const Bytes second = savedOver(*database, first);
    EXPECT_EQ(be32(first, kStreamRefList), be32(second, kStreamRefList));
    EXPECT_TRUE(first == second);
}

TEST(ChannelDatabaseLoad, FullTvRunWithEmptySlot7000HasNoRadio)
{
    Bytes image = fullImage();
    emptySlotOnFile(image, 7000);
    const auto database = loaded(image);
    EXPECT_EQ(database->tvCount, 7000);
    EXPECT_EQ(database->radioCount, 0);
    EXPECT_EQ(database->channelCount, 7000);
    EXPECT_EQ(database->channelOrder[6999], 6999);
    EXPECT_EQ(database->channelOrder[7000], 0xFFFF);
}

TEST(ChannelDatabaseSave, TransponderMarkIsWrittenInBytesOneAndSeven)
{
    const struct {
        std::uint8_t byte1, byte7;
        std::uint8_t savedByte1, savedByte7;
    } cases[] = {
        {0x00, 0x01, 0xFF, 0xFF},
        {0x12, 0x80, 0xFF, 0xFF},
        {0xFF, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "bytes 1/7 on file " << int(c.byte1) << "/" << int(c.byte7));
        Bytes image = demoImage();
        image[kTransponders + 8 * 4 + 1] = c.byte1;
        image[kTransponders + 8 * 4 + 7] = c.byte7;
        const auto database = loaded(image);
        EXPECT_EQ(database->transponderMarks[4], c.byte7 ? 0x00FF : 0);
        const Bytes saved = savedOver(*database, image);
        EXPECT_EQ(saved[kTransponders + 8 * 4 + 1], c.savedByte1);
        EXPECT_EQ(saved[kTransponders + 8 * 4 + 7], c.savedByte7);
    }
}

TEST(ChannelDatabaseRebuild, RadioFavouritesAreListedByRadioPosition)
{
    // 10 TV and 3 radio channels; the radio channel in slot 7001 joins group 2.
    Bytes image = demoImage();
    emptySlotOnFile(image, 10);
    emptySlotOnFile(image, 7003);
    for (int slot : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 7000, 7001, 7002}) {
        const std::uint16_t flagWord = be16(image, channelOffset(slot) + 20);
        putBe16(image, channelOffset(slot) + 20, static_cast<std::uint16_t>(flagWord & ~0x07F0)); // no favourites
    }
    putBe16(image, channelOffset(7001) + 20, static_cast<std::uint16_t>(be16(image, channelOffset(7001) + 20) | (1u << 5)));
    putBe16(image, channelOffset(4) + 20, static_cast<std::uint16_t>(be16(image, channelOffset(4) + 20) | (1u << 5)));
    const auto database = loaded(image);

    ASSERT_EQ(database->tvCount, 10);
    ASSERT_EQ(database->radioCount, 3);
    EXPECT_EQ(database->channelOrder[9], 9);
    EXPECT_EQ(database->channelOrder[10], 7000);
    EXPECT_EQ(database->channelOrder[12], 7002);
    EXPECT_EQ(database->rebuiltChannelCount, 13);
    const FavoriteGroup& group2 = database->favorites[1];
    ASSERT_EQ(group2.count, 2u);
    EXPECT_EQ(group2.members[0], 4);
    EXPECT_EQ(group2.members[1], 1 | 0x8000);
    EXPECT_EQ(database->favorites[0].count, 0u);

    const Bytes saved = savedOver(*database, image);
    EXPECT_EQ(be32(saved, kFavorites + 4), 2u);
    EXPECT_EQ(be16(saved, kFavorites + 28 + 300 + 2), 0x8001);
}

TEST(ChannelDatabase, FreeServiceIdSkipsIdsOfEditorAddedChannels)
{
    const struct {
        std::vector<std::pair<std::uint16_t, bool>> channels; // service id, added by the editor
        std::uint16_t expected;
    } cases[] = {
        {{{0x0100, false}}, 0xFFFE},
        {{{0xFFFE, false}}, 0xFFFE},
        {{{0xFFFE, true}}, 0xFFFD},
        {{{0xFFFD, true}}, 0xFFFE},
        {{{0xFFFC, true}, {0xFFFE, true}}, 0xFFFD},
        {{{0xFFFC, true}, {0xFFFD, true}, {0xFFFE, true}}, 0xFFFB},
    };
    auto database = loaded(demoImage());
    EXPECT_EQ(database->nextFreeServiceId, 0xFFFC); // the demo has two editor-added channels
    for (const auto& c : cases) {
        database = loaded(demoImage());
        for (int slot = 0; slot < kDemoTv; ++slot)
            database->channels[slot].word28 = 0;
        for (std::size_t i = 0; i < c.channels.size(); ++i) {
            database->channels[i].serviceId = c.channels[i].first;
            database->channels[i].word28 = c.channels[i].second ? 0xBFEC5DE4 : 0;
        }
        EXPECT_EQ(database->findFreeServiceId(), c.expected) << "case with " << c.channels.size() << " channels";
    }
}

TEST(ChannelDatabase, FindTransponderPrefersTheNextRecordOnEqualValues)
{
    // Record 5 repeats record 4's satellite, frequency and symbol rate, polarity aside.
    Bytes image = demoImage();
    std::copy_n(image.begin() + kTransponders + 8 * 4, 6, image.begin() + kTransponders + 8 * 5);
    image[kTransponders + 8 * 5 + 6] ^= 0x80;
    // Record 7 is free (its satellite is past the satellite count) but keeps its values.
    image[kTransponders + 8 * 7] = 0xC8;
    const auto database = loaded(image);
    const TransponderRecord& fourth = database->transponders[4];
    const TransponderRecord& third = database->transponders[3];
    const TransponderRecord& free = database->transponders[7];

    const struct {
        std::uint8_t satellite;
        std::uint16_t frequency, symbolRate;
        std::uint16_t expected;
    } cases[] = {
        {fourth.satellite, fourth.frequency, fourth.symbolRate, 5},
        {third.satellite, third.frequency, third.symbolRate, 3},
        {third.satellite, third.frequency, 1, kNoTransponder},
        {99, third.frequency, third.symbolRate, kNoTransponder},
        {0xC8, free.frequency, free.symbolRate, kNoTransponder},
    };
    for (const auto& c : cases)
        EXPECT_EQ(database->findTransponder(c.satellite, c.frequency, c.symbolRate), c.expected);
    // With the polarity the record that has it wins; without a record that has it, the
    // rule above.
    EXPECT_EQ(database->findTransponder(fourth.satellite, fourth.frequency, fourth.symbolRate, fourth.polarity), 4);
    EXPECT_EQ(database->findTransponder(fourth.satellite, fourth.frequency, fourth.symbolRate, fourth.polarity ^ 1), 5);
    EXPECT_EQ(database->findTransponder(third.satellite, third.frequency, third.symbolRate, third.polarity ^ 1), 3);
    // The channels of stream 4 have record 4's polarity.
    EXPECT_EQ(database->channels[4].transponder, 4);
    EXPECT_EQ(database->channels[3].transponder, 3);
}

TEST(ChannelDatabase, FreeAndDuplicateTransponderSearches)
{
    const auto database = loaded(demoImage());
    EXPECT_EQ(database->findFreeTransponder(), kDemoTransponders); // satellite byte 0xFF
    const TransponderRecord t = database->transponders[9];
    EXPECT_EQ(database->findDuplicateTransponder(t.satellite, t.frequency, t.symbolRate, t.polarity), 9);
    EXPECT_EQ(database->findDuplicateTransponder(t.satellite, t.frequency, t.symbolRate, t.polarity ^ 1), -1);
    // The scan ends at the first 0xFFFF frequency.
    database->transponders[3].frequency = 0xFFFF;
    EXPECT_EQ(database->findDuplicateTransponder(t.satellite, t.frequency, t.symbolRate, t.polarity), -1);
    for (auto& transponder : database->transponders)
        transponder.satellite = 1;
    EXPECT_EQ(database->findFreeTransponder(), -1);
}

TEST(ChannelDatabaseLoad, FlagWordBitsMapToMemoryBits)
{
    const struct {
        int fileBit;
        int memoryBit;
    } cases[] = {
        {15, 0}, {14, 2}, {13, 1}, {12, 3}, {11, 4}, {10, 11}, {9, 10}, {8, 9},
        {7, 8}, {6, 7}, {5, 6}, {4, 5}, {3, 12}, {2, 13}, {1, 14}, {0, 15},
    };
    for (const auto& c : cases) {
        Bytes image = demoImage();
        putBe16(image, channelOffset(0) + 20, static_cast<std::uint16_t>(1u << c.fileBit));
        const auto database = std::make_unique<ChannelDatabase>();
        database->loadFromBytes(image);
        EXPECT_EQ(database->channels[0].flags, 1u << c.memoryBit) << "file bit " << c.fileBit;
        if (c.memoryBit == 3)
            continue; // a deleted channel is not saved; its own test covers that
        const Bytes saved = savedOver(*database, image);
        EXPECT_EQ(be16(saved, channelOffset(0) + 20), 1u << c.fileBit) << "file bit " << c.fileBit;
    }
}

TEST(ChannelDatabaseLoad, ReferencesOutsideTheStreamTableResolveToNone)
{
    const struct {
        const char* what;
        const Bytes& image;
        std::uint32_t streamRef;
        std::uint8_t satellite;
        std::uint16_t transponder;
    } cases[] = {
        {"first stream", demoImage(), refOfStream(0), 0, 0},
        {"terrestrial stream", demoImage(), refOfStream(31), 127, 31},
        {"the record that ends the table", demoImage(), refOfStream(kDemoTransponders), 255, kNoTransponder},
        {"past the end record", demoImage(), refOfStream(kDemoTransponders + 1), 255, kNoTransponder},
        {"zero", demoImage(), 0, 255, kNoTransponder},
        {"all ones", demoImage(), 0xFFFFFFFF, 255, kNoTransponder},
        {"last of a full table", fullImage(), refOfStream(1199), 39, 1199},
        {"past a full table", fullImage(), refOfStream(1200), 255, kNoTransponder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = c.image;
        putBe32(image, channelOffset(0) + 24, c.streamRef);
        const auto database = loaded(image);
        EXPECT_EQ(database->channels[0].satellite, c.satellite);
        EXPECT_EQ(database->channels[0].transponder, c.transponder);
    }
}

TEST(ChannelDatabase, StreamLookupsPastTheLoadedRecords)
{
    const auto demo = loaded(demoImage());
    ASSERT_EQ(demo->streamCount, kDemoTransponders);
    EXPECT_EQ(demo->streamFrequency(0), demo->transponders[0].frequency);
    EXPECT_EQ(demo->streamSatellite(31), 127);
    EXPECT_EQ(demo->streamFrequency(kDemoTransponders), 0xFFFF); // the end record itself
    EXPECT_EQ(demo->streamSatellite(kDemoTransponders), 0xFF);
    EXPECT_EQ(demo->streamFrequency(kDemoTransponders + 1), 0);
    EXPECT_EQ(demo->streamSymbolRate(kDemoTransponders + 1), 0);
    EXPECT_EQ(demo->streamSatellite(kDemoTransponders + 1), 255);
    const auto full = loaded(fullImage());
    ASSERT_EQ(full->streamCount, 1200);
    EXPECT_EQ(full->streamFrequency(1200), 0);
    EXPECT_EQ(full->streamSatellite(0xFFFFFFFF), 255);
}

TEST(ChannelDatabase, ResetEmptiesTablesButKeepsLnbSettings)
{
    const auto database = loaded(demoImage());
    database->satellites[1].lnbType = 2;
    database->satellites[1].loHigh = 10600;
    database->modified = true;
    database->filePath = "/some/file.img";
    database->reset();

    EXPECT_EQ(database->channelSlots, -1);
    EXPECT_EQ(database->channelCount, 0);
    EXPECT_TRUE(database->channels[0].isEmpty());
    EXPECT_EQ(database->channels[0].satellite, 255);
    EXPECT_EQ(database->channels[0].transponder, 0xFFFF);
    EXPECT_EQ(database->satellites[1].lnbType, 2);
    EXPECT_EQ(database->satellites[1].loHigh, 10600);
    EXPECT_EQ(database->satellites[1].number, 1);
    EXPECT_EQ(database->satellites[1].name[0], '\0');
    EXPECT_EQ(database->transportStreams[0].tsFrequency, 0xFFFF);
    EXPECT_EQ(database->streamRefs.count, 0);
    EXPECT_EQ(database->nextFreeServiceId, 0xFFFE);
    EXPECT_FALSE(database->modified);
    EXPECT_EQ(database->filePath, "/some/file.img");

    // Loading another file keeps them too.
    database->loadFromBytes(demoImage());
    EXPECT_EQ(database->satellites[1].loHigh, 10600);
}

TEST(ChannelDatabaseLoad, MissingFileAndFileWithoutChannels)
{
    TempFolder folder;
    auto database = std::make_unique<ChannelDatabase>();
    database->filePath = folder.file("missing.img");
    EXPECT_EQ(database->load(), LoadResult::CantOpen);
    EXPECT_EQ(database->channelSlots, -1);

    Bytes image = demoImage();
    emptySlotOnFile(image, 0);
    emptySlotOnFile(image, 7000);
    writeFile(folder.file("none.img"), image);
    database->filePath = folder.file("none.img");
    EXPECT_EQ(database->load(), LoadResult::NoChannel);
    EXPECT_EQ(database->channelSlots, 9000);
    EXPECT_EQ(database->channelCount, 0);

    writeFile(folder.file("demo.img"), demoImage());
    database->filePath = folder.file("demo.img");
    EXPECT_EQ(database->load(), LoadResult::Loaded);
    EXPECT_EQ(database->channelCount, kDemoTv + kDemoRadio);
    EXPECT_EQ(database->streamRefs.count, kDemoTransponders); // a second load starts over
}

TEST(ChannelDatabase, RetuneMovesEveryStreamRecordWithTheOldTuning)
{
    const auto database = loaded(demoImage());
    TransponderRecord& edited = database->transponders[6];
    const TransponderRecord old = edited;
    const std::uint8_t oldFlags = database->transportStreams[6].tsFlags;
    // A second record with the same tuning, as an editor-added channel can leave.
    TransportStreamRecord& second = database->transportStreams[20];
    second.tsFrequency = database->transportStreams[6].tsFrequency;
    second.tsSymbolRate = database->transportStreams[6].tsSymbolRate;
    second.tsFlags = oldFlags;
    second.tsSatellite = database->transportStreams[6].tsSatellite;
    edited.frequency = 11111;
    edited.symbolRate = 27000;
    edited.polarity = old.polarity ^ 1;

    EXPECT_EQ(database->retuneAfterTransponderEdit(6, old.frequency, old.symbolRate, old.polarity, old.satellite),
              old.satellite);
    const TransportStreamRecord& stream = database->transportStreams[6];
    EXPECT_EQ(stream.tsFrequency, 11111);
    EXPECT_EQ(stream.tsSymbolRate, 27000);
    EXPECT_EQ((stream.tsFlags >> 6) & 1, old.polarity ^ 1);
    EXPECT_EQ(stream.tsFlags & 0xBF, oldFlags & 0xBF); // the other flag bits stay
    EXPECT_EQ(second.tsFrequency, 11111);
    EXPECT_EQ(database->retuneAfterTransponderEdit(kDemoTransponders + 3, 1, 2, 0, 0), 0xFF);
    EXPECT_EQ(database->retuneAfterTransponderEdit(-1, 1, 2, 0, 0), 0xFF);
}

} // namespace
