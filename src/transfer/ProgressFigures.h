#pragma once

#include <cstdint>
#include <string>

namespace updatetool {

// Below this many bytes the rate is too uncertain to promise a finishing time.
inline constexpr std::uint32_t kRemainingTimeThreshold = 10240;

// Milliseconds still to go at the average rate so far; 0 until the threshold
// is reached and once everything is done.
std::uint32_t remainingMs(std::uint32_t elapsedMs, std::uint32_t bytesDone, std::uint32_t totalBytes);

// The two text lines of the transfer window.
struct ProgressFigures {
    std::string sizeLine;   // "Transfer Size 102400 / 1024000 Bytes"
    std::string timeLine;   // "Elapse 20 sec / Remain 180 sec"
};

// The live figures while data moves; times are whole seconds, truncated.
ProgressFigures liveFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, std::uint32_t elapsedMs);
// The figures frozen when the transfer ends: the measured time and nothing remaining.
ProgressFigures finalFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, std::uint32_t transferMs);

// The progress bar counts in int, the job in 32-bit unsigned: halve both when
// the total would not fit. A total of 0 still gives a range of 1, because an
// empty range turns the bar into a busy indicator.
int progressBarMaximum(std::uint32_t totalBytes);
int progressBarValue(std::uint32_t bytesDone, std::uint32_t totalBytes);

} // namespace updatetool
