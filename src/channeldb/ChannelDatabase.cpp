#include "ChannelDatabase.h"
#include "ChannelImageCheck.h"

#include <algorithm>
#include <bitset>

#include "ByteOrder.h"
#include "ChannelBlockLayout.h"
#include "ChannelRecordCodec.h"

namespace updatetool {

using namespace channelblock;

namespace {

constexpr std::uint16_t kNoOrderEntry = 0xFFFF;
constexpr std::uint16_t kRadioMemberBit = 0x8000;

std::span<std::uint8_t> areaOf(std::span<std::uint8_t> image, const Area& area)
{
    return image.subspan(area.offset, area.length);
}

std::span<const std::uint8_t> areaOf(std::span<const std::uint8_t> image, const Area& area)
{
    return image.subspan(area.offset, area.length);
}

template <typename Bytes>
Bytes recordOf(Bytes table, std::size_t index, std::size_t size)
{
    return table.subspan(index * size, size);
}

bool transponderDeleted(const TransponderRecord& transponder)
{
    return transponder.frequency == kDeletedTransponderMark
        && transponder.symbolRate == kDeletedTransponderMark;
}

// Calls visit(slot) for each non-empty slot of the TV run (from slot 0 to the first
// empty slot) and then of the radio run (from slot 7000 to the next empty slot).
template <typename Visit>
void forEachChannelInRuns(const std::array<ChannelRecord, kChannelSlots>& channels, int bound, Visit visit)
{
    const int limit = std::min(bound, kChannelSlots);
    for (int slot = 0; slot < std::min(limit, kTvSlots) && !channels[slot].isEmpty(); ++slot)
        visit(slot);
    for (int slot = kFirstRadioSlot; slot < limit && !channels[slot].isEmpty(); ++slot)
        visit(slot);
}

// What a slot that holds no channel looks like after a load, whatever the file or an
// earlier file left in it: the end-of-list stream reference and no name.
ChannelRecord emptySlot()
{
    ChannelRecord slot;
    slot.transponder = 0xFFFF;
    slot.satellite = kNoSatellite;
    slot.audioPid = slot.videoPid = slot.pcrPid = slot.word8 = slot.serviceId = 0xFFFF;
    slot.kindBits = 0x3;
    slot.infoMark = true;
    slot.byte18 = 0xFF;
    slot.flag16 = true;
    slot.streamWord = 0xFFFF;
    slot.extraPid = 0x3FFF;
    slot.streamRef = kNoStreamRef;
    slot.word28 = kNoStreamRef;
    return slot;
}

// Finds transponders by satellite, frequency, symbol rate and polarity in constant time,
// so that loading 9000 channels does not scan the 3072 records for each of them. Answers
// as ChannelDatabase::findTransponder does.
class TransponderLookup {
public:
    explicit TransponderLookup(const std::array<TransponderRecord, kTransponderCapacity>& transponders)
        : transponders_(transponders), keys_(kBuckets, kFreeBucket), indices_(kBuckets, 0)
    {
        for (int index = 0; index < kTransponderCapacity; ++index) {
            // A free record is nobody's transponder, even when a damaged stream record
            // names the same values.
            if (transponders[index].satellite >= kSatelliteCapacity)
                continue;
            remember(keyOf(transponders[index]), index);
            remember(keyWithPolarity(transponders[index]), index);
        }
    }

    std::uint16_t find(std::uint8_t satellite, std::uint16_t frequency, std::uint16_t symbolRate,
                       std::uint8_t polarity) const
    {
        if (const int exact = indexOf(keyWithPolarity(satellite, frequency, symbolRate, polarity)); exact >= 0)
            return static_cast<std::uint16_t>(exact);
        const std::uint64_t key = keyOf(satellite, frequency, symbolRate);
        const int first = indexOf(key);
        if (first < 0)
            return kNoTransponder;
        // Of two consecutive records with the same values the second one is meant.
        if (first + 1 < kTransponderCapacity && transponders_[first + 1].satellite < kSatelliteCapacity
            && keyOf(transponders_[first + 1]) == key)
            return static_cast<std::uint16_t>(first + 1);
        return static_cast<std::uint16_t>(first);
    }

private:
    static constexpr std::size_t kBuckets = 8192; // a power of two, well above twice 3072
    static constexpr std::uint64_t kFreeBucket = ~std::uint64_t{0};
    static constexpr std::uint64_t kPolarityKey = std::uint64_t{1} << 40;

    void remember(std::uint64_t key, int index)
    {
        std::size_t bucket = bucketOf(key);
        while (keys_[bucket] != kFreeBucket && keys_[bucket] != key)
            bucket = (bucket + 1) & (kBuckets - 1);
        if (keys_[bucket] == kFreeBucket) { // the first record with a key wins
            keys_[bucket] = key;
            indices_[bucket] = static_cast<std::uint16_t>(index);
        }
    }
    int indexOf(std::uint64_t key) const
    {
        for (std::size_t bucket = bucketOf(key); keys_[bucket] != kFreeBucket; bucket = (bucket + 1) & (kBuckets - 1))
            if (keys_[bucket] == key)
                return indices_[bucket];
        return -1;
    }
    static std::uint64_t keyOf(std::uint8_t satellite, std::uint16_t frequency, std::uint16_t symbolRate)
    {
        return (std::uint64_t{satellite} << 32) | (std::uint64_t{frequency} << 16) | symbolRate;
    }
    static std::uint64_t keyOf(const TransponderRecord& transponder)
    {
        return keyOf(transponder.satellite, transponder.frequency, transponder.symbolRate);
    }
    static std::uint64_t keyWithPolarity(std::uint8_t satellite, std::uint16_t frequency, std::uint16_t symbolRate,
                                         std::uint8_t polarity)
    {
        return keyOf(satellite, frequency, symbolRate) | (kPolarityKey << (polarity & 1u));
    }
    static std::uint64_t keyWithPolarity(const TransponderRecord& transponder)
    {
        return keyWithPolarity(transponder.satellite, transponder.frequency, transponder.symbolRate,
                               transponder.polarity);
    }
    static std::size_t bucketOf(std::uint64_t key)
    {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 51); // top 13 bits
    }

    const std::array<TransponderRecord, kTransponderCapacity>& transponders_;
    std::vector<std::uint64_t> keys_;
    std::vector<std::uint16_t> indices_;
};

void writeFavorites(const std::array<FavoriteGroup, kFavoriteGroupCount>& favorites, std::span<std::uint8_t> image)
{
    const auto area = areaOf(image, kFavoriteGroups);
    for (std::size_t group = 0; group < favorites.size(); ++group) {
        writeBE32(area, favoritegroups::kCounts + 4 * group, favorites[group].count);
        const std::size_t list = favoritegroups::kMembers + favoritegroups::kMemberListSize * group;
        for (std::size_t member = 0; member < kFavoriteGroupCapacity; ++member)
            writeBE16(area, list + 2 * member, favorites[group].members[member]);
    }
}

void writeStreamTable(const std::array<TransportStreamRecord, kStreamCapacity>& streams, std::span<std::uint8_t> image)
{
    const auto table = areaOf(image, kStreamTable);
    for (std::size_t index = 0; index < streams.size(); ++index)
        encodeStream(streams[index], recordOf(table, index, streamrec::kSize));
}

void writeTableCheckWord(std::span<std::uint8_t> image, const Area& checkWord, const Area& table)
{
    writeBE16(image, checkWord.offset, kTableCheckTag);
    writeBE16(image, checkWord.offset + 2, tableCheckCrc(image, table));
}

} // namespace

ChannelDatabase::ChannelDatabase()
{
    for (std::size_t index = 0; index < satellites.size(); ++index)
        satellites[index].number = static_cast<std::uint8_t>(index);
    reset();
}

void ChannelDatabase::reset()
{
    resetTables(true);
}

void ChannelDatabase::resetTables(bool channelSlotsToo)
{
    tvCount = radioCount = channelCount = 0;
    streamCount = 0;
    rebuiltChannelCount = 0;
    deletedTvCount = deletedRadioCount = 0;
    modified = false;
    channelTableChanged = 0;

    for (auto& group : favorites)
        group = FavoriteGroup{};

    for (std::size_t index = 0; index < satellites.size(); ++index) {
        SatelliteRecord& satellite = satellites[index];
        satellite.number = static_cast<std::uint8_t>(index);
        satellite.name.fill(0);
        satellite.transponderCount = 0;
        satellite.transponderIndex.fill(0);
    }
    satelliteChannelCounts.fill(0);

    for (auto& transponder : transponders)
        transponder = TransponderRecord{};
    transponderChannelCounts.fill(0);
    transponderCount = 0;

    // Only the fields a channel walk or the listing look at are emptied; the carried
    // ones stay until a load or an edit writes them.
    if (channelSlotsToo) {
        const ChannelRecord empty = emptySlot();
        for (auto& channel : channels) {
            channel.transponder = empty.transponder;
            channel.satellite = empty.satellite;
            channel.audioPid = empty.audioPid;
            channel.videoPid = empty.videoPid;
            channel.pcrPid = empty.pcrPid;
            channel.word8 = empty.word8;
            channel.serviceId = empty.serviceId;
            channel.kindBits = empty.kindBits;
            channel.infoMark = empty.infoMark;
            channel.byte18 = empty.byte18;
            channel.flag16 = empty.flag16;
            channel.streamWord = empty.streamWord;
            channel.extraPid = empty.extraPid;
        }
    }
    nextFreeServiceId = 0xFFFE;
    channelSlots = -1;

    TransportStreamRecord erased;
    erased.tsWord0 = erased.tsWord1 = erased.tsWord2 = erased.tsWord3 = 0xFFFF;
    erased.tsLong = 0xFFFFFFFF;
    erased.tsFrequency = erased.tsSymbolRate = 0xFFFF;
    erased.tsFlags = erased.tsByte1 = erased.tsByte2 = erased.tsSatellite = 0xFF;
    transportStreams.fill(erased);

    channelOrder.fill(kNoOrderEntry);
    streamRefs.count = 0;
    streamRefs.refs.fill(0);
    streamRefs.streamIndex.fill(0xFFFF);
}

LoadResult ChannelDatabase::load()
{
    // Nothing past the channel block is read; a load never needs it.
    lastLoadReason.clear();
    const auto image = channelfile::readWholeFile(filePath, kImageSize, &lastLoadReason);
    if (!image) {
        reset();
        return LoadResult::CantOpen;
    }
    if (image->size < kImageSize) {
        lastLoadReason = shortImageReason(image->size);
        reset();
        return LoadResult::TooShort;
    }
    return loadFromBytes(image->bytes());
}

LoadResult ChannelDatabase::loadFromBytes(std::span<const std::uint8_t> image)
{
    // The decoding writes every channel slot, so the slots need no emptying first.
    resetTables(false);
    return decode(image);
}

void ChannelDatabase::encodePaddingFor(std::vector<std::uint8_t>& image) const
{
    // A short file's missing fields keep the values they hold now (the reset ones);
    // the missing part of the channel table reads as zero bytes.
    writeFavorites(favorites, image);
    const auto satelliteTable = areaOf(std::span<std::uint8_t>(image), kSatelliteTable);
    for (std::size_t index = 0; index < satellites.size(); ++index)
        encodeSatellite(satellites[index], recordOf(satelliteTable, index, satelliterec::kSize));
    const auto transponderTable = areaOf(std::span<std::uint8_t>(image), kTransponderTable);
    for (std::size_t index = 0; index < transponders.size(); ++index)
        encodeTransponder(transponders[index], transponderMarks[index],
                          recordOf(transponderTable, index, transponderrec::kSize));
    writeStreamTable(transportStreams, image);
}

LoadResult ChannelDatabase::decode(std::span<const std::uint8_t> file)
{
    std::vector<std::uint8_t> padded;
    std::span<const std::uint8_t> image = file;
    if (file.size() < kImageSize) {
        padded.assign(kImageSize, 0);
        encodePaddingFor(padded);
        std::copy(file.begin(), file.end(), padded.begin());
        image = padded;
    }

    const auto favoriteArea = areaOf(image, kFavoriteGroups);
    for (std::size_t group = 0; group < favorites.size(); ++group) {
        favorites[group].count = std::min<std::uint32_t>(
            readBE32(favoriteArea, favoritegroups::kCounts + 4 * group), kFavoriteGroupCapacity);
        const std::size_t list = favoritegroups::kMembers + favoritegroups::kMemberListSize * group;
        for (std::size_t member = 0; member < kFavoriteGroupCapacity; ++member)
            favorites[group].members[member] = readBE16(favoriteArea, list + 2 * member);
    }

    const auto satelliteTable = areaOf(image, kSatelliteTable);
    for (std::size_t index = 0; index < satellites.size(); ++index) {
        decodeSatellite(recordOf(satelliteTable, index, satelliterec::kSize), satellites[index]);
        boundSatelliteIndices(satellites[index], index);
    }
    satelliteCount = kSatelliteCapacity;

    const auto transponderTable = areaOf(image, kTransponderTable);
    for (std::size_t index = 0; index < transponders.size(); ++index)
        decodeTransponder(recordOf(transponderTable, index, transponderrec::kSize), transponders[index],
                          transponderMarks[index]);
    transponderCount = kTransponderCapacity;

    const auto streamTable = areaOf(image, kStreamTable);
    streamCount = 0;
    for (; streamCount < kStreamCapacity; ++streamCount) {
        const auto record = recordOf(streamTable, static_cast<std::size_t>(streamCount), streamrec::kSize);
        const std::uint16_t frequency = readBE16(record, streamrec::kFrequency);
        if (frequency == 0 || frequency == 0xFFFF) {
            decodeStreamHead(record, transportStreams[streamCount]);
            break;
        }
        decodeStream(record, transportStreams[streamCount]);
    }

    decodeChannels(areaOf(image, kChannelTable));
    buildChannelOrderAndStreamRefs();
    nextFreeServiceId = findFreeServiceId();
    channelSlots = kChannelSlots;
    return channelCount > 0 ? LoadResult::Loaded : LoadResult::NoChannel;
}

void ChannelDatabase::decodeChannels(std::span<const std::uint8_t> table)
{
    const TransponderLookup lookup(transponders);
    // Every channel of a stream record finds the same transponder: look it up once.
    constexpr std::uint16_t kNotLookedUp = 0xFFFF;
    std::array<std::uint16_t, kStreamCapacity> transponderOfStream;
    transponderOfStream.fill(kNotLookedUp);

    const auto take = [&](int slot) {
        ChannelRecord& channel = channels[slot];
        decodeChannel(recordOf(table, static_cast<std::size_t>(slot), channelrec::kSize), channel);
        const std::uint32_t streamIndex = streamIndexOf(channel.streamRef);
        if (streamIndexValid(streamIndex)) {
            const TransportStreamRecord& stream = transportStreams[streamIndex];
            channel.streamWord = stream.tsWord0;
            channel.satellite = stream.tsSatellite;
            if (transponderOfStream[streamIndex] == kNotLookedUp)
                transponderOfStream[streamIndex] = lookup.find(
                    stream.tsSatellite, stream.tsFrequency, stream.tsSymbolRate,
                    static_cast<std::uint8_t>(getBits(stream.tsFlags, streamrec::kPolarityBit, 1)));
            channel.transponder = transponderOfStream[streamIndex];
        } else {
            // A reference to no loaded stream record: the channel has no satellite and
            // no transponder rather than values read from outside the table.
            channel.streamWord = 0xFFFF;
            channel.satellite = kNoSatellite;
            channel.transponder = kNoTransponder;
        }
        if (channel.isRadio())
            ++radioCount;
        else
            ++tvCount;
    };
    const auto isEmptyOnFile = [&](int slot) {
        return channelRecordEmpty(recordOf(table, static_cast<std::size_t>(slot), channelrec::kSize));
    };
    const ChannelRecord empty = emptySlot();

    int slot = 0;
    for (; slot < kTvSlots && !isEmptyOnFile(slot); ++slot)
        take(slot);
    std::fill(channels.begin() + slot, channels.begin() + kTvSlots, empty);
    slot = kFirstRadioSlot;
    for (; slot < kChannelSlots && !isEmptyOnFile(slot); ++slot)
        take(slot);
    std::fill(channels.begin() + slot, channels.end(), empty);
    channelCount = tvCount + radioCount;
}

void ChannelDatabase::buildChannelOrderAndStreamRefs()
{
    // The order holds the counted TV slots from 0 and the counted radio slots from
    // 7000. A file whose radio bits disagree with the runs could ask for more; the
    // order never names a slot outside the table.
    channelOrder.fill(kNoOrderEntry);
    int positions = 0;
    for (int slot = 0; slot < tvCount && positions < kChannelSlots; ++slot)
        channelOrder[positions++] = static_cast<std::uint16_t>(slot);
    for (int slot = kFirstRadioSlot; slot < kFirstRadioSlot + radioCount && slot < kChannelSlots
                                     && positions < kChannelSlots; ++slot)
        channelOrder[positions++] = static_cast<std::uint16_t>(slot);

    // References that name a record exactly are deduplicated through a table; any other
    // non-zero value by a search of the (short) list.
    std::array<bool, kStreamCapacity> listed{};
    for (int position = 0; position < positions && streamRefs.count < kStreamCapacity; ++position) {
        const std::uint32_t ref = channels[channelOrder[position]].streamRef;
        const std::uint32_t streamIndex = streamIndexOf(ref);
        if (ref != 0) {
            if (streamIndex < kStreamCapacity && streamRefOf(streamIndex) == ref) {
                if (listed[streamIndex])
                    continue;
                listed[streamIndex] = true;
            } else if (std::find(streamRefs.refs.begin(), streamRefs.refs.begin() + streamRefs.count, ref)
                       != streamRefs.refs.begin() + streamRefs.count) {
                continue;
            }
        }
        streamRefs.refs[streamRefs.count] = ref;
        streamRefs.streamIndex[streamRefs.count] = static_cast<std::uint16_t>(streamIndex);
        ++streamRefs.count;
    }
}

bool ChannelDatabase::save(const std::string& backupPath)
{
    lastSaveError = SaveError::None;
    lastSaveReason.clear();
    // One byte past the limit tells a file that is too large from one that just fits.
    auto image = channelfile::readFileForUpdate(filePath, kLargestChannelFile + 1, &lastSaveReason);
    if (!image) {
        lastSaveError = SaveError::CantOpen;
        return false;
    }
    if (image->size > kLargestChannelFile) {
        lastSaveError = SaveError::TooLarge;
        return false;
    }
    if (!backupPath.empty()) {
        // A file too short to save is left alone, and so is its older copy.
        if (image->size < kImageSize) {
            lastSaveError = SaveError::TooShort;
            return false;
        }
        if (!channelfile::writeCopyOf(filePath, backupPath, image->bytes(), saveOptions, &lastSaveReason)) {
            lastSaveError = SaveError::BackupFailed;
            return false;
        }
    }
    if (!saveInto(image->bytes())) {
        lastSaveError = SaveError::TooShort;
        return false;
    }
    if (!channelfile::replaceFile(filePath, image->bytes(), saveOptions, &lastSaveReason)) {
        lastSaveError = SaveError::WriteFailed;
        return false;
    }
    return true;
}

bool ChannelDatabase::saveInto(std::span<std::uint8_t> image) const
{
    // Writing into a shorter file would have to invent the rest of the block.
    if (image.size() < kImageSize)
        return false;

    writeFavorites(favorites, image);

    // Deleted transponders take no file record, so the later ones move up; the
    // satellites' transponder lists must follow them or they would name the wrong ones.
    constexpr std::uint16_t kDropped = 0xFFFF;
    std::array<std::uint16_t, kTransponderCapacity> fileIndexOf{};
    int transpondersWritten = 0;
    int transpondersPassed = 0;
    for (; transpondersPassed < kTransponderCapacity; ++transpondersPassed) {
        const TransponderRecord& transponder = transponders[transpondersPassed];
        if (transponder.frequency == kEndOfTransponders)
            break;
        fileIndexOf[transpondersPassed] = transponderDeleted(transponder)
            ? kDropped : static_cast<std::uint16_t>(transpondersWritten++);
    }
    for (int index = transpondersPassed; index < kTransponderCapacity; ++index)
        fileIndexOf[index] = static_cast<std::uint16_t>(index);
    const bool transpondersMoved = transpondersWritten != transpondersPassed;

    // All 128 satellite records are written: an edited satellite is never left out.
    const auto satelliteTable = areaOf(image, kSatelliteTable);
    for (std::size_t index = 0; index < satellites.size(); ++index) {
        const auto record = recordOf(satelliteTable, index, satelliterec::kSize);
        if (!transpondersMoved) {
            encodeSatellite(satellites[index], record);
            continue;
        }
        SatelliteRecord renumbered = satellites[index];
        int kept = 0;
        for (int entry = 0; entry < renumbered.transponderCount; ++entry) {
            const std::uint16_t transponder = satellites[index].transponderIndex[entry];
            const std::uint16_t moved = transponder < kTransponderCapacity ? fileIndexOf[transponder] : transponder;
            if (moved != kDropped)
                renumbered.transponderIndex[kept++] = moved;
        }
        for (int entry = kept; entry < renumbered.transponderCount; ++entry)
            renumbered.transponderIndex[entry] = 0;
        renumbered.transponderCount = static_cast<std::uint16_t>(kept);
        encodeSatellite(renumbered, record);
    }
    writeTableCheckWord(image, kSatelliteCheckWord, kSatelliteTable);

    const auto transponderTable = areaOf(image, kTransponderTable);
    for (int index = 0; index < transpondersPassed; ++index) {
        if (fileIndexOf[index] != kDropped)
            encodeTransponder(transponders[index], transponderMarks[index],
                              recordOf(transponderTable, fileIndexOf[index], transponderrec::kSize));
    }
    // The records the moved ones left behind would otherwise hold second copies of them.
    for (int index = transpondersWritten; index < transpondersPassed; ++index) {
        const auto record = recordOf(transponderTable, static_cast<std::size_t>(index), transponderrec::kSize);
        std::fill(record.begin(), record.end(), 0xFF);
    }
    writeTableCheckWord(image, kTransponderCheckWord, kTransponderTable);
    writeBE16(image, kAreaCheckWord.offset, pieceCheckWord(image, kAreaCheckRange));

    // Deleted channels take no file slot, so each run closes its gaps.
    const auto channelTable = areaOf(image, kChannelTable);
    std::fill(channelTable.begin(), channelTable.end(), 0xFF);
    int fileSlot = 0;
    bool inRadioRun = false;
    forEachChannelInRuns(channels, kChannelSlots, [&](int slot) {
        if (!inRadioRun && slot >= kFirstRadioSlot) {
            inRadioRun = true;
            fileSlot = kFirstRadioSlot;
        }
        if (channels[slot].isDeleted())
            return;
        encodeChannel(channels[slot], recordOf(channelTable, static_cast<std::size_t>(fileSlot++), channelrec::kSize));
    });

    writeStreamTable(transportStreams, image);

    const auto refList = areaOf(image, kStreamRefList);
    const int refCount = std::clamp(streamRefs.count, 0, kStreamCapacity);
    writeBE32(refList, streamreflist::kCountWord, static_cast<std::uint32_t>(refCount) << 16);
    for (int index = 0; index < kStreamCapacity; ++index)
        writeBE32(refList, streamreflist::kRefs + 4 * static_cast<std::size_t>(index),
                  index < refCount ? streamRefs.refs[index] : 0);

    const auto checkTable = areaOf(image, kCheckWordTable);
    for (int word = 0; word < kCheckWordCount; ++word)
        writeBE16(checkTable, 2 * static_cast<std::size_t>(word), kUnusedCheckWord);
    for (const CheckWord& checkWord : kCheckWords)
        writeBE16(checkTable, 2 * static_cast<std::size_t>(checkWord.word), pieceCheckWord(image, checkWord.covered));

    std::copy_n(image.begin() + kBackupSource, kBackupArea.length, image.begin() + kBackupArea.offset);
    return true;
}

int ChannelDatabase::rebuildCountersAndFavorites()
{
    satelliteChannelCounts.fill(0);
    transponderChannelCounts.fill(0);
    for (auto& group : favorites)
        group.count = 0;

    std::array<std::int16_t, kChannelSlots> positionOfSlot;
    positionOfSlot.fill(-1);
    for (int position = 0; position < kChannelSlots && channelOrder[position] != kNoOrderEntry; ++position) {
        const std::uint16_t slot = channelOrder[position];
        if (slot < kChannelSlots && positionOfSlot[slot] < 0)
            positionOfSlot[slot] = static_cast<std::int16_t>(position);
    }

    int counted = 0;
    forEachChannelInRuns(channels, channelSlots, [&](int slot) {
        const ChannelRecord& channel = channels[slot];
        if (channel.satellite < kSatelliteCapacity)
            ++satelliteChannelCounts[channel.satellite];
        if (channel.transponder < kTransponderCapacity)
            ++transponderChannelCounts[channel.transponder];
        ++counted;
        const int position = positionOfSlot[slot];
        if (position < 0) // taken out of the order by a deletion
            return;
        std::uint16_t member = static_cast<std::uint16_t>(position);
        if (channel.isRadio())
            member = static_cast<std::uint16_t>((position >= tvCount ? position - tvCount : position) | kRadioMemberBit);
        for (int group = 1; group <= kFavoriteGroupCount; ++group) {
            FavoriteGroup& favorite = favorites[group - 1];
            if ((channel.flags & channelflag::favorite(group)) && favorite.count < kFavoriteGroupCapacity)
                favorite.members[favorite.count++] = member;
        }
    });
    rebuiltChannelCount = counted;
    return counted;
}

int ChannelDatabase::findFreeTransponder() const
{
    for (int index = 0; index < kTransponderCapacity; ++index) {
        if (transponders[index].satellite >= satelliteCount)
            return index;
    }
    return -1;
}

int ChannelDatabase::findDuplicateTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                              std::uint16_t symbolRate, std::uint8_t polarity) const
{
    for (int index = 0; index < kTransponderCapacity; ++index) {
        const TransponderRecord& transponder = transponders[index];
        if (transponder.frequency == kEndOfTransponders)
            break;
        if (transponder.satellite == satellite && transponder.frequency == frequency
            && transponder.symbolRate == symbolRate && transponder.polarity == polarity)
            return index;
    }
    return -1;
}

std::uint16_t ChannelDatabase::findTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                               std::uint16_t symbolRate) const
{
    // A free record is nobody's transponder, as at load, even when it still holds
    // the values looked for.
    const auto matches = [&](int index) {
        const TransponderRecord& transponder = transponders[index];
        return transponder.satellite < satelliteCount && transponder.satellite == satellite
            && transponder.frequency == frequency
            && transponder.symbolRate == symbolRate;
    };
    for (int index = 0; index < kTransponderCapacity; ++index) {
        if (!matches(index))
            continue;
        if (index + 1 < kTransponderCapacity && matches(index + 1))
            return static_cast<std::uint16_t>(index + 1);
        return static_cast<std::uint16_t>(index);
    }
    return kNoTransponder;
}

std::uint16_t ChannelDatabase::findTransponder(std::uint8_t satellite, std::uint16_t frequency,
                                               std::uint16_t symbolRate, std::uint8_t polarity) const
{
    for (int index = 0; index < kTransponderCapacity; ++index) {
        const TransponderRecord& transponder = transponders[index];
        if (transponder.satellite < satelliteCount && transponder.satellite == satellite
            && transponder.frequency == frequency && transponder.symbolRate == symbolRate
            && transponder.polarity == (polarity & 1u))
            return static_cast<std::uint16_t>(index);
    }
    return findTransponder(satellite, frequency, symbolRate);
}

std::uint16_t ChannelDatabase::transponderOfChannel(const ChannelRecord& channel) const
{
    const std::uint32_t stream = streamIndexOf(channel.streamRef);
    if (!streamIndexValid(stream))
        return kNoTransponder;
    return findTransponder(channel.satellite, streamFrequency(stream), streamSymbolRate(stream),
                           streamPolarity(stream));
}

bool ChannelDatabase::streamIndexValid(std::uint32_t streamIndex) const
{
    // The index just past the loaded records reads the record that ended the table,
    // but a full table has no such record.
    return streamIndex < static_cast<std::uint32_t>(kStreamCapacity)
        && streamIndex <= static_cast<std::uint32_t>(std::max(streamCount, 0));
}

std::uint16_t ChannelDatabase::streamFrequency(std::uint32_t streamIndex) const
{
    return streamIndexValid(streamIndex) ? transportStreams[streamIndex].tsFrequency : 0;
}

std::uint16_t ChannelDatabase::streamSymbolRate(std::uint32_t streamIndex) const
{
    return streamIndexValid(streamIndex) ? transportStreams[streamIndex].tsSymbolRate : 0;
}

std::uint8_t ChannelDatabase::streamSatellite(std::uint32_t streamIndex) const
{
    return streamIndexValid(streamIndex) ? transportStreams[streamIndex].tsSatellite : kNoSatellite;
}

std::uint8_t ChannelDatabase::streamPolarity(std::uint32_t streamIndex) const
{
    return streamIndexValid(streamIndex)
        ? static_cast<std::uint8_t>(getBits(transportStreams[streamIndex].tsFlags, streamrec::kPolarityBit, 1)) : 0;
}

std::uint32_t ChannelDatabase::streamIndexOf(std::uint32_t streamRef)
{
    return (streamRef - kStreamRefBase) / kStreamRecordStride;
}

std::uint32_t ChannelDatabase::streamRefOf(std::uint32_t streamIndex)
{
    return kStreamRefBase + kStreamRecordStride * streamIndex;
}

std::uint8_t ChannelDatabase::retuneAfterTransponderEdit(int transponder, std::uint16_t oldFrequency,
                                                         std::uint16_t oldSymbolRate, std::uint8_t oldPolarity,
                                                         std::uint8_t oldSatellite)
{
    if (transponder < 0 || transponder >= kTransponderCapacity)
        return 0xFF;
    const auto first = std::find_if(channels.begin(), channels.end(), [&](const ChannelRecord& channel) {
        return channel.transponder == transponder;
    });
    if (first == channels.end())
        return 0xFF;
    const TransponderRecord& tuned = transponders[transponder];
    first->satellite = tuned.satellite;
    for (TransportStreamRecord& stream : transportStreams) {
        if (stream.tsFrequency == oldFrequency && stream.tsSymbolRate == oldSymbolRate
            && getBits(stream.tsFlags, streamrec::kPolarityBit, 1) == (oldPolarity & 1u)
            && stream.tsSatellite == oldSatellite) {
            stream.tsFrequency = tuned.frequency;
            stream.tsSymbolRate = tuned.symbolRate;
            stream.tsFlags = static_cast<std::uint8_t>(setBits(stream.tsFlags, streamrec::kPolarityBit, 1, tuned.polarity));
            stream.tsSatellite = tuned.satellite;
            // Every record with the old tuning follows, not only the first: a channel
            // on a record left behind would find no transponder on the next load.
        }
    }
    return first->satellite;
}

std::uint16_t ChannelDatabase::findFreeServiceId() const
{
    // Walking the order and restarting at each hit ends on the highest id from 0xFFFE
    // down that no editor-added channel holds; a set of those ids gives it directly.
    std::bitset<65536> taken;
    for (int position = 0; position < kChannelSlots && channelOrder[position] != kNoOrderEntry; ++position) {
        const std::uint16_t slot = channelOrder[position];
        if (slot < kChannelSlots && channels[slot].word28 == kEditorChannelMark)
            taken.set(channels[slot].serviceId);
    }
    std::uint16_t id = 0xFFFE;
    while (id > 0 && taken.test(id))
        --id;
    return id;
}

bool ChannelDatabase::addStreamRef(std::uint32_t streamRef)
{
    const auto listedEnd = streamRefs.refs.begin() + std::clamp(streamRefs.count, 0, kStreamCapacity);
    if (streamRef != 0 && std::find(streamRefs.refs.begin(), listedEnd, streamRef) != listedEnd)
        return true;
    if (streamRefs.count >= kStreamCapacity)
        return false;
    streamRefs.refs[streamRefs.count] = streamRef;
    streamRefs.streamIndex[streamRefs.count] = static_cast<std::uint16_t>(streamIndexOf(streamRef));
    ++streamRefs.count;
    return true;
}

void ChannelDatabase::removeTransponder(int transponder)
{
    if (transponder < 0 || transponder >= kTransponderCapacity)
        return;
    // Freeing the record instead would let the next insert reuse its index while the
    // satellites' lists and channels still named it; the mark keeps every index as it is
    // until the save renumbers them all together.
    transponders[transponder].frequency = kDeletedTransponderMark;
    transponders[transponder].symbolRate = kDeletedTransponderMark;
    transponderChannelCounts[transponder] = 0;
}

int ChannelDatabase::usedTransponderCount() const
{
    return static_cast<int>(std::count_if(transponders.begin(), transponders.end(), [&](const TransponderRecord& t) {
        return t.satellite < satelliteCount && t.satellite != kNoSatellite && t.frequency != 0
            && t.frequency != kEndOfTransponders && !transponderDeleted(t);
    }));
}

} // namespace updatetool
