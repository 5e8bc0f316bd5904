#include "ProgressLine.h"

#include "StringTable.h"

namespace updatetool::cli {

namespace {

bool showsLiveFigures(int phase)
{
    return phase == kPhaseTransferring || phase == kPhaseReceiving;
}

} // namespace

std::string formatFigures(const ProgressFigures& figures, std::uint32_t bytesDone, std::uint32_t totalBytes)
{
    const std::uint64_t percent = totalBytes == 0 ? 0 : std::uint64_t{bytesDone} * 100 / totalBytes;
    return figures.sizeLine + "  " + std::to_string(percent > 100 ? 100 : percent) + "%  " + figures.timeLine;
}

ProgressLine::ProgressLine(std::FILE* out, bool terminal, std::string prefix, std::size_t columns)
    : out_(out), terminal_(terminal), prefix_(std::move(prefix)), columns_(columns)
{
}

void ProgressLine::update(const TransferJob& job, std::uint32_t now)
{
    const int phase = job.phase.load();
    const std::uint32_t total = job.totalBytes.load();
    if (phase != lastPhase_) {
        // The send transfer has just ended: its final figures, as the window shows them.
        if (lastPhase_ == kPhaseTransferring && terminal_) {
            const std::uint32_t elapsed = job.endTick.load() - job.startTick.load();
            showLive(loadString(phaseStringId(lastPhase_)),
                     formatFigures(finalFigures(job.bytesDone.load(), total, elapsed), job.bytesDone.load(), total));
        }
        lastPhase_ = phase;
        if (phase != kPhaseNone)
            showPhase(phase);
    }
    if (job.kind == JobKind::EraseApplication && job.eraseStarted.load() && !eraseNoticeShown_) {
        eraseNoticeShown_ = true;
        showPhase(-1);
    }
    if (terminal_ && showsLiveFigures(lastPhase_)) {
        const std::uint32_t done = job.bytesDone.load();
        // Unsigned 32-bit difference, like the window's tick arithmetic, so a wrap does no harm.
        const std::uint32_t elapsed = now - job.startTick.load();
        showLive(loadString(phaseStringId(lastPhase_)), formatFigures(liveFigures(done, total, elapsed), done, total));
    }
}

void ProgressLine::showPhase(int phase)
{
    const std::string_view text = phase < 0 ? loadString(ids::kWaitAppErase) : loadString(phaseStringId(phase));
    if (phase > 0)
        lastShownPhase_ = phase;
    if (!terminal_) {
        std::fprintf(out_, "%s%.*s\n", prefix_.c_str(), static_cast<int>(text.size()), text.data());
        std::fflush(out_);
        return;
    }
    finish();
    showLive(text);
}

void ProgressLine::showLive(std::string_view phaseText, const std::string& figures)
{
    // The figures matter more than the phase's name, which the line before the
    // transfer already showed: on a narrow terminal they come alone.
    const std::string full = std::string(phaseText) + "  " + figures;
    if (columns_ == 0 || prefix_.size() + full.size() < columns_)
        showLive(full);
    else
        showLive(figures);
}

void ProgressLine::showLive(std::string_view text)
{
    // The last column stays free: writing into it wraps some terminals at once.
    if (columns_ > prefix_.size() + 1 && prefix_.size() + text.size() >= columns_)
        text = text.substr(0, columns_ - 1 - prefix_.size());
    // Blank out whatever a longer previous text left at the end of the line.
    std::string line = prefix_ + std::string(text);
    if (line.size() < prefix_.size() + liveText_.size())
        line.append(prefix_.size() + liveText_.size() - line.size(), ' ');
    std::fprintf(out_, "\r%s", line.c_str());
    std::fflush(out_);
    liveText_ = text;
    lineOpen_ = true;
}

void ProgressLine::finish()
{
    if (lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    lineOpen_ = false;
    liveText_.clear();
}

} // namespace updatetool::cli
