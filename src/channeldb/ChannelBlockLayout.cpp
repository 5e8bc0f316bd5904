#include "ChannelBlockLayout.h"

#include <algorithm>

namespace updatetool::channelblock {

bool isChannelImageHead(std::span<const std::uint8_t> head)
{
    constexpr std::string_view kSignature = "VORN LUMEN CORP ";
    constexpr std::string_view kChannelMagic = "QVCH";
    const auto startsWith = [&](std::string_view text) {
        return head.size() >= text.size()
            && std::equal(text.begin(), text.end(), head.begin(),
                          [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
    };
    return startsWith(kSignature) || startsWith(kChannelMagic);
}

} // namespace updatetool::channelblock
