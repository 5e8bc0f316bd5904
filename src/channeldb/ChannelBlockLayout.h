#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Where everything sits in a channel image file. The box reads the same layout, so
// every number here is fixed.
namespace updatetool::channelblock {

struct Area {
    std::string_view name;
    std::size_t offset;
    std::size_t length;
    constexpr std::size_t end() const { return offset + length; }
};

inline constexpr Area kFileHeader{"file header", 0x000000, 16};
inline constexpr Area kChannelTable{"channel table", 0x000010, 432000};
inline constexpr Area kStreamTable{"stream table", 0x080010, 24000};
inline constexpr Area kBackupArea{"backup area", 0x090010, 65536};
inline constexpr Area kCheckWordTable{"check-word table", 0x0A0010, 20};
inline constexpr Area kListPiece1{"list-area piece 1", 0x0A0024, 3300};
inline constexpr Area kListPiece2{"list-area piece 2", 0x0A0D08, 20};
inline constexpr Area kListPiece3{"list-area piece 3", 0x0A0D1C, 2004};
inline constexpr Area kListPiece4{"list-area piece 4", 0x0A14F0, 2004};
inline constexpr Area kStreamRefList{"stream-reference list", 0x0A1CC4, 4804};
inline constexpr Area kFavoriteGroups{"favourite groups", 0x0A2F88, 2128};
inline constexpr Area kSatelliteCheckWord{"satellite check word", 0x0B0010, 4};
inline constexpr Area kSatelliteTable{"satellite table", 0x0B0014, 36096};
inline constexpr Area kTransponderCheckWord{"transponder check word", 0x0B8D14, 4};
inline constexpr Area kTransponderTable{"transponder table", 0x0B8D18, 24576};
inline constexpr Area kAreaCheckWord{"area check word", 0x0D000E, 2};

// The file map, in file order; gaps between the areas are never touched.
inline constexpr std::array kFileMap{
    kFileHeader, kChannelTable, kStreamTable, kBackupArea, kCheckWordTable,
    kListPiece1, kListPiece2, kListPiece3, kListPiece4, kStreamRefList,
    kFavoriteGroups, kSatelliteCheckWord, kSatelliteTable, kTransponderCheckWord,
    kTransponderTable, kAreaCheckWord,
};

// Smallest file that holds the whole layout: 851,984 bytes.
inline constexpr std::size_t kImageSize = kAreaCheckWord.end();
static_assert(kImageSize == 851984);

// The backup area receives a copy of the 64 KiB that start at the check-word table.
inline constexpr std::size_t kBackupSource = kCheckWordTable.offset;
// The list area read back for the check-word table: 65,500 bytes from piece 1 on.
inline constexpr Area kListArea{"list area", kListPiece1.offset, 65500};
// The area check word covers 65,534 bytes from the satellite check word on.
inline constexpr Area kAreaCheckRange{"area check range", kSatelliteCheckWord.offset, 65534};

// Check words are CRC + 0x5A5A modulo 65536; the 32-bit table words carry 0xA5A5 above it.
inline constexpr std::uint16_t kCheckWordAddend = 0x5A5A;
inline constexpr std::uint16_t kTableCheckTag = 0xA5A5;
inline constexpr std::uint16_t kUnusedCheckWord = 0xFFFF;

// Words of the check-word table and the piece each covers; the other four read 0xFFFF.
struct CheckWord {
    int word;
    Area covered;
};
inline constexpr std::array kCheckWords{
    CheckWord{0, kListPiece1}, CheckWord{1, kListPiece2}, CheckWord{3, kListPiece3},
    CheckWord{4, kListPiece4}, CheckWord{5, kStreamRefList}, CheckWord{6, kFavoriteGroups},
};
inline constexpr int kCheckWordCount = 10;

// Channel record: 48 bytes; offsets of its fields.
namespace channelrec {
inline constexpr std::size_t kSize = 48;
inline constexpr std::size_t kServiceId = 0;
inline constexpr std::size_t kVideoPid = 2;
inline constexpr std::size_t kAudioPid = 4;
inline constexpr std::size_t kKindAndExtraPid = 6; // bits 15-14 kindBits, 13-0 extraPid
inline constexpr std::size_t kWord8 = 8;
inline constexpr std::size_t kPcrPid = 10;
inline constexpr std::size_t kRaw12 = 12;
inline constexpr std::size_t kMarksAndValue14 = 16; // bit 15 flag16, 14 infoMark, 13-0 value14
inline constexpr std::size_t kByte18 = 18;
inline constexpr std::size_t kByte19 = 19;
inline constexpr std::size_t kFlagWord = 20;
inline constexpr std::size_t kByte22 = 22;
inline constexpr std::size_t kByte23 = 23;
inline constexpr std::size_t kStreamRef = 24;
inline constexpr std::size_t kWord28 = 28;
inline constexpr std::size_t kName = 32;
inline constexpr std::size_t kNameLength = 16;

// Memory flag bit for each bit of the file's flag word (index = file bit). The
// mapping is a permutation, so every bit survives a load and a save.
inline constexpr std::array<std::uint8_t, 16> kFlagBitFromFileBit{
    15, 14, 13, 12,           // file 0-3: scrambled, two carried bits, locked
    5, 6, 7, 8, 9, 10, 11,    // file 4-10: favourite groups 1-7
    4, 3, 1, 2, 0,            // file 11-15: carried, deleted, the carried pair, radio
};
} // namespace channelrec

// Transport-stream record: 20 bytes.
namespace streamrec {
inline constexpr std::size_t kSize = 20;
inline constexpr std::size_t kWord0 = 0;
inline constexpr std::size_t kWord1 = 2;
inline constexpr std::size_t kWord2 = 4;
inline constexpr std::size_t kWord3 = 6;
inline constexpr std::size_t kLong = 8;
inline constexpr std::size_t kFrequency = 12;
inline constexpr std::size_t kSymbolRate = 14;
inline constexpr std::size_t kFlags = 16;
inline constexpr std::size_t kByte1 = 17;
inline constexpr std::size_t kByte2 = 18;
inline constexpr std::size_t kSatellite = 19;
// Only the first 14 bytes of the record that ends the table are read.
inline constexpr std::size_t kTerminatorBytesRead = 14;
inline constexpr unsigned kPolarityBit = 6;
} // namespace streamrec

// Satellite record: 282 bytes.
namespace satelliterec {
inline constexpr std::size_t kSize = 282;
inline constexpr std::size_t kNumber = 0;
inline constexpr std::size_t kName = 1;
inline constexpr std::size_t kOpaqueAHighCopy = 17; // written as a copy of byte 18, ignored on load
inline constexpr std::size_t kOpaqueA = 18;
inline constexpr std::size_t kOpaqueB = 20;
inline constexpr std::size_t kOpaqueC = 21;
inline constexpr std::size_t kOpaqueD = 22;
inline constexpr std::size_t kTransponderCount = 24;
inline constexpr std::size_t kTransponderIndex = 26; // 128 16-bit indices
} // namespace satelliterec

// Transponder record: 8 bytes.
namespace transponderrec {
inline constexpr std::size_t kSize = 8;
inline constexpr std::size_t kSatellite = 0;
inline constexpr std::size_t kMarkCopy = 1; // written like byte 7, ignored on load
inline constexpr std::size_t kFrequency = 2;
inline constexpr std::size_t kSymbolRate = 4;
inline constexpr std::size_t kFlags = 6;
inline constexpr std::size_t kMark = 7;
// Bits of the flag byte.
inline constexpr unsigned kPolarityBit = 7;
inline constexpr unsigned kPriorityLowBit = 6;
inline constexpr unsigned kModeBitsLow = 3; // bits 5-3
inline constexpr unsigned kPriorityHighBit = 2;
inline constexpr unsigned kSpareBitsLow = 0; // bits 1-0
} // namespace transponderrec

// Stream-reference list: count word (count in the upper 16 bits), then 1200 references.
namespace streamreflist {
inline constexpr std::size_t kCountWord = 0;
inline constexpr std::size_t kRefs = 4;
} // namespace streamreflist

// Favourite groups: seven 32-bit counts, then seven lists of 150 16-bit members.
namespace favoritegroups {
inline constexpr std::size_t kCounts = 0;
inline constexpr std::size_t kMembers = 28;
inline constexpr std::size_t kMemberListSize = 300;
} // namespace favoritegroups

} // namespace updatetool::channelblock
