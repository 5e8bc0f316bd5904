#pragma once

#include <string>
#include <string_view>

namespace updatetool {

class ChannelDatabase;

// The "Out Text" listing: two heading lines, then one line per channel record slot up
// to the database's slot bound, fixed-width cells joined by " | ", every line ended by
// "\r\n". Values that would come from outside the satellite or transponder tables (a
// slot without a channel, a channel without a transponder) are written as blank cells.
std::string channelListingText(const ChannelDatabase& database);

// Creates (or truncates) `path` and writes the listing byte for byte; false when the
// file cannot be created or written.
bool writeChannelListing(const ChannelDatabase& database, const std::string& path);

// The path the listing goes to for the name chosen in the file dialog: ".TXT" is
// appended unless the name's extension is already txt in any case.
std::string listingPathFor(std::string_view chosenPath);

} // namespace updatetool
