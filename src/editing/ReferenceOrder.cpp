#include "ReferenceOrder.h"

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <string_view>

#include "ChannelBlockLayout.h"
#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "ChannelImageCheck.h"
#include "EditorLists.h"
#include "EditorTexts.h"
#include "ImageFile.h"

namespace updatetool {

namespace {

constexpr int kNoRow = -1;

} // namespace

ReferenceOrderSummary applyReferenceOrder(ChannelDatabase& database, std::span<const std::uint16_t> rowPositions,
                                          std::span<const ReferenceEntry> reference)
{
    // Rows that stand for a channel, and each one's name and id.
    std::vector<int> channelRows;
    for (std::size_t row = 0; row < rowPositions.size(); ++row) {
        const std::uint16_t position = rowPositions[row];
        if (position < kChannelSlots && database.channelOrder[position] < kChannelSlots)
            channelRows.push_back(static_cast<int>(row));
    }
    const auto channelOf = [&](int row) -> const ChannelRecord& {
        return database.channels[database.channelOrder[rowPositions[static_cast<std::size_t>(row)]]];
    };

    // Candidate rows by name and by name and id, in row order; taken ones are skipped.
    std::map<std::pair<std::string_view, std::uint16_t>, std::vector<int>> byNameAndId;
    std::map<std::string_view, std::vector<int>> byName;
    for (const int row : channelRows) {
        const ChannelRecord& channel = channelOf(row);
        const std::string_view name = shownChannelName(channel.name);
        byNameAndId[{name, channel.serviceId}].push_back(row);
        byName[name].push_back(row);
    }
    std::vector<bool> taken(rowPositions.size(), false);
    const auto takeFirstFree = [&](std::vector<int>& candidates) {
        for (const int row : candidates)
            if (!taken[static_cast<std::size_t>(row)]) {
                taken[static_cast<std::size_t>(row)] = true;
                return row;
            }
        return kNoRow;
    };

    std::vector<int> rowOfEntry(reference.size(), kNoRow);
    for (std::size_t entry = 0; entry < reference.size(); ++entry) {
        const auto found = byNameAndId.find({reference[entry].name, reference[entry].serviceId});
        if (found != byNameAndId.end())
            rowOfEntry[entry] = takeFirstFree(found->second);
    }
    // Only then by name alone, so a channel whose id also matches a later entry is not
    // taken by an earlier entry with another id.
    for (std::size_t entry = 0; entry < reference.size(); ++entry) {
        if (rowOfEntry[entry] != kNoRow)
            continue;
        const auto found = byName.find(reference[entry].name);
        if (found != byName.end())
            rowOfEntry[entry] = takeFirstFree(found->second);
    }

    ReferenceOrderSummary summary;
    std::vector<int> newContents;
    newContents.reserve(channelRows.size());
    for (const int row : rowOfEntry) {
        if (row == kNoRow)
            ++summary.ignored;
        else
            newContents.push_back(row);
    }
    summary.matched = static_cast<int>(newContents.size());
    for (const int row : channelRows)
        if (!taken[static_cast<std::size_t>(row)])
            newContents.push_back(row);
    summary.unmatched = static_cast<int>(channelRows.size()) - summary.matched;

    std::vector<int> contentOfRow(rowPositions.size());
    std::iota(contentOfRow.begin(), contentOfRow.end(), 0);
    for (std::size_t k = 0; k < channelRows.size(); ++k)
        contentOfRow[static_cast<std::size_t>(channelRows[k])] = newContents[k];
    database.reorderRows(rowPositions, contentOfRow);
    return summary;
}

ReferenceLists referenceListsOf(const ChannelDatabase& database)
{
    ReferenceLists lists;
    forEachOrderedChannel(database, [&](int, const ChannelRecord& channel) {
        (channel.isRadio() ? lists.radio : lists.tv).push_back({std::string(shownChannelName(channel.name)), channel.serviceId});
        return true;
    });
    return lists;
}

ReferenceFile readReferenceFile(const std::string& path)
{
    ReferenceFile result;
    std::string reason;
    const auto content = channelfile::readWholeFile(path, kLargestChannelFile + 1, &reason);
    if (!content) {
        result.error = path + ": " + reason;
        result.cantOpen = true;
        return result;
    }
    if (content->size > kLargestChannelFile) {
        result.error = path + " is far larger than a channel image or a channel CSV file";
        return result;
    }
    const auto bytes = content->bytes();
    if (isChannelFileHead(bytes.first(std::min<std::size_t>(bytes.size(), kHeaderSize)))) {
        // A cut-off image would lend its missing channels the order of nothing.
        if (bytes.size() < channelblock::kImageSize) {
            result.error = path + " is not a whole channel image: " + shortImageReason(bytes.size());
            return result;
        }
        auto database = std::make_unique<ChannelDatabase>();
        database->loadFromBytes(bytes);
        result.lists = referenceListsOf(*database);
        return result;
    }
    // Text has no NUL bytes; a firmware image or any other binary file is neither kind.
    if (std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) {
        result.error = path + " is neither a channel image nor a channel CSV file";
        return result;
    }
    ReferenceLists lists;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!readChannelCsv(text, lists, result.error)) {
        result.error = path + ": " + result.error;
        return result;
    }
    result.lists = std::move(lists);
    return result;
}

} // namespace updatetool
