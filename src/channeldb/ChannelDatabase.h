#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ChannelImageFile.h"
#include "ChannelRecords.h"

namespace updatetool {

enum class LoadResult {
    Loaded,    // at least one channel
    NoChannel, // the file was read but holds no channel: the editor says "No Channel"
    CantOpen,  // nothing was read; the database stays reset
};

enum class SaveError {
    None,
    CantOpen,    // the file cannot be opened for reading and writing
    TooShort,    // the file is shorter than the channel block; it is left as it is
    WriteFailed, // the new content could not be written; the file is left as it was
    TooLarge,    // the file is far larger than a channel image; it is not read, nothing is written
};

// Save reads the whole file before it replaces it; a file far beyond a channel
// image is no channel image and is refused rather than read into memory.
inline constexpr std::size_t kLargestChannelFile = 64u << 20;

// The one in-memory copy of a box's channel area: satellites, transponders, the box's
// transport-stream records, TV and radio channels and seven favourite groups, in
// fixed tables sized like the box's own. Big (about a megabyte): keep one per program,
// and put test copies on the heap.
class ChannelDatabase {
public:
    ChannelDatabase();

    // Empties the tables for a new file; the satellites' LNB settings, `sourceKind`
    // and `filePath` stay.
    void reset();
    // Reads `filePath`; starts from the reset state whatever the outcome.
    LoadResult load();
    // Writes the tables back into `filePath`: the new image is built in memory from the
    // file's bytes and then replaces the file in one rename. False (and `lastSaveError`)
    // when anything fails; the file is then untouched.
    bool save();

    // The same two steps on bytes in memory, for callers that hold the image themselves.
    LoadResult loadFromBytes(std::span<const std::uint8_t> image);
    // Updates `image` in place; false when it is shorter than the channel block.
    bool saveInto(std::span<std::uint8_t> image) const;

    // Recounts channels per satellite and per transponder and rebuilds the favourite
    // groups from the channels' flags; returns the number of non-empty channel slots.
    int rebuildCountersAndFavorites();

    // First transponder record not in use, or -1 when all are.
    int findFreeTransponder() const;
    // First transponder with these values, scanning up to the end marker; -1 when none.
    int findDuplicateTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                 std::uint16_t symbolRate, std::uint8_t polarity) const;
    // Transponder carrying these values; of two consecutive equal records the second
    // wins. kNoTransponder when none.
    std::uint16_t findTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                  std::uint16_t symbolRate) const;

    // Values of a transport-stream record: 0, 0 and 255 for an index past the loaded
    // records (the index just past them reads the record that ended the table).
    std::uint16_t streamFrequency(std::uint32_t streamIndex) const;
    std::uint16_t streamSymbolRate(std::uint32_t streamIndex) const;
    std::uint8_t streamSatellite(std::uint32_t streamIndex) const;
    // Whether a stream index names a record these lookups read.
    bool streamIndexValid(std::uint32_t streamIndex) const;
    // Stream index named by a stream reference (unsigned arithmetic, so any value maps).
    static std::uint32_t streamIndexOf(std::uint32_t streamRef);
    static std::uint32_t streamRefOf(std::uint32_t streamIndex);

    // After the transponder dialog changed a transponder: moves the first channel on
    // it to the transponder's satellite and re-tunes the first stream record with the
    // old values. Answers that channel's satellite, 0xFF when no channel uses it.
    std::uint8_t retuneAfterTransponderEdit(int transponder, std::uint16_t oldFrequency,
                                            std::uint16_t oldSymbolRate, std::uint8_t oldPolarity,
                                            std::uint8_t oldSatellite);

    // Service id for a new channel: the highest id from 0xFFFE down that no
    // editor-added channel holds.
    std::uint16_t findFreeServiceId() const;

    // Adds a channel's stream reference unless an equal non-zero one is listed; false
    // when the list is full.
    bool addStreamRef(std::uint32_t streamRef);
    // Takes a position out of the channel order, closing the gap.
    void removeChannelOrderPosition(int position);
    // Frees a transponder record so that it stops counting and is reused by the next insert.
    void removeTransponder(int transponder);
    // Transponder records in use (the ones the editor lists).
    int usedTransponderCount() const;

    char sourceKind = 0; // 'c' for a channel file
    std::uint8_t satelliteCount = kSatelliteCapacity;
    std::string filePath;
    std::array<SatelliteRecord, kSatelliteCapacity> satellites{};
    std::array<std::uint32_t, kSatelliteCapacity> satelliteChannelCounts{};
    std::array<TransponderRecord, kTransponderCapacity> transponders{};
    std::array<std::uint16_t, kTransponderCapacity> transponderMarks{}; // 0x00FF or 0
    std::array<std::uint32_t, kTransponderCapacity> transponderChannelCounts{};
    int transponderCount = 0;
    std::array<TransportStreamRecord, kStreamCapacity> transportStreams{};
    int streamCount = 0;
    std::array<ChannelRecord, kChannelSlots> channels{};
    int channelSlots = -1; // 9000 once loaded: the bound of every channel walk
    int tvCount = 0;
    int radioCount = 0;
    int channelCount = 0;
    std::array<FavoriteGroup, kFavoriteGroupCount> favorites{};
    std::uint16_t nextFreeServiceId = 0xFFFE;
    // TV slots in order, then radio slots; 0xFFFF past the end.
    std::array<std::uint16_t, kChannelSlots> channelOrder{};
    StreamRefList streamRefs;
    std::uint16_t deletedTvCount = 0;
    std::uint16_t deletedRadioCount = 0;
    bool modified = false;
    int channelTableChanged = 0;
    int rebuiltChannelCount = 0;
    int currentSatellite = 0; // receives transponders the editor inserts

    // How save writes the file; the benchmark turns the disk flush off.
    channelfile::ReplaceOptions saveOptions;
    SaveError lastSaveError = SaveError::None;

private:
    void resetTables(bool channelSlotsToo);
    LoadResult decode(std::span<const std::uint8_t> image);
    void decodeChannels(std::span<const std::uint8_t> table);
    void buildChannelOrderAndStreamRefs();
    void encodePaddingFor(std::vector<std::uint8_t>& image) const;
};

} // namespace updatetool
