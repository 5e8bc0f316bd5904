#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "ProgressFigures.h"
#include "TransferJob.h"

namespace updatetool::cli {

// The transfer window's two figure lines with the share done between them:
// "Transfer Size 102400 / 1024000 Bytes  10%  Elapse 20 sec / Remain 180 sec".
std::string formatFigures(const ProgressFigures& figures, std::uint32_t bytesDone, std::uint32_t totalBytes);

// Shows a running job the way the progress windows do, polled every 100 ms.
// On a terminal each phase has one line that is rewritten in place with live
// figures; otherwise one plain line per phase change, so logs stay readable.
class ProgressLine {
public:
    // prefix starts every line ("/dev/ttyUSB0: " when several ports run at once).
    // On a terminal of `columns` (0: unknown) the live line stays within one
    // line of it: a line that wrapped would leave a trail of copies behind.
    ProgressLine(std::FILE* out, bool terminal, std::string prefix = {}, std::size_t columns = 0);

    void update(const TransferJob& job, std::uint32_t now);
    // Ends a live line, so what follows starts on a line of its own.
    void finish();
    // The last phase whose text was shown (0 before any).
    int lastShownPhase() const { return lastShownPhase_; }

private:
    void showPhase(int phase);
    void showLive(std::string_view text);
    void showLive(std::string_view phaseText, const std::string& figures);

    std::FILE* out_;
    bool terminal_;
    std::string prefix_;
    std::size_t columns_;
    int lastPhase_ = kPhaseNone;
    int lastShownPhase_ = kPhaseNone;
    bool eraseNoticeShown_ = false;
    std::string liveText_;   // what the current terminal line shows
    bool lineOpen_ = false;
};

} // namespace updatetool::cli
