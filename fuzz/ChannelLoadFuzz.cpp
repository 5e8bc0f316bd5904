// libFuzzer target: a channel image from arbitrary bytes through load, rebuild, the
// listing and save. The first input byte picks the mode: even, the rest is the whole
// file; odd, the rest patches a valid sample image, so the fuzzer reaches deep into
// well-formed tables instead of stopping at the first unreadable one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ChannelBlockLayout.h"
#include "ChannelDatabase.h"
#include "SampleImages.h"
#include "TextListing.h"

using namespace updatetool;

namespace {

// Patches of the form: 3-byte offset (big-endian, taken modulo the image size),
// 1-byte length, then that many bytes.
void applyPatches(std::vector<std::uint8_t>& image, const std::uint8_t* data, std::size_t size)
{
    std::size_t at = 0;
    while (at + 4 <= size) {
        const std::size_t offset = ((std::size_t{data[at]} << 16) | (std::size_t{data[at + 1]} << 8) | data[at + 2])
                                 % image.size();
        const std::size_t length = data[at + 3];
        at += 4;
        const std::size_t count = std::min({length, size - at, image.size() - offset});
        std::copy_n(data + at, count, image.begin() + static_cast<std::ptrdiff_t>(offset));
        at += count;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const std::vector<std::uint8_t> sample = samples::channelImage();
    std::vector<std::uint8_t> image;
    if (data[0] & 1) {
        image = sample;
        applyPatches(image, data + 1, size - 1);
    } else {
        image.assign(data + 1, data + size);
    }

    const auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(image);
    database->rebuildCountersAndFavorites();
    const std::string listing = channelListingText(*database);
    if (listing.size() < 2)
        std::abort();
    database->findFreeServiceId();
    database->findFreeTransponder();
    database->retuneAfterTransponderEdit(database->channels[0].transponder, 0, 0, 0, 0);

    if (image.size() < channelblock::kImageSize)
        image.resize(channelblock::kImageSize, 0);
    if (!database->saveInto(image))
        std::abort();
    // What was saved must load again within the tables.
    const auto reloaded = std::make_unique<ChannelDatabase>();
    reloaded->loadFromBytes(image);
    if (reloaded->channelCount > kChannelSlots || reloaded->streamRefs.count > kStreamCapacity)
        std::abort();
    return 0;
}
