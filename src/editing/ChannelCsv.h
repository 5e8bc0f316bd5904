#pragma once

#include <string>
#include <string_view>

#include "ReferenceOrder.h"

namespace updatetool {

class ChannelDatabase;

// The channel lists as RFC 4180 CSV: a header row, then one row per TV channel and one
// per radio channel in channel order, every line ended by CR LF. Names are UTF-8 text
// made from their single-byte (Latin-1) form, without a leading 0x05 byte. The
// frequency, polarity and symbol rate cells are those of the channel's transponder, empty
// when it has none; for a terrestrial transponder they hold the frequency in MHz with one
// decimal, the priority word (HP, LP, Auto) and the channel number, as the lists show it.
std::string channelCsvText(const ChannelDatabase& database);

// Writes the CSV as `path`'s new content the way writeChannelListing does.
bool writeChannelCsv(const ChannelDatabase& database, const std::string& path, std::string* error = nullptr);

// Reads the list, name and Ch. ID columns of such a file (found by their header cells,
// so other columns may be missing or moved) into reference lists, names back in their
// single-byte form. False, with `error` naming the line, on a malformed file.
bool readChannelCsv(std::string_view text, ReferenceLists& lists, std::string& error);

} // namespace updatetool
