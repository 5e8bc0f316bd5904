#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Deterministic demo images, the same bytes on every run: for the README, the demo,
// and the tests.
namespace updatetool::samples {

// A channel image as the box would write it ("QVCH" header, 851,984 bytes): five
// satellites and a terrestrial one (index 127), their transponders, 240 TV and 60
// radio channels, some scrambled, locked, in favourite groups; one name starts with
// the byte 0x05.
std::vector<std::uint8_t> channelImage();
// The same channels behind the company signature, as the receive job writes them.
std::vector<std::uint8_t> receivedChannelImage();
// Every channel slot used: 7000 TV and 2000 radio channels on 1200 transponders.
std::vector<std::uint8_t> fullChannelImage();
// A firmware image ("VORN") whose header check holds.
std::vector<std::uint8_t> applicationImage();
// A boot image ("QVBT").
std::vector<std::uint8_t> bootImage();

struct SampleFile {
    std::string_view name;
    std::vector<std::uint8_t> (*make)();
};
// The files writeSampleImages writes, by name.
const std::vector<SampleFile>& sampleFiles();

// Writes every sample file into `folder` (created when missing). A file of one of
// their names already there is replaced only when `replace` is set: otherwise
// nothing is written. The paths written, or nothing with the reason in `error`.
std::optional<std::vector<std::string>> writeSampleImages(const std::string& folder, bool replace,
                                                          std::string& error);

} // namespace updatetool::samples
