#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "TransferJob.h"

namespace updatetool::cli {

// What the transfer window shows in its byte and time lines.
struct ProgressFigures {
    std::uint32_t bytesDone = 0;
    std::uint32_t totalBytes = 0;
    std::uint32_t elapsedMs = 0;
    std::uint32_t remainingMs = 0;
};

// Remaining time exactly as the transfer window estimates it: nothing until
// 10,240 bytes are done (too little to judge the speed by), then the time so far
// scaled by what is left, with the product in 64 bits and the quotient truncated.
std::uint32_t estimateRemainingMs(std::uint32_t elapsedMs, std::uint32_t bytesDone, std::uint32_t totalBytes);

// "Transfer Size 102400 / 1024000 Bytes  10%  Elapse 20 sec / Remain 180 sec".
std::string formatFigures(const ProgressFigures& figures);

// Shows a running job the way the progress windows do, polled every 100 ms.
// On a terminal each phase has one line that is rewritten in place with live
// figures; otherwise one plain line per phase change, so logs stay readable.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool terminal);

    void update(const TransferJob& job, std::uint32_t now);
    // Ends a live line, so what follows starts on a line of its own.
    void finish();
    // The last phase whose text was shown (0 before any).
    int lastShownPhase() const { return lastShownPhase_; }

private:
    void showPhase(int phase);
    void showLive(std::string_view text);

    std::FILE* out_;
    bool terminal_;
    int lastPhase_ = kPhaseNone;
    int lastShownPhase_ = kPhaseNone;
    bool eraseNoticeShown_ = false;
    std::string liveText_;   // what the current terminal line shows
    bool lineOpen_ = false;
};

} // namespace updatetool::cli
