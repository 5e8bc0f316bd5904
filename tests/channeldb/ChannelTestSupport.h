#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChannelDatabase.h"
#include "SampleImages.h"

namespace updatetool::test {

// File offsets written out as numbers here, not taken from the layout table, so a
// wrong table entry shows up as a failing test.
inline constexpr std::size_t kChannelTable = 0x000010;
inline constexpr std::size_t kRadioTable = 0x052090;
inline constexpr std::size_t kStreamTable = 0x080010;
inline constexpr std::size_t kBackupArea = 0x090010;
inline constexpr std::size_t kCheckWords = 0x0A0010;
inline constexpr std::size_t kStreamRefList = 0x0A1CC4;
inline constexpr std::size_t kFavorites = 0x0A2F88;
inline constexpr std::size_t kSatelliteCheck = 0x0B0010;
inline constexpr std::size_t kSatellites = 0x0B0014;
inline constexpr std::size_t kTransponderCheck = 0x0B8D14;
inline constexpr std::size_t kTransponders = 0x0B8D18;
inline constexpr std::size_t kAreaCheck = 0x0D000E;
inline constexpr std::size_t kImageSize = 851984;

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t be16(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>((bytes.at(offset) << 8) | bytes.at(offset + 1));
}

inline std::uint32_t be32(const Bytes& bytes, std::size_t offset)
{
    return (std::uint32_t{be16(bytes, offset)} << 16) | be16(bytes, offset + 2);
}

inline void putBe16(Bytes& bytes, std::size_t offset, std::uint16_t value)
{
    bytes.at(offset) = static_cast<std::uint8_t>(value >> 8);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value);
}

inline void putBe32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    putBe16(bytes, offset, static_cast<std::uint16_t>(value >> 16));
    putBe16(bytes, offset + 2, static_cast<std::uint16_t>(value));
}

inline std::size_t channelOffset(int slot)
{
    return kChannelTable + 48 * static_cast<std::size_t>(slot);
}

inline void emptySlotOnFile(Bytes& image, int slot)
{
    putBe16(image, channelOffset(slot), 0xFFFF);
    putBe16(image, channelOffset(slot) + 2, 0xFFFF);
}

// A bit-by-bit CRC-16/ARC, independent of the table-driven one under test.
inline std::uint16_t referenceArc(const Bytes& bytes, std::size_t offset, std::size_t length)
{
    std::uint16_t crc = 0;
    for (std::size_t i = offset; i < offset + length; ++i) {
        crc ^= bytes.at(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

// Every check word and the backup copy, as the box verifies them.
inline void expectCheckWordsValid(const Bytes& image)
{
    struct Piece {
        int word;
        std::size_t offset, length;
    };
    const Piece pieces[] = {{0, 0x0A0024, 3300}, {1, 0x0A0D08, 20}, {3, 0x0A0D1C, 2004},
                            {4, 0x0A14F0, 2004}, {5, 0x0A1CC4, 4804}, {6, 0x0A2F88, 2128}};
    for (const Piece& piece : pieces)
        EXPECT_EQ(be16(image, kCheckWords + 2 * piece.word),
                  static_cast<std::uint16_t>(referenceArc(image, piece.offset, piece.length) + 0x5A5A))
            << "check word " << piece.word;
    for (const int unused : {2, 7, 8, 9})
        EXPECT_EQ(be16(image, kCheckWords + 2 * unused), 0xFFFF) << "check word " << unused;
    EXPECT_EQ(be32(image, kSatelliteCheck), 0xA5A50000u | referenceArc(image, kSatellites, 36096));
    EXPECT_EQ(be32(image, kTransponderCheck), 0xA5A50000u | referenceArc(image, kTransponders, 24576));
    EXPECT_EQ(be16(image, kAreaCheck), static_cast<std::uint16_t>(referenceArc(image, kSatelliteCheck, 65534) + 0x5A5A));
    EXPECT_TRUE(std::equal(image.begin() + kCheckWords, image.begin() + kCheckWords + 65536, image.begin() + kBackupArea))
        << "backup area differs from the check-word table and list area";
}

// The demo image's list lengths.
inline constexpr int kDemoTv = 240;
inline constexpr int kDemoRadio = 60;

// The channel behind a channel-order position.
inline ChannelRecord& channelAt(ChannelDatabase& database, std::uint16_t position)
{
    return database.channels[database.channelOrder[position]];
}

inline const Bytes& demoImage()
{
    static const Bytes image = samples::channelImage();
    return image;
}

inline const Bytes& fullImage()
{
    static const Bytes image = samples::fullChannelImage();
    return image;
}

inline std::unique_ptr<ChannelDatabase> loaded(const Bytes& image)
{
    auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(image);
    database->rebuildCountersAndFavorites();
    return database;
}

// The in-memory save applied to a copy of the bytes it was loaded from.
inline Bytes savedOver(const ChannelDatabase& database, const Bytes& original)
{
    Bytes image = original;
    EXPECT_TRUE(database.saveInto(image));
    return image;
}

// A fresh folder under the system's temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder()
    {
        // A random name that create_directory did not find taken; no mkdtemp on Windows.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() / ("channeldb-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                path_ = candidate;
        }
        if (path_.empty())
            throw std::runtime_error("no temporary folder");
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace updatetool::test
