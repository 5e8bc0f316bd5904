// Writes the seeds the fuzz runs start from, one folder per target, so that the
// fuzzers begin at well-formed inputs that reach deep code rather than at the first
// check that refuses: whole channel images of the demo and of the full size (7000 TV
// and 2000 radio channels, 1200 stream records) for the loader, the CSV export of the
// demo image for the CSV reader, and a few step sequences for the edit commands.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "SampleImages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool write(const std::filesystem::path& path, const Bytes& bytes)
{
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    if (out == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

// The loader's whole-file mode: a zero mode byte, then the file.
Bytes wholeFile(const Bytes& image)
{
    Bytes seed{0x00};
    seed.insert(seed.end(), image.begin(), image.end());
    return seed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: write_fuzz_seeds DIR\n", stderr);
        return 64;
    }
    using namespace updatetool;
    const std::filesystem::path root = argv[1];
    std::error_code error;
    for (const char* target : {"load", "csv", "edits"})
        std::filesystem::create_directories(root / target, error);

    auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(samples::channelImage());
    database->rebuildCountersAndFavorites();
    const std::string csv = channelCsvText(*database);

    bool ok = write(root / "load" / "demo-image", wholeFile(samples::channelImage()))
              && write(root / "load" / "full-size-image", wholeFile(samples::fullChannelImage()))
              && write(root / "csv" / "demo-export", Bytes(csv.begin(), csv.end()))
              // Move, sort, Delete One, undo, redo, save: one of each, then undo them all.
              && write(root / "edits" / "one-of-each", Bytes{0, 0, 0, 5, 0, 9, 3, 1, 2, 0, 1, 0, 4, 1, 5, 0, 0, 3,
                                                             6, 0, 7, 0, 2, 0, 1, 3, 0, 7, 0, 0, 0, 8, 0});
    return ok ? 0 : 1;
}
