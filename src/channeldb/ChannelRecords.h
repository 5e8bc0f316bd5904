#pragma once

#include <array>
#include <cstdint>

namespace updatetool {

// Capacities of the box's own tables; nothing in the database ever grows past them.
inline constexpr int kSatelliteCapacity = 128;
inline constexpr int kTranspondersPerSatellite = 128;
inline constexpr int kTransponderCapacity = 3072;
inline constexpr int kStreamCapacity = 1200;
inline constexpr int kChannelSlots = 9000;
inline constexpr int kTvSlots = 7000;
inline constexpr int kFirstRadioSlot = 7000;
inline constexpr int kFavoriteGroupCount = 7;
inline constexpr int kFavoriteGroupCapacity = 150;

// Index values that name nothing: a channel without a satellite or a transponder.
inline constexpr std::uint8_t kNoSatellite = 255;
inline constexpr std::uint16_t kNoTransponder = 3072;
// Satellite index of terrestrial transponders.
inline constexpr std::uint8_t kTerrestrialSatellite = 127;

// A stream reference is the box's memory address of a transport-stream record.
inline constexpr std::uint32_t kStreamRefBase = 0xBFEC0000;
inline constexpr std::uint32_t kStreamRecordStride = 20;
// Held in `word28` by channels the editor added; the free service id search skips their ids.
inline constexpr std::uint32_t kEditorChannelMark = 0xBFEC5DE4;
// `streamRef` of a slot that holds no channel.
inline constexpr std::uint32_t kNoStreamRef = 0xFFFFFFFF;
// Frequency and symbol rate both 1799: the transponder is dropped on the next save.
inline constexpr std::uint16_t kDeletedTransponderMark = 1799;
// A transponder frequency that ends the table for scans and for the save.
inline constexpr std::uint16_t kEndOfTransponders = 0xFFFF;

// Memory bits of `ChannelRecord::flags`.
namespace channelflag {
inline constexpr std::uint16_t kRadio = 1u << 0;
inline constexpr std::uint16_t kDeleted = 1u << 3;
inline constexpr int kFirstFavoriteBit = 5; // bits 5-11: favourite groups 1-7
inline constexpr std::uint16_t kLocked = 1u << 12;
inline constexpr std::uint16_t kScrambled = 1u << 15;
constexpr std::uint16_t favorite(int group) // group 1-7
{
    return static_cast<std::uint16_t>(1u << (kFirstFavoriteBit + group - 1));
}
} // namespace channelflag

using RecordName = std::array<char, 16>;

struct SatelliteRecord {
    // LNB and DiSEqC settings live only in memory: the channel block has no place for them.
    std::uint8_t lnbType = 0;
    std::uint16_t loHigh = 0;
    std::uint16_t loLow = 0;
    std::uint8_t lnb12V = 0;
    std::uint8_t tone22k = 0;
    std::uint8_t lnbPower = 0;
    std::uint8_t diseqc = 0;
    std::uint8_t diseqcRepeat = 0;

    std::uint8_t number = 0;
    RecordName name{};
    std::uint16_t opaqueA = 0;
    std::uint8_t opaqueB = 0;
    std::uint8_t opaqueC = 0;
    std::uint16_t opaqueD = 0;
    std::uint16_t transponderCount = 0; // never above kTranspondersPerSatellite
    std::array<std::uint16_t, kTranspondersPerSatellite> transponderIndex{};

    // Field by field, so the edit history can keep only the records a step changed.
    bool operator==(const SatelliteRecord&) const = default;
};

struct TransponderRecord {
    std::uint8_t satellite = 0; // not below the satellite count: a free record
    std::uint16_t frequency = 0; // MHz; 100 kHz units for terrestrial transponders
    std::uint16_t symbolRate = 0; // kbaud; the channel number for terrestrial transponders
    std::uint8_t polarity = 0; // 1 horizontal, 0 vertical
    std::uint8_t modeBits = 0; // 3 bits
    std::uint8_t priority = 0; // 2 bits, terrestrial: 0 HP, 1 LP, 2 Auto
    std::uint8_t spareBits = 0; // 2 bits

    bool operator==(const TransponderRecord&) const = default;
};

struct TransportStreamRecord {
    std::uint16_t tsWord0 = 0;
    std::uint16_t tsWord1 = 0;
    std::uint16_t tsWord2 = 0;
    std::uint16_t tsWord3 = 0;
    std::uint32_t tsLong = 0;
    std::uint16_t tsFrequency = 0;
    std::uint16_t tsSymbolRate = 0;
    std::uint8_t tsFlags = 0; // bit 6: polarity, 1 horizontal
    std::uint8_t tsByte1 = 0;
    std::uint8_t tsByte2 = 0;
    std::uint8_t tsSatellite = 0;

    bool operator==(const TransportStreamRecord&) const = default;
};

struct ChannelRecord {
    std::uint16_t transponder = 0; // kNoTransponder when no transponder matches
    std::uint8_t satellite = 0;
    std::uint16_t audioPid = 0;
    std::uint16_t videoPid = 0;
    std::uint16_t pcrPid = 0;
    std::uint16_t word8 = 0;
    std::uint16_t serviceId = 0;
    std::uint8_t kindBits = 0; // 2 bits
    bool infoMark = false;
    std::uint8_t byte18 = 0;
    bool flag16 = false;
    std::uint16_t streamWord = 0;
    std::uint16_t extraPid = 0; // 14 bits
    std::array<std::uint8_t, 4> raw12{};
    std::uint16_t value14 = 0; // 14 bits
    std::uint8_t byte19 = 0;
    std::uint8_t byte22 = 0;
    std::uint8_t byte23 = 0;
    std::uint16_t flags = 0; // channelflag bits
    std::uint32_t streamRef = 0;
    std::uint32_t word28 = 0;
    RecordName name{};

    bool isEmpty() const { return serviceId == 0xFFFF && videoPid == 0xFFFF; }
    bool isRadio() const { return (flags & channelflag::kRadio) != 0; }
    bool isDeleted() const { return (flags & channelflag::kDeleted) != 0; }

    bool operator==(const ChannelRecord&) const = default;
};

struct FavoriteGroup {
    std::uint32_t count = 0; // never above kFavoriteGroupCapacity
    std::array<std::uint16_t, kFavoriteGroupCapacity> members{};

    bool operator==(const FavoriteGroup&) const = default;
};

// Stream references used by the channels, each non-zero reference once.
struct StreamRefList {
    int count = 0;
    std::array<std::uint32_t, kStreamCapacity> refs{};
    std::array<std::uint16_t, kStreamCapacity> streamIndex{};
};

} // namespace updatetool
