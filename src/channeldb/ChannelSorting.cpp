// Reordering a channel list as a whole: sorting, keyboard moves and any given order.
// Like a drag, these move record contents between the slots behind the rows; the rows,
// their numbers and the channel order stay.
#include "ChannelDatabase.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace updatetool {

namespace {

constexpr char kCharacterTableByte = 0x05;

// Rows that stand for a channel: a position past the order names no record.
bool rowHasRecord(const ChannelDatabase& database, std::uint16_t position)
{
    return position < kChannelSlots && database.channelOrder[position] < kChannelSlots;
}

// Names are single-byte Latin-1 text: fold A-Z and the accented capitals, but not the
// multiplication sign between them.
unsigned char foldedLatin1(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 0x20);
    return c;
}

std::string sortName(const RecordName& name)
{
    auto first = name.begin();
    const auto end = std::find(name.begin(), name.end(), '\0');
    // The byte that selects the box's character table is not part of the name shown.
    if (first != end && *first == kCharacterTableByte)
        ++first;
    std::string folded;
    for (auto c = first; c != end; ++c)
        folded += static_cast<char>(foldedLatin1(static_cast<unsigned char>(*c)));
    return folded;
}

// The rows now holding the contents that were behind `selected`.
std::vector<int> rowsHolding(std::span<const int> contentOfRow, std::span<const int> selected)
{
    std::vector<bool> wasSelected(contentOfRow.size(), false);
    for (const int row : selected)
        wasSelected[static_cast<std::size_t>(row)] = true;
    std::vector<int> after;
    for (std::size_t row = 0; row < contentOfRow.size(); ++row)
        if (wasSelected[static_cast<std::size_t>(contentOfRow[row])])
            after.push_back(static_cast<int>(row));
    return after;
}

} // namespace

bool ChannelDatabase::reorderRows(std::span<const std::uint16_t> rowPositions, std::span<const int> contentOfRow)
{
    const std::size_t rows = rowPositions.size();
    if (contentOfRow.size() != rows)
        return false;
    std::vector<bool> used(rows, false);
    bool identity = true;
    for (std::size_t row = 0; row < rows; ++row) {
        const int from = contentOfRow[row];
        if (from < 0 || static_cast<std::size_t>(from) >= rows || used[static_cast<std::size_t>(from)])
            return false;
        used[static_cast<std::size_t>(from)] = true;
        identity = identity && static_cast<std::size_t>(from) == row;
    }
    if (identity)
        return false;
    moveRowContents(rowPositions, contentOfRow);
    return true;
}

std::vector<int> ChannelDatabase::sortRows(std::span<const std::uint16_t> rowPositions,
                                           std::span<const int> selectedRows, SortKey key)
{
    const int rows = static_cast<int>(rowPositions.size());
    const std::vector<int> selected = selectionWithin(selectedRows, rows);
    std::vector<int> sorted;
    if (selected.size() > 1) {
        sorted = selected;
    } else {
        sorted.resize(static_cast<std::size_t>(rows));
        std::iota(sorted.begin(), sorted.end(), 0);
    }
    std::erase_if(sorted, [&](int row) { return !rowHasRecord(*this, rowPositions[static_cast<std::size_t>(row)]); });

    const auto recordOf = [&](int row) -> const ChannelRecord& {
        return channels[channelOrder[rowPositions[static_cast<std::size_t>(row)]]];
    };
    std::vector<int> contents = sorted;
    if (key == SortKey::ServiceId) {
        std::stable_sort(contents.begin(), contents.end(),
                         [&](int a, int b) { return recordOf(a).serviceId < recordOf(b).serviceId; });
    } else {
        // Fold each name once, not once per comparison.
        std::vector<std::string> names(static_cast<std::size_t>(rows));
        for (const int row : sorted)
            names[static_cast<std::size_t>(row)] = sortName(recordOf(row).name);
        std::stable_sort(contents.begin(), contents.end(), [&](int a, int b) {
            return names[static_cast<std::size_t>(a)] < names[static_cast<std::size_t>(b)];
        });
    }

    std::vector<int> contentOfRow(static_cast<std::size_t>(rows));
    std::iota(contentOfRow.begin(), contentOfRow.end(), 0);
    for (std::size_t k = 0; k < sorted.size(); ++k)
        contentOfRow[static_cast<std::size_t>(sorted[k])] = contents[k];
    reorderRows(rowPositions, contentOfRow);
    return rowsHolding(contentOfRow, selected);
}

std::vector<int> ChannelDatabase::moveSelectedBy(std::span<const std::uint16_t> rowPositions,
                                                 std::span<const int> selectedRows, Shift shift)
{
    const int rows = static_cast<int>(rowPositions.size());
    const std::vector<int> selected = selectionWithin(selectedRows, rows);
    std::vector<int> contentOfRow(static_cast<std::size_t>(rows));
    std::iota(contentOfRow.begin(), contentOfRow.end(), 0);
    std::vector<bool> isSelected(static_cast<std::size_t>(rows), false);
    for (const int row : selected)
        isSelected[static_cast<std::size_t>(row)] = true;

    if (shift == Shift::Top || shift == Shift::Bottom) {
        // The selected contents as one block at that end, both groups in their old order.
        std::stable_partition(contentOfRow.begin(), contentOfRow.end(), [&](int row) {
            return isSelected[static_cast<std::size_t>(row)] == (shift == Shift::Top);
        });
    } else {
        // Each selected row trades places with the unselected neighbour on that side; a
        // block that reaches the edge has no such neighbour and stays, and so do the
        // rows pushed against it.
        const bool up = shift == Shift::Up;
        const int step = up ? -1 : 1;
        std::vector<int> order = selected;
        if (!up)
            std::reverse(order.begin(), order.end());
        for (const int row : order) {
            const int next = row + step;
            if (next < 0 || next >= rows || isSelected[static_cast<std::size_t>(next)])
                continue;
            std::swap(contentOfRow[static_cast<std::size_t>(row)], contentOfRow[static_cast<std::size_t>(next)]);
            isSelected[static_cast<std::size_t>(row)] = false;
            isSelected[static_cast<std::size_t>(next)] = true;
        }
    }
    reorderRows(rowPositions, contentOfRow);
    return rowsHolding(contentOfRow, selected);
}

} // namespace updatetool
