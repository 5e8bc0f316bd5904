// Writes the fuzz smoke run's full-size seed: the whole-file mode byte, then the
// sample channel image, so the fuzzer starts from a file that reaches the real
// load path rather than only the short-file one.
#include <cstdio>
#include <vector>

#include "SampleImages.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: write_full_image_seed FILE\n", stderr);
        return 64;
    }
    std::vector<std::uint8_t> seed{0x00};
    const std::vector<std::uint8_t> image = updatetool::samples::channelImage();
    seed.insert(seed.end(), image.begin(), image.end());
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr)
        return 1;
    const bool written = std::fwrite(seed.data(), 1, seed.size(), out) == seed.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
