// The edit dialogs' steps on the database: transponders, channels and satellites.
#include "ChannelDatabase.h"

#include <algorithm>

#include "ByteOrder.h"
#include "ChannelBlockLayout.h"

namespace updatetool {

namespace {

constexpr std::uint16_t kNoOrderEntry = 0xFFFF;
// The transponder dialog marks the records it makes with this mode value.
constexpr std::uint8_t kInsertedModeBits = 6;
// Low four bits of a new stream record's flags.
constexpr std::uint8_t kNewStreamValue = 6;

// A terrestrial transponder has no polarity: its candidate record holds 0 there.
std::uint8_t candidatePolarity(const ChannelDatabase::TransponderValues& values)
{
    return values.satellite == kTerrestrialSatellite ? 0 : static_cast<std::uint8_t>(values.polarity & 1u);
}

// A slot holding these two would end its run on the next load, losing every later channel.
bool readsAsEmpty(const ChannelDatabase::ChannelValues& values)
{
    return values.serviceId == 0xFFFF && values.videoPid == 0xFFFF;
}

} // namespace

ChannelDatabase::EditResult ChannelDatabase::insertTransponder(const TransponderValues& values, int& index)
{
    index = -1;
    if (findDuplicateTransponder(values.satellite, values.frequency, values.symbolRate, candidatePolarity(values)) >= 0)
        return EditResult::Duplicate;
    const int free = findFreeTransponder();
    if (free < 0 || currentSatellite < 0 || currentSatellite >= kSatelliteCapacity)
        return EditResult::NoFreeRecord;
    SatelliteRecord& owner = satellites[static_cast<std::size_t>(currentSatellite)];
    if (owner.transponderCount >= kTranspondersPerSatellite)
        return EditResult::NoFreeRecord;

    TransponderRecord& record = transponders[static_cast<std::size_t>(free)];
    record = TransponderRecord{};
    record.satellite = values.satellite;
    record.frequency = values.frequency;
    record.symbolRate = values.symbolRate;
    record.polarity = candidatePolarity(values);
    if (values.satellite == kTerrestrialSatellite)
        record.priority = values.priority & 3u;
    // The mark of a record the editor made; the priority the user chose stays.
    record.modeBits = kInsertedModeBits;
    // The mark stays the free record's: the marks are a table of their own that only a
    // load sets, and the box may look for it.
    owner.transponderIndex[owner.transponderCount++] = static_cast<std::uint16_t>(free);
    modified = true;
    index = free;
    return EditResult::Stored;
}

ChannelDatabase::EditResult ChannelDatabase::editTransponder(int index, const TransponderValues& values)
{
    if (index < 0 || index >= kTransponderCapacity)
        return EditResult::NoSuchRecord;
    TransponderRecord& record = transponders[static_cast<std::size_t>(index)];
    const bool terrestrial = values.satellite == kTerrestrialSatellite;
    const int duplicate =
        findDuplicateTransponder(values.satellite, values.frequency, values.symbolRate, candidatePolarity(values));
    if (duplicate == index) {
        // The same tuning: only a terrestrial priority can have changed, and it is kept.
        if (!terrestrial || record.priority == (values.priority & 3u))
            return EditResult::Unchanged;
        record.priority = values.priority & 3u;
        modified = true;
        return EditResult::Stored;
    }
    if (duplicate >= 0)
        return EditResult::Duplicate;

    const TransponderRecord old = record;
    record.satellite = values.satellite;
    record.frequency = values.frequency;
    record.symbolRate = values.symbolRate;
    if (terrestrial)
        record.priority = values.priority & 3u;
    else
        record.polarity = candidatePolarity(values);
    modified = true;
    retuneAfterTransponderEdit(index, old.frequency, old.symbolRate, old.polarity, old.satellite);
    return EditResult::Stored;
}

bool ChannelDatabase::streamRoomForOneMore() const
{
    return streamCount >= 0 && streamCount < kStreamCapacity && streamRefs.count < kStreamCapacity;
}

std::uint32_t ChannelDatabase::addStreamRecordFor(const TransponderRecord& transponder, bool setModeValue)
{
    const int index = streamCount++;
    TransportStreamRecord& stream = transportStreams[static_cast<std::size_t>(index)];
    stream.tsWord2 = transponder.satellite;
    stream.tsSatellite = transponder.satellite;
    stream.tsFrequency = transponder.frequency;
    stream.tsSymbolRate = transponder.symbolRate;
    std::uint32_t flags = setBits(stream.tsFlags, channelblock::streamrec::kPolarityBit, 1, transponder.polarity);
    if (setModeValue)
        flags = setBits(flags, 0, 4, kNewStreamValue);
    stream.tsFlags = static_cast<std::uint8_t>(flags);
    const std::uint32_t ref = streamRefOf(static_cast<std::uint32_t>(index));
    addStreamRef(ref); // room was checked before anything was written
    return ref;
}

void ChannelDatabase::writeChannelValues(ChannelRecord& channel, bool radio, const ChannelValues& values) const
{
    channel.satellite = values.satellite;
    channel.name = values.name;
    channel.name.back() = '\0';
    channel.transponder = values.transponder;
    channel.audioPid = values.audioPid;
    channel.videoPid = values.videoPid;
    channel.pcrPid = values.pcrPid;
    channel.serviceId = values.serviceId;
    channel.infoMark = values.infoMark;
    std::uint16_t flags = channel.flags;
    flags = static_cast<std::uint16_t>(radio ? flags | channelflag::kRadio : flags & ~channelflag::kRadio);
    flags = static_cast<std::uint16_t>(values.scrambled ? flags | channelflag::kScrambled : flags & ~channelflag::kScrambled);
    flags = static_cast<std::uint16_t>(values.locked ? flags | channelflag::kLocked : flags & ~channelflag::kLocked);
    for (int group = 1; group <= kFavoriteGroupCount; ++group) {
        const bool member = values.favorites & (1u << (group - 1));
        flags = static_cast<std::uint16_t>(member ? flags | channelflag::favorite(group) : flags & ~channelflag::favorite(group));
    }
    channel.flags = flags;
}

ChannelDatabase::EditResult ChannelDatabase::insertChannel(bool radio, const ChannelValues& values, int& position)
{
    position = -1;
    if (values.transponder >= kTransponderCapacity)
        return EditResult::NoSuchRecord;
    if (readsAsEmpty(values))
        return EditResult::ReadsAsEmpty;
    if (channelCount >= kChannelSlots)
        return EditResult::ChannelsFull;
    // The first empty slot of the kind's run; deleted channels keep theirs until a save.
    const int first = radio ? kFirstRadioSlot : 0;
    const int end = radio ? kChannelSlots : kTvSlots;
    int slot = first;
    while (slot < end && !channels[static_cast<std::size_t>(slot)].isEmpty())
        ++slot;
    if (slot >= end)
        return EditResult::ChannelsFull;

    // A channel on the same transponder lends its stream reference; otherwise a new
    // stream record is needed, and it must fit. The lender's stream record must lead to
    // that transponder too, so a same-frequency twin never lends its own.
    std::uint32_t streamRef = 0;
    bool found = false;
    for (int p = 0; p < kChannelSlots && channelOrder[p] != kNoOrderEntry; ++p) {
        const std::uint16_t other = channelOrder[p];
        if (other < kChannelSlots && channels[other].transponder == values.transponder
            && transponderOfChannel(channels[other]) == values.transponder) {
            streamRef = channels[other].streamRef;
            found = true;
            break;
        }
    }
    if (!found && !streamRoomForOneMore())
        return EditResult::StreamTableFull;
    if (!found)
        streamRef = addStreamRecordFor(transponders[values.transponder], true);

    ChannelRecord& channel = channels[static_cast<std::size_t>(slot)];
    channel = ChannelRecord{};
    channel.word28 = kEditorChannelMark;
    writeChannelValues(channel, radio, values);
    channel.streamRef = streamRef;

    // TV positions come before the radio ones: a new TV channel goes at the end of the
    // TV part and every radio position moves up by one.
    position = radio ? tvCount + radioCount : tvCount;
    std::copy_backward(channelOrder.begin() + position, channelOrder.end() - 1, channelOrder.end());
    channelOrder[static_cast<std::size_t>(position)] = static_cast<std::uint16_t>(slot);
    ++(radio ? radioCount : tvCount);
    ++channelCount;
    channelTableChanged = 1;
    modified = true;
    nextFreeServiceId = findFreeServiceId();
    rebuildCountersAndFavorites();
    return EditResult::Stored;
}

int ChannelDatabase::streamRecordTunedTo(const TransponderRecord& transponder) const
{
    // Every loaded record, not only the listed ones: a record whose last channel moved
    // away is no longer listed, but it is still in the table and would be saved twice.
    for (int index = 0; index < std::clamp(streamCount, 0, kStreamCapacity); ++index) {
        const TransportStreamRecord& stream = transportStreams[static_cast<std::size_t>(index)];
        if (stream.tsFrequency == transponder.frequency && stream.tsSymbolRate == transponder.symbolRate
            && getBits(stream.tsFlags, channelblock::streamrec::kPolarityBit, 1) == (transponder.polarity & 1u)
            && stream.tsSatellite == transponder.satellite)
            return index;
    }
    return -1;
}

ChannelDatabase::EditResult ChannelDatabase::editChannel(int position, const ChannelValues& values)
{
    if (position < 0 || position >= kChannelSlots || channelOrder[position] >= kChannelSlots
        || (!values.keepTuning && values.transponder >= kTransponderCapacity))
        return EditResult::NoSuchRecord;
    if (readsAsEmpty(values))
        return EditResult::ReadsAsEmpty;
    ChannelRecord& channel = channels[channelOrder[position]];

    if (values.keepTuning || values.transponder == channel.transponder) {
        // The transponder the channel is on: nothing to derive again, its reference stays.
        ChannelValues kept = values;
        if (values.keepTuning) {
            kept.satellite = channel.satellite;
            kept.transponder = channel.transponder;
        }
        writeChannelValues(channel, channel.isRadio(), kept);
    } else {
        const TransponderRecord& tuned = transponders[values.transponder];
        const int match = streamRecordTunedTo(tuned);
        std::uint32_t streamRef = 0;
        if (match >= 0) {
            // The list holds every reference a channel uses; the matched record's may
            // have left it with its last channel.
            streamRef = streamRefOf(static_cast<std::uint32_t>(match));
            const auto listedEnd = streamRefs.refs.begin() + std::clamp(streamRefs.count, 0, kStreamCapacity);
            if (std::find(streamRefs.refs.begin(), listedEnd, streamRef) == listedEnd
                && streamRefs.count >= kStreamCapacity)
                return EditResult::StreamTableFull;
            addStreamRef(streamRef);
        } else if (!streamRoomForOneMore()) {
            return EditResult::StreamTableFull;
        }
        writeChannelValues(channel, channel.isRadio(), values);
        channel.streamRef = match >= 0 ? streamRef : addStreamRecordFor(tuned, false);
    }
    modified = true;
    rebuildCountersAndFavorites();
    return EditResult::Stored;
}

ChannelDatabase::EditResult ChannelDatabase::editSatellite(int satellite, const SatelliteSettings& settings)
{
    if (satellite < 0 || satellite >= kSatelliteCapacity)
        return EditResult::NoSuchRecord;
    SatelliteRecord& record = satellites[static_cast<std::size_t>(satellite)];
    record.name = settings.name;
    record.name.back() = '\0';
    record.lnbType = settings.lnbType;
    record.loHigh = settings.loHigh;
    record.loLow = settings.loLow;
    record.lnbPower = settings.lnbPower;
    record.tone22k = settings.tone22k;
    record.lnb12V = settings.lnb12V;
    record.diseqc = settings.diseqc;
    record.diseqcRepeat = settings.diseqcRepeat;
    modified = true;
    return EditResult::Stored;
}

} // namespace updatetool
