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

// Writes the listing byte for byte as `path`'s new content, which takes the old
// one's place only when complete (a failure leaves `path` as it was and no partial
// file); false, with the reason in `error` when given, when that fails.
bool writeChannelListing(const ChannelDatabase& database, const std::string& path, std::string* error = nullptr);

// The path the listing goes to for the name chosen in the file dialog: ".TXT" is
// appended unless the name's extension is already txt in any case.
std::string listingPathFor(std::string_view chosenPath);

} // namespace updatetool
