// libFuzzer target: the editor's steps over a loaded sample image, read from the input
// as a sequence of commands (moves, deletes, Delete One, sorts, undo, redo, save and
// reload). After every step it checks what a user relies on: a move or a sort keeps
// the list's channels, only in another order; undoing every step gives back the bytes
// the session started from; a save loads again to the same lists.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChannelDatabase.h"
#include "ChannelEditCommands.h"
#include "EditorLists.h"
#include "SampleImages.h"

using namespace updatetool;

namespace {

using Image = std::vector<std::uint8_t>;
using Channel = std::pair<std::string, std::uint16_t>;

const Image& sample()
{
    static const Image image = samples::channelImage();
    return image;
}

// The bytes a save would write now.
Image imageOf(const ChannelDatabase& database)
{
    Image image = sample();
    if (!database.saveInto(image))
        std::abort();
    return image;
}

std::vector<Channel> channelsOf(const ChannelDatabase& database, const std::vector<std::uint16_t>& rows)
{
    std::vector<Channel> channels;
    for (const std::uint16_t position : rows) {
        const ChannelRecord& channel = database.channels[database.channelOrder[position]];
        channels.emplace_back(std::string(channel.name.begin(), channel.name.end()), channel.serviceId);
    }
    return channels;
}

std::vector<Channel> sorted(std::vector<Channel> channels)
{
    std::sort(channels.begin(), channels.end());
    return channels;
}

// Reads the input a byte at a time; past its end every byte reads as 0.
class Steps {
public:
    Steps(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
    int below(std::size_t bound) { return bound == 0 ? 0 : static_cast<int>(((byte() << 8) | byte()) % bound); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::vector<int> someRows(Steps& steps, std::size_t rowCount)
{
    std::vector<int> rows;
    const unsigned count = steps.byte() % 5;
    for (unsigned i = 0; i < count && rowCount > 0; ++i)
        rows.push_back(steps.below(rowCount));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(sample());
    database->rebuildCountersAndFavorites();
    ChannelEditCommands commands(*database);
    Image start = imageOf(*database);
    int stepsTaken = 0;

    Steps steps(data, size);
    while (steps.more()) {
        const unsigned command = steps.byte() % 9;
        const ListedChannels listed = listedChannels(*database, kFilterAll, 0);
        const bool radio = steps.byte() & 1;
        const std::vector<std::uint16_t>& rows = radio ? listed.radio : listed.tv;
        const std::vector<Channel> before = channelsOf(*database, rows);
        bool keepsChannels = false;
        switch (command) {
        case 0:
            if (!rows.empty())
                commands.moveRow(rows, steps.below(rows.size()), steps.below(rows.size() + 1));
            keepsChannels = true;
            break;
        case 1: {
            const std::vector<int> selected = someRows(steps, rows.size());
            if (!rows.empty())
                commands.moveSelectedRows(rows, selected, steps.below(rows.size()));
            keepsChannels = true;
            break;
        }
        case 2: {
            const std::vector<int> selected = someRows(steps, rows.size());
            commands.moveSelectedBy(rows, selected, static_cast<ChannelDatabase::Shift>(steps.byte() % 4));
            keepsChannels = true;
            break;
        }
        case 3: {
            const std::vector<int> selected = someRows(steps, rows.size());
            commands.sortRows(rows, selected,
                              steps.byte() & 1 ? ChannelDatabase::SortKey::Name : ChannelDatabase::SortKey::ServiceId);
            keepsChannels = true;
            break;
        }
        case 4: {
            std::vector<int> positions;
            for (const int row : someRows(steps, rows.size()))
                positions.push_back(rows[static_cast<std::size_t>(row)]);
            commands.deleteChannels(positions);
            break;
        }
        case 5: {
            const std::vector<std::uint16_t> transponders = listedTransponders(*database, kFilterAll, 0);
            if (!transponders.empty())
                commands.deleteTransponder(transponders[static_cast<std::size_t>(steps.below(transponders.size()))]);
            break;
        }
        case 6:
            commands.undo();
            break;
        case 7:
            commands.redo();
            break;
        default: {
            // Save and load again: the lists come back as they were.
            const Image saved = imageOf(*database);
            const ListedChannels shown = listedChannels(*database, kFilterAll, 0);
            const std::vector<Channel> tv = channelsOf(*database, shown.tv);
            const std::vector<Channel> radioShown = channelsOf(*database, shown.radio);
            database->loadFromBytes(saved);
            database->rebuildCountersAndFavorites();
            commands.startSession();
            const ListedChannels reloaded = listedChannels(*database, kFilterAll, 0);
            if (channelsOf(*database, reloaded.tv) != tv || channelsOf(*database, reloaded.radio) != radioShown)
                std::abort();
            start = imageOf(*database);
            stepsTaken = 0;
            continue;
        }
        }
        ++stepsTaken;
        if (keepsChannels) {
            const ListedChannels after = listedChannels(*database, kFilterAll, 0);
            if (sorted(channelsOf(*database, radio ? after.radio : after.tv)) != sorted(before))
                std::abort();
        }
    }
    // Back to where the session started, one step at a time.
    while (commands.undo()) {
    }
    if (imageOf(*database) != start)
        std::abort();
    return 0;
}
