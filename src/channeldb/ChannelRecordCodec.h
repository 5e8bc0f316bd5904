#pragma once

#include <cstdint>
#include <span>

#include "ChannelRecords.h"

// Record-by-record conversion between the file form of the channel block and the
// database's records. Spans are exactly one record long.
namespace updatetool::channelblock {

// Channel flag word: file form <-> memory bits (a permutation, see ChannelBlockLayout.h).
std::uint16_t flagsFromFileWord(std::uint16_t fileWord);
std::uint16_t fileWordFromFlags(std::uint16_t flags);

// The fields the file holds; `transponder`, `satellite` and `streamWord` are derived
// by the load and left alone here.
void decodeChannel(std::span<const std::uint8_t> record, ChannelRecord& channel);
void encodeChannel(const ChannelRecord& channel, std::span<std::uint8_t> record);
bool channelRecordEmpty(std::span<const std::uint8_t> record);

void decodeStream(std::span<const std::uint8_t> record, TransportStreamRecord& stream);
// The record that ends the stream table: only its first 14 bytes are taken.
void decodeStreamHead(std::span<const std::uint8_t> record, TransportStreamRecord& stream);
void encodeStream(const TransportStreamRecord& stream, std::span<std::uint8_t> record);

// A transponder count above 128 is cut to 128 so that no caller reads past the list.
void decodeSatellite(std::span<const std::uint8_t> record, SatelliteRecord& satellite);
// The satellite number and the transponder numbers serve as table indices: one
// read from a file that lies past its table is mended before anything uses it.
// A number takes the record's own index, as after a reset; a transponder number
// is dropped from the list.
void boundSatelliteIndices(SatelliteRecord& satellite, std::size_t recordIndex);
void encodeSatellite(const SatelliteRecord& satellite, std::span<std::uint8_t> record);

void decodeTransponder(std::span<const std::uint8_t> record, TransponderRecord& transponder,
                       std::uint16_t& mark);
void encodeTransponder(const TransponderRecord& transponder, std::uint16_t mark,
                       std::span<std::uint8_t> record);

} // namespace updatetool::channelblock
