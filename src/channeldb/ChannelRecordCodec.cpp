#include "ChannelRecordCodec.h"

#include <algorithm>
#include <array>

#include "ByteOrder.h"
#include "ChannelBlockLayout.h"

namespace updatetool::channelblock {

namespace {

// The flag-word permutation as two lookup tables per direction (one per byte), so a
// load of 9000 channels does not loop over 16 bits for each.
struct FlagTables {
    std::array<std::uint16_t, 256> low{};
    std::array<std::uint16_t, 256> high{};
};

constexpr FlagTables makeFlagTables(bool fileToMemory)
{
    FlagTables tables;
    for (unsigned value = 0; value < 256; ++value) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (!(value & (1u << bit)))
                continue;
            for (unsigned fileBit = 0; fileBit < 16; ++fileBit) {
                const unsigned memoryBit = channelrec::kFlagBitFromFileBit[fileBit];
                const unsigned from = fileToMemory ? fileBit : memoryBit;
                const unsigned to = fileToMemory ? memoryBit : fileBit;
                if (from == bit)
                    tables.low[value] = static_cast<std::uint16_t>(tables.low[value] | (1u << to));
                if (from == bit + 8)
                    tables.high[value] = static_cast<std::uint16_t>(tables.high[value] | (1u << to));
            }
        }
    }
    return tables;
}

constexpr FlagTables kFileToMemory = makeFlagTables(true);
constexpr FlagTables kMemoryToFile = makeFlagTables(false);

} // namespace

std::uint16_t flagsFromFileWord(std::uint16_t fileWord)
{
    return static_cast<std::uint16_t>(kFileToMemory.low[fileWord & 0xFFu] | kFileToMemory.high[fileWord >> 8]);
}

std::uint16_t fileWordFromFlags(std::uint16_t flags)
{
    return static_cast<std::uint16_t>(kMemoryToFile.low[flags & 0xFFu] | kMemoryToFile.high[flags >> 8]);
}

bool channelRecordEmpty(std::span<const std::uint8_t> record)
{
    return readBE16(record, channelrec::kServiceId) == 0xFFFF
        && readBE16(record, channelrec::kVideoPid) == 0xFFFF;
}

void decodeChannel(std::span<const std::uint8_t> record, ChannelRecord& channel)
{
    using namespace channelrec;
    channel.serviceId = readBE16(record, kServiceId);
    channel.videoPid = readBE16(record, kVideoPid);
    channel.audioPid = readBE16(record, kAudioPid);
    const std::uint16_t kindAndExtra = readBE16(record, kKindAndExtraPid);
    channel.kindBits = static_cast<std::uint8_t>(getBits(kindAndExtra, 14, 2));
    channel.extraPid = static_cast<std::uint16_t>(getBits(kindAndExtra, 0, 14));
    channel.word8 = readBE16(record, kWord8);
    channel.pcrPid = readBE16(record, kPcrPid);
    std::copy_n(record.begin() + kRaw12, channel.raw12.size(), channel.raw12.begin());
    const std::uint16_t marks = readBE16(record, kMarksAndValue14);
    channel.flag16 = getBits(marks, 15, 1) != 0;
    channel.infoMark = getBits(marks, 14, 1) != 0;
    channel.value14 = static_cast<std::uint16_t>(getBits(marks, 0, 14));
    channel.byte18 = record[kByte18];
    channel.byte19 = record[kByte19];
    channel.flags = flagsFromFileWord(readBE16(record, kFlagWord));
    channel.byte22 = record[kByte22];
    channel.byte23 = record[kByte23];
    channel.streamRef = readBE32(record, kStreamRef);
    channel.word28 = readBE32(record, kWord28);
    std::copy_n(record.begin() + kName, kNameLength, reinterpret_cast<std::uint8_t*>(channel.name.data()));
}

void encodeChannel(const ChannelRecord& channel, std::span<std::uint8_t> record)
{
    using namespace channelrec;
    writeBE16(record, kServiceId, channel.serviceId);
    writeBE16(record, kVideoPid, channel.videoPid);
    writeBE16(record, kAudioPid, channel.audioPid);
    writeBE16(record, kKindAndExtraPid,
              static_cast<std::uint16_t>(setBits(setBits(0, 14, 2, channel.kindBits), 0, 14, channel.extraPid)));
    writeBE16(record, kWord8, channel.word8);
    writeBE16(record, kPcrPid, channel.pcrPid);
    std::copy(channel.raw12.begin(), channel.raw12.end(), record.begin() + kRaw12);
    std::uint32_t marks = setBits(0, 15, 1, channel.flag16 ? 1 : 0);
    marks = setBits(marks, 14, 1, channel.infoMark ? 1 : 0);
    marks = setBits(marks, 0, 14, channel.value14);
    writeBE16(record, kMarksAndValue14, static_cast<std::uint16_t>(marks));
    record[kByte18] = channel.byte18;
    record[kByte19] = channel.byte19;
    writeBE16(record, kFlagWord, fileWordFromFlags(channel.flags));
    record[kByte22] = channel.byte22;
    record[kByte23] = channel.byte23;
    writeBE32(record, kStreamRef, channel.streamRef);
    writeBE32(record, kWord28, channel.word28);
    const auto* name = reinterpret_cast<const std::uint8_t*>(channel.name.data());
    std::copy_n(name, kNameLength, record.begin() + kName);
}

void decodeStreamHead(std::span<const std::uint8_t> record, TransportStreamRecord& stream)
{
    using namespace streamrec;
    stream.tsWord0 = readBE16(record, kWord0);
    stream.tsWord1 = readBE16(record, kWord1);
    stream.tsWord2 = readBE16(record, kWord2);
    stream.tsWord3 = readBE16(record, kWord3);
    stream.tsLong = readBE32(record, kLong);
    stream.tsFrequency = readBE16(record, kFrequency);
}

void decodeStream(std::span<const std::uint8_t> record, TransportStreamRecord& stream)
{
    using namespace streamrec;
    decodeStreamHead(record, stream);
    stream.tsSymbolRate = readBE16(record, kSymbolRate);
    stream.tsFlags = record[kFlags];
    stream.tsByte1 = record[kByte1];
    stream.tsByte2 = record[kByte2];
    stream.tsSatellite = record[kSatellite];
}

void encodeStream(const TransportStreamRecord& stream, std::span<std::uint8_t> record)
{
    using namespace streamrec;
    writeBE16(record, kWord0, stream.tsWord0);
    writeBE16(record, kWord1, stream.tsWord1);
    writeBE16(record, kWord2, stream.tsWord2);
    writeBE16(record, kWord3, stream.tsWord3);
    writeBE32(record, kLong, stream.tsLong);
    writeBE16(record, kFrequency, stream.tsFrequency);
    writeBE16(record, kSymbolRate, stream.tsSymbolRate);
    record[kFlags] = stream.tsFlags;
    record[kByte1] = stream.tsByte1;
    record[kByte2] = stream.tsByte2;
    record[kSatellite] = stream.tsSatellite;
}

void decodeSatellite(std::span<const std::uint8_t> record, SatelliteRecord& satellite)
{
    using namespace satelliterec;
    satellite.number = record[kNumber];
    std::copy_n(record.begin() + kName, satellite.name.size(),
                reinterpret_cast<std::uint8_t*>(satellite.name.data()));
    satellite.opaqueA = readBE16(record, kOpaqueA);
    satellite.opaqueB = record[kOpaqueB];
    satellite.opaqueC = record[kOpaqueC];
    satellite.opaqueD = readBE16(record, kOpaqueD);
    satellite.transponderCount = std::min<std::uint16_t>(readBE16(record, kTransponderCount),
                                                         kTranspondersPerSatellite);
    for (std::size_t i = 0; i < satellite.transponderIndex.size(); ++i)
        satellite.transponderIndex[i] = readBE16(record, kTransponderIndex + 2 * i);
}

void boundSatelliteIndices(SatelliteRecord& satellite, std::size_t recordIndex)
{
    if (satellite.number >= kSatelliteCapacity)
        satellite.number = static_cast<std::uint8_t>(recordIndex);
    std::uint16_t kept = 0;
    for (std::uint16_t entry = 0; entry < satellite.transponderCount; ++entry) {
        const std::uint16_t transponder = satellite.transponderIndex[entry];
        if (transponder < kTransponderCapacity)
            satellite.transponderIndex[kept++] = transponder;
    }
    // The list keeps its length in the file: the places freed at its end read 0, as after a reset.
    std::fill(satellite.transponderIndex.begin() + kept, satellite.transponderIndex.begin() + satellite.transponderCount, 0);
    satellite.transponderCount = kept;
}

void encodeSatellite(const SatelliteRecord& satellite, std::span<std::uint8_t> record)
{
    using namespace satelliterec;
    record[kNumber] = satellite.number;
    const auto* name = reinterpret_cast<const std::uint8_t*>(satellite.name.data());
    std::copy_n(name, satellite.name.size(), record.begin() + kName);
    record[kOpaqueAHighCopy] = static_cast<std::uint8_t>(satellite.opaqueA >> 8);
    writeBE16(record, kOpaqueA, satellite.opaqueA);
    record[kOpaqueB] = satellite.opaqueB;
    record[kOpaqueC] = satellite.opaqueC;
    writeBE16(record, kOpaqueD, satellite.opaqueD);
    writeBE16(record, kTransponderCount, satellite.transponderCount);
    for (std::size_t i = 0; i < satellite.transponderIndex.size(); ++i)
        writeBE16(record, kTransponderIndex + 2 * i, satellite.transponderIndex[i]);
}

void decodeTransponder(std::span<const std::uint8_t> record, TransponderRecord& transponder,
                       std::uint16_t& mark)
{
    using namespace transponderrec;
    transponder.satellite = record[kSatellite];
    transponder.frequency = readBE16(record, kFrequency);
    transponder.symbolRate = readBE16(record, kSymbolRate);
    const std::uint8_t flags = record[kFlags];
    transponder.polarity = static_cast<std::uint8_t>(getBits(flags, kPolarityBit, 1));
    transponder.priority = static_cast<std::uint8_t>(getBits(flags, kPriorityLowBit, 1)
                                                     | (getBits(flags, kPriorityHighBit, 1) << 1));
    transponder.modeBits = static_cast<std::uint8_t>(getBits(flags, kModeBitsLow, 3));
    transponder.spareBits = static_cast<std::uint8_t>(getBits(flags, kSpareBitsLow, 2));
    mark = record[kMark] != 0 ? 0x00FF : 0;
}

void encodeTransponder(const TransponderRecord& transponder, std::uint16_t mark,
                       std::span<std::uint8_t> record)
{
    using namespace transponderrec;
    const std::uint8_t markByte = mark != 0 ? 0xFF : 0x00;
    record[kSatellite] = transponder.satellite;
    record[kMarkCopy] = markByte;
    writeBE16(record, kFrequency, transponder.frequency);
    writeBE16(record, kSymbolRate, transponder.symbolRate);
    std::uint32_t flags = setBits(0, kPolarityBit, 1, transponder.polarity);
    flags = setBits(flags, kPriorityLowBit, 1, transponder.priority & 1u);
    flags = setBits(flags, kModeBitsLow, 3, transponder.modeBits);
    flags = setBits(flags, kPriorityHighBit, 1, (transponder.priority >> 1) & 1u);
    flags = setBits(flags, kSpareBitsLow, 2, transponder.spareBits);
    record[kFlags] = static_cast<std::uint8_t>(flags);
    record[kMark] = markByte;
}

} // namespace updatetool::channelblock
