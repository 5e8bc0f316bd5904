#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace updatetool {

class ChannelDatabase;

// One channel of a reference list: its name as the lists show it (single-byte text,
// without a leading 0x05 byte) and its Ch. ID.
struct ReferenceEntry {
    std::string name;
    std::uint16_t serviceId = 0;

    bool operator==(const ReferenceEntry&) const = default;
};
// A reference's TV and radio lists, each in channel order.
struct ReferenceLists {
    std::vector<ReferenceEntry> tv;
    std::vector<ReferenceEntry> radio;
};

struct ReferenceOrderSummary {
    int matched = 0;   // channels that found a reference entry
    int unmatched = 0; // channels that found none; they follow the matched ones
    int ignored = 0;   // reference entries that found no channel
};

// Reorders the contents behind the rows (channel-order positions, as a list shows them)
// to follow the reference: a channel matches the first free entry with its name and
// Ch. ID, failing that the first free entry with its name alone; every entry matches at
// most one channel. Matched channels come first in the reference's order, the others
// keep their relative order after them. Record contents move between the slots behind
// the rows, as a drag moves them.
ReferenceOrderSummary applyReferenceOrder(ChannelDatabase& database, std::span<const std::uint16_t> rowPositions,
                                          std::span<const ReferenceEntry> reference);

// The TV and radio lists of a loaded database, in channel order.
ReferenceLists referenceListsOf(const ChannelDatabase& database);

// Reads a reference from a file: a channel image, or a CSV file written by the CSV
// export. `error` says what is wrong when there is nothing.
struct ReferenceFile {
    std::optional<ReferenceLists> lists;
    std::string error;
    bool cantOpen = false; // the file could not be read at all
};
ReferenceFile readReferenceFile(const std::string& path);

} // namespace updatetool
