// libFuzzer target: arbitrary text through the channel CSV reader and, when it is
// taken, through "Apply Order From..." on the sample image. A reorder must keep every
// channel of the list, only in another order, and the counts must add up.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "EditorLists.h"
#include "ReferenceOrder.h"
#include "SampleImages.h"

using namespace updatetool;

namespace {

std::vector<std::string> namesOf(const ChannelDatabase& database, const std::vector<std::uint16_t>& rows)
{
    std::vector<std::string> names;
    for (const std::uint16_t position : rows) {
        const ChannelRecord& channel = database.channels[database.channelOrder[position]];
        names.emplace_back(channel.name.begin(), channel.name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ReferenceLists reference;
    std::string error;
    if (!readChannelCsv(text, reference, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (reference.tv.size() > kTvSlots || reference.radio.size() > static_cast<std::size_t>(kChannelSlots - kTvSlots))
        std::abort();

    static const std::vector<std::uint8_t> sample = samples::channelImage();
    const auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(sample);
    database->rebuildCountersAndFavorites();
    const ListedChannels rows = listedChannels(*database, kFilterAll, 0);
    for (const bool radio : {false, true}) {
        const std::vector<std::uint16_t>& list = radio ? rows.radio : rows.tv;
        const std::vector<ReferenceEntry>& entries = radio ? reference.radio : reference.tv;
        const std::vector<std::string> before = namesOf(*database, list);
        const ReferenceOrderSummary summary = applyReferenceOrder(*database, list, entries);
        if (namesOf(*database, list) != before)
            std::abort();
        if (summary.matched + summary.unmatched != static_cast<int>(list.size())
            || summary.matched + summary.ignored != static_cast<int>(entries.size()))
            std::abort();
    }
    return 0;
}
