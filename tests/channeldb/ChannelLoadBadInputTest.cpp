// Files of random bytes, truncated and damaged images: load, rebuild, listing and save
// must stay inside every table (the sanitizer builds run these too).
#include "ChannelTestSupport.h"

#include <random>

#include "TextListing.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

void expectTablesConsistent(const ChannelDatabase& database)
{
    EXPECT_EQ(database.channelCount, database.tvCount + database.radioCount);
    EXPECT_LE(database.channelCount, kChannelSlots);
    EXPECT_LE(database.streamCount, kStreamCapacity);
    EXPECT_LE(database.streamRefs.count, kStreamCapacity);
    for (const FavoriteGroup& group : database.favorites)
        EXPECT_LE(group.count, static_cast<std::uint32_t>(kFavoriteGroupCapacity));
    for (const SatelliteRecord& satellite : database.satellites) {
        EXPECT_LE(satellite.transponderCount, kTranspondersPerSatellite);
        EXPECT_LT(satellite.number, kSatelliteCapacity);
        for (int entry = 0; entry < satellite.transponderCount; ++entry)
            EXPECT_LT(satellite.transponderIndex[entry], kTransponderCapacity);
    }
    for (const std::uint16_t slot : database.channelOrder)
        EXPECT_TRUE(slot < kChannelSlots || slot == 0xFFFF);
}

// Everything a user could do with a damaged file short of editing it.
void exercise(const Bytes& file)
{
    const auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(file);
    expectTablesConsistent(*database);
    database->rebuildCountersAndFavorites();
    const std::string listing = channelListingText(*database);
    // Every cell has its width whatever the bytes, so the length tells the line count.
    constexpr std::size_t kLine = 91, kRule = 89;
    EXPECT_EQ(listing.size(), kLine + kRule + kLine * kChannelSlots);
    for (const std::uint32_t index : {0u, 1u, 1199u, 1200u, 0xFFFFFFFFu}) {
        database->streamFrequency(index);
        database->streamSatellite(index);
    }
    database->findFreeServiceId();
    database->retuneAfterTransponderEdit(0, 0, 0, 0, 0);

    Bytes image = file;
    if (image.size() < kImageSize)
        image.resize(kImageSize, 0);
    ASSERT_TRUE(database->saveInto(image));
    expectCheckWordsValid(image);
    const auto reloaded = std::make_unique<ChannelDatabase>();
    reloaded->loadFromBytes(image);
    expectTablesConsistent(*reloaded);
}

TEST(ChannelLoadBadInput, RandomFiles)
{
    const std::size_t sizes[] = {0, 1, 15, 16, 4096, 432016, kImageSize - 1, kImageSize, kImageSize + 100};
    std::uint32_t seed = 1;
    for (const std::size_t size : sizes) {
        for (int round = 0; round < 2; ++round, ++seed) {
            SCOPED_TRACE(testing::Message() << "size " << size << " seed " << seed);
            std::mt19937 random(seed);
            Bytes file(size);
            for (auto& byte : file)
                byte = static_cast<std::uint8_t>(random());
            exercise(file);
        }
    }
}

TEST(ChannelLoadBadInput, DamagedImages)
{
    for (std::uint32_t seed = 100; seed < 116; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        Bytes file = (seed % 2) ? demoImage() : fullImage();
        for (int i = 0; i < 4000; ++i)
            file[random() % file.size()] = static_cast<std::uint8_t>(random());
        exercise(file);
    }
}

TEST(ChannelLoadBadInput, DamagedIndexFields)
{
    // The fields an index is taken from, set to their worst values.
    const struct {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width; // bytes
    } cases[] = {
        {"stream reference", channelOffset(0) + 24, 0xBFEC0000u + 20u * 5000u, 4},
        {"stream reference just below the base", channelOffset(1) + 24, 0xBFEBFFFFu, 4},
        {"stream satellite", kStreamTable + 19, 0xFE, 1},
        {"satellite transponder count", kSatellites + 24, 0xFFFF, 2},
        {"satellite number", kSatellites, 0xC8, 1},
        {"satellite transponder number", kSatellites + 26, 0xFFFF, 2},
        {"favourite count", kFavorites, 0xFFFFFFFF, 4},
        {"stream-reference count", kStreamRefList, 0xFFFF0000, 4},
        {"transponder satellite", kTransponders, 0xC8, 1},
        {"radio bit in every TV slot", channelOffset(0) + 20, 0x8000, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = demoImage();
        for (int i = 0; i < c.width; ++i)
            file[c.offset + i] = static_cast<std::uint8_t>(c.value >> (8 * (c.width - 1 - i)));
        exercise(file);
    }
}

TEST(ChannelLoadBadInput, EveryTvSlotMarkedRadio)
{
    // The order is built from the counts; radio counts past the table are cut off.
    Bytes file = fullImage();
    for (int slot = 0; slot < 9000; ++slot)
        file[channelOffset(slot) + 20] |= 0x80;
    const auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(file);
    EXPECT_EQ(database->radioCount, 9000);
    EXPECT_EQ(database->channelOrder[1999], 8999);
    EXPECT_EQ(database->channelOrder[2000], 0xFFFF);
    exercise(file);
}

TEST(ChannelLoadBadInput, TruncatedImages)
{
    const std::size_t lengths[] = {0, 16, 17, 1000, channelOffset(240), channelOffset(7000) + 5, kStreamTable + 10,
                                   kFavorites + 5, kSatellites + 282 * 3 + 10, kTransponders + 8 * 7 + 3, kImageSize - 1};
    for (const std::size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << "length " << length);
        exercise(Bytes(demoImage().begin(), demoImage().begin() + static_cast<std::ptrdiff_t>(length)));
    }
}

TEST(ChannelLoadBadInput, FieldsPastTheEndKeepTheirResetValues)
{
    // Cut inside satellite 3's name: satellites 0-2 are read, the rest stay unnamed,
    // and no transponder is read at all.
    const Bytes file(demoImage().begin(), demoImage().begin() + static_cast<std::ptrdiff_t>(kSatellites + 282 * 3 + 10));
    const auto database = std::make_unique<ChannelDatabase>();
    EXPECT_EQ(database->loadFromBytes(file), LoadResult::Loaded);
    EXPECT_EQ(database->tvCount, 240);
    EXPECT_EQ(database->radioCount, 60);
    EXPECT_EQ(std::string(database->satellites[2].name.data()), "EUTELSAT 7.0E");
    EXPECT_EQ(std::string(database->satellites[3].name.data()), "TURKSAT 4");
    EXPECT_EQ(database->satellites[4].name[0], '\0');
    EXPECT_EQ(database->satellites[4].number, 4);
    EXPECT_EQ(database->transponders[0].frequency, 0);
    EXPECT_EQ(database->channels[0].transponder, kNoTransponder);
    EXPECT_EQ(database->channels[0].satellite, 0);
}

} // namespace
