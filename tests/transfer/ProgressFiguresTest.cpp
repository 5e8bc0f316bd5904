#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

#include "ProgressFigures.h"

namespace updatetool {
namespace {

struct FiguresCase {
    std::uint32_t elapsedMs;
    std::uint32_t bytesDone;
    std::uint32_t totalBytes;
    const char* sizeLine;
    const char* timeLine;
};

TEST(ProgressFigures, LiveLines)
{
    const FiguresCase cases[] = {
        {0, 0, 0, "Transfer Size 0 / 0 Bytes", "Elapse  0 sec / Remain  0 sec"},
        {20000, 102400, 1024000, "Transfer Size 102400 / 1024000 Bytes", "Elapse 20 sec / Remain 180 sec"},
        {5000, 4096, 1024000, "Transfer Size 4096 / 1024000 Bytes", "Elapse  5 sec / Remain  0 sec"},
        // One byte short of the threshold still promises nothing; at it the estimate starts.
        {1000, 10239, 20478, "Transfer Size 10239 / 20478 Bytes", "Elapse  1 sec / Remain  0 sec"},
        {1000, 10240, 20480, "Transfer Size 10240 / 20480 Bytes", "Elapse  1 sec / Remain  1 sec"},
        {9999, 1024000, 1024000, "Transfer Size 1024000 / 1024000 Bytes", "Elapse  9 sec / Remain  0 sec"},
        // A padded last block counts past the total: nothing remains rather than a wrapped figure.
        {9000, 1025024, 1024000, "Transfer Size 1025024 / 1024000 Bytes", "Elapse  9 sec / Remain  0 sec"},
        // The 64-bit product does not overflow, and a quotient past 32 bits is capped.
        {4000000000u, 10240, 4294967295u, "Transfer Size 10240 / 4294967295 Bytes",
         "Elapse 4000000 sec / Remain 4294967 sec"},
        {123456, 600000, 851968, "Transfer Size 600000 / 851968 Bytes", "Elapse 123 sec / Remain 51 sec"},
    };
    for (const FiguresCase& c : cases) {
        const ProgressFigures figures = liveFigures(c.bytesDone, c.totalBytes, c.elapsedMs);
        EXPECT_EQ(figures.sizeLine, c.sizeLine) << c.elapsedMs << " ms, " << c.bytesDone;
        EXPECT_EQ(figures.timeLine, c.timeLine) << c.elapsedMs << " ms, " << c.bytesDone;
    }
}

TEST(ProgressFigures, RemainingTimeIsTruncatedNotRounded)
{
    EXPECT_EQ(remainingMs(7, 30000, 70000), 9u);
    EXPECT_EQ(remainingMs(1000000, 1000000, 4000000000u), 3999000000u); // the product needs 64 bits
}

TEST(ProgressFigures, FinalLineShowsTransferTimeAndNothingRemaining)
{
    const ProgressFigures figures = finalFigures(1048576, 1048576, 91234);
    EXPECT_EQ(figures.sizeLine, "Transfer Size 1048576 / 1048576 Bytes");
    EXPECT_EQ(figures.timeLine, "Elapse 91 sec / Remain  0 sec");
}

struct BarCase {
    std::uint32_t bytesDone;
    std::uint32_t totalBytes;
    int maximum;
    int value;
};

TEST(ProgressFigures, BarFitsThirtyTwoBitTotalsIntoInt)
{
    const BarCase cases[] = {
        {0, 0, 1, 0}, // never an empty range: that would be a busy indicator
        {512, 1024, 1024, 512},
        {2048, 1024, 1024, 1024},
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFF, 0x40000000},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0x7FFFFFFF, 0x7FFFFFFF},
    };
    for (const BarCase& c : cases) {
        EXPECT_EQ(progressBarMaximum(c.totalBytes), c.maximum) << c.totalBytes;
        EXPECT_EQ(progressBarValue(c.bytesDone, c.totalBytes), c.value) << c.bytesDone << " of " << c.totalBytes;
    }
}

} // namespace
} // namespace updatetool
