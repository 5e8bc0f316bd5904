#include "ProgressFigures.h"

#include <algorithm>
#include <climits>

#include "StringTable.h"

namespace updatetool {

namespace {

constexpr unsigned kBarShift(std::uint32_t totalBytes)
{
    return totalBytes > static_cast<std::uint32_t>(INT_MAX) ? 1u : 0u;
}

ProgressFigures figures(std::uint32_t bytesDone, std::uint32_t totalBytes, std::uint32_t elapsedMs,
                        std::uint32_t leftMs)
{
    return {
        formatMessage(loadString(ids::kTransferSize), {bytesDone, totalBytes}),
        formatMessage(loadString(ids::kElapseRemain), {elapsedMs / 1000, leftMs / 1000}),
    };
}

} // namespace

std::uint32_t remainingMs(std::uint32_t elapsedMs, std::uint32_t bytesDone, std::uint32_t totalBytes)
{
    // A count past the total (a padded last block) would wrap the subtraction
    // into a huge figure; nothing remains then.
    if (bytesDone < kRemainingTimeThreshold || bytesDone >= totalBytes)
        return 0;
    const std::uint64_t left = static_cast<std::uint64_t>(elapsedMs) * (totalBytes - bytesDone) / bytesDone;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(left, UINT32_MAX));
}

ProgressFigures liveFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, std::uint32_t elapsedMs)
{
    return figures(bytesDone, totalBytes, elapsedMs, remainingMs(elapsedMs, bytesDone, totalBytes));
}

ProgressFigures finalFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, std::uint32_t transferMs)
{
    return figures(bytesDone, totalBytes, transferMs, 0);
}

int progressBarMaximum(std::uint32_t totalBytes)
{
    return std::max(1, static_cast<int>(totalBytes >> kBarShift(totalBytes)));
}

int progressBarValue(std::uint32_t bytesDone, std::uint32_t totalBytes)
{
    const std::uint32_t value = std::min(bytesDone, totalBytes) >> kBarShift(totalBytes);
    return static_cast<int>(value);
}

} // namespace updatetool
