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
    CantOpen,  // nothing was read; the database stays reset (`lastLoadReason` says why)
    TooShort,  // the file is shorter than a channel image; the database stays reset
};

enum class SaveError {
    None,
    CantOpen,    // the file cannot be opened for reading and writing
    TooShort,    // the file is shorter than the channel block; it is left as it is
    WriteFailed, // the new content could not be written; the file is left as it was
    TooLarge,    // the file is far larger than a channel image; it is not read, nothing is written
    BackupFailed, // the copy of the file as it was could not be written; nothing is written
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
    // Reads `filePath`; starts from the reset state whatever the outcome. A file
    // shorter than a channel image is refused: the lists a padded one would show
    // were never on the box.
    LoadResult load();
    // Writes the tables back into `filePath`: the new image is built in memory from the
    // file's bytes and then replaces the file in one rename. False (and `lastSaveError`)
    // when anything fails; the file is then untouched. With a `backupPath` the file's bytes
    // as they were are first copied there (replacing an older copy in one rename); when
    // that copy cannot be made nothing else is written.
    bool save(const std::string& backupPath = {});

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
    // Transponder carrying these values, polarity aside; of two consecutive equal records
    // the second wins. kNoTransponder when none.
    std::uint16_t findTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                  std::uint16_t symbolRate) const;
    // The first transponder with these values and this polarity: two transponders on one
    // frequency with opposite polarity are two transponders. Only when none has the
    // polarity, the search above (a file whose stream records carry polarities that
    // disagree with its transponders still finds them).
    std::uint16_t findTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                  std::uint16_t symbolRate, std::uint8_t polarity) const;
    // The transponder a channel is tuned to, found from its stream record (the record is
    // what the box reads); kNoTransponder when the record or the transponder is missing.
    std::uint16_t transponderOfChannel(const ChannelRecord& channel) const;

    // Values of a transport-stream record: 0, 0 and 255 for an index past the loaded
    // records (the index just past them reads the record that ended the table).
    std::uint16_t streamFrequency(std::uint32_t streamIndex) const;
    std::uint16_t streamSymbolRate(std::uint32_t streamIndex) const;
    std::uint8_t streamSatellite(std::uint32_t streamIndex) const;
    // The polarity bit of a stream record's flags (1 horizontal); 0 past the loaded records.
    std::uint8_t streamPolarity(std::uint32_t streamIndex) const;
    // Whether a stream index names a record these lookups read.
    bool streamIndexValid(std::uint32_t streamIndex) const;
    // Stream index named by a stream reference (unsigned arithmetic, so any value maps).
    static std::uint32_t streamIndexOf(std::uint32_t streamRef);
    static std::uint32_t streamRefOf(std::uint32_t streamIndex);

    // After the transponder dialog changed a transponder: moves the first channel on
    // it to the transponder's satellite and re-tunes every stream record with the old
    // values. Answers that channel's satellite, 0xFF when no channel uses it.
    std::uint8_t retuneAfterTransponderEdit(int transponder, std::uint16_t oldFrequency,
                                            std::uint16_t oldSymbolRate, std::uint8_t oldPolarity,
                                            std::uint8_t oldSatellite);

    // Service id for a new channel: the highest id from 0xFFFE down that no
    // editor-added channel holds.
    std::uint16_t findFreeServiceId() const;

    // Adds a channel's stream reference unless an equal non-zero one is listed; false
    // when the list is full.
    bool addStreamRef(std::uint32_t streamRef);
    // Marks a transponder record deleted (frequency and symbol rate 1799): it stops being
    // listed, and the next save drops it and moves the later records up.
    void removeTransponder(int transponder);
    // Transponder records in use (the ones the editor lists).
    int usedTransponderCount() const;

    // The channel editor's edit steps. Each keeps the tables consistent (counts,
    // deleted counters, channel order, favourites) and sets `modified` when it changed
    // anything, so a window only says which rows the user meant.

    // Marks the channels at these channel-order positions deleted and takes the
    // positions out of the order. Returns how many channels were deleted.
    int deleteChannelsAt(std::span<const int> positions);

    struct TransponderDeletion {
        bool removed = false;   // the transponder was in the table and is now gone
        int channelsDeleted = 0;
        // A channel's stream record was empty or missing: its channels cannot be told apart.
        bool streamMissing = false;
    };
    // Deletes the channels tuned to a transponder, takes the transponder out of its
    // satellite's list and out of the table.
    TransponderDeletion deleteTransponder(int transponder);

    // A list of channels as the editor shows it: row i stands for the channel at
    // channel-order position rowPositions[i]. Moves change which record contents sit
    // behind which row; the rows, their numbers and the order itself stay.

    // Moves the contents behind row `from` so that they end up just before the row now
    // at `insertionPoint` (the row count puts them last). False when nothing moved.
    bool moveRow(std::span<const std::uint16_t> rowPositions, int from, int insertionPoint);
    // Moves the selected rows to the target row, one row at a time in the order that keeps
    // them together; returns the rows selected afterwards (ascending).
    std::vector<int> moveSelectedRows(std::span<const std::uint16_t> rowPositions,
                                      std::span<const int> selectedRows, int target);

    // Puts the contents behind row contentOfRow[i] behind row i, for every row at once;
    // false (and nothing changed) unless contentOfRow is a permutation of the rows that
    // differs from the identity.
    bool reorderRows(std::span<const std::uint16_t> rowPositions, std::span<const int> contentOfRow);

    enum class SortKey { Name, ServiceId };
    // Sorts the contents behind the selected rows among those rows (behind every row when
    // at most one is selected), stably: by the shown name without regard to case, or by
    // Ch. ID. Returns the rows that hold the selected contents afterwards (ascending).
    std::vector<int> sortRows(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                              SortKey key);

    enum class Shift { Up, Down, Top, Bottom };
    // Moves the selected rows' contents by one row (a block already at that edge stays), or
    // to the top or the bottom keeping their order. Returns the rows selected afterwards.
    std::vector<int> moveSelectedBy(std::span<const std::uint16_t> rowPositions, std::span<const int> selectedRows,
                                    Shift shift);

    // The edit dialogs' steps. Every check runs before anything is written: a refused
    // step leaves the database as it was.
    enum class EditResult {
        Stored,
        Unchanged,        // the values were those already stored
        Duplicate,        // another transponder of the satellite has these values
        NoFreeRecord,     // no free transponder record, or the satellite's list is full
        ChannelsFull,     // no free channel slot of that kind
        StreamTableFull,  // a new transport-stream record or reference would not fit
        NoSuchRecord,     // the index or position names nothing
        ReadsAsEmpty,     // Vid PID and Ch. ID both 65535: the box takes that for an empty slot
    };
    struct TransponderValues {
        std::uint8_t satellite = 0;
        std::uint16_t frequency = 0;  // MHz; 100 kHz units for terrestrial transponders
        std::uint16_t symbolRate = 0; // kbaud; the channel number for terrestrial ones
        std::uint8_t polarity = 0;
        std::uint8_t priority = 0;
    };
    // A new transponder for `currentSatellite`: stored in the first free record and
    // appended to that satellite's list. `index` is the record used.
    EditResult insertTransponder(const TransponderValues& values, int& index);
    // New values for a transponder; the channels tuned to its old values follow it.
    EditResult editTransponder(int index, const TransponderValues& values);

    struct ChannelValues {
        // The transponder choice was left as it was: an edit keeps the channel's
        // satellite, transponder and stream reference exactly, even where no transponder
        // matches its stream record. `satellite` and `transponder` are then not read.
        bool keepTuning = false;
        std::uint8_t satellite = 0;
        std::uint16_t transponder = kNoTransponder;
        RecordName name{};
        std::uint16_t audioPid = 0;
        std::uint16_t videoPid = 0;
        std::uint16_t pcrPid = 0;
        std::uint16_t serviceId = 1;
        bool infoMark = false;
        bool scrambled = false;
        bool locked = false;
        std::uint8_t favorites = 0; // bit 0 group 1 ... bit 6 group 7
    };
    // A new channel in the first empty slot of its kind, at the end of its part of the
    // channel order (a TV channel before the radio ones). `position` is its order position.
    EditResult insertChannel(bool radio, const ChannelValues& values, int& position);
    EditResult editChannel(int position, const ChannelValues& values);

    struct SatelliteSettings {
        RecordName name{};
        std::uint8_t lnbType = 0;
        std::uint16_t loHigh = 0;
        std::uint16_t loLow = 0;
        std::uint8_t lnbPower = 0;
        std::uint8_t tone22k = 0;
        std::uint8_t lnb12V = 0;
        std::uint8_t diseqc = 0;
        std::uint8_t diseqcRepeat = 0;
    };
    EditResult editSatellite(int satellite, const SatelliteSettings& settings);

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
    // Why the last save could not open, copy or write the file, in the system's
    // words; empty for the failures that are the file's content (too short, too large).
    std::string lastSaveReason;
    // Why the last load found nothing: the system's words, or the file's size.
    std::string lastLoadReason;

private:
    void resetTables(bool channelSlotsToo);
    LoadResult decode(std::span<const std::uint8_t> image);
    void decodeChannels(std::span<const std::uint8_t> table);
    void buildChannelOrderAndStreamRefs();
    void encodePaddingFor(std::vector<std::uint8_t>& image) const;
    int markChannelsDeleted(std::span<const int> positions);
    // Selected rows ascending, once each, without the ones past the list.
    static std::vector<int> selectionWithin(std::span<const int> selectedRows, int rows);
    int deleteChannelsOfTransponder(int transponder, bool& streamMissing);
    void moveRowContents(std::span<const std::uint16_t> rowPositions, std::span<const int> contentOfRow);
    bool streamRoomForOneMore() const;
    std::uint32_t addStreamRecordFor(const TransponderRecord& transponder, bool setModeValue);
    int streamRecordTunedTo(const TransponderRecord& transponder) const;
    void writeChannelValues(ChannelRecord& channel, bool radio, const ChannelValues& values) const;
};

} // namespace updatetool
