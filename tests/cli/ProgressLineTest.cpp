#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "ProgressLine.h"

using namespace updatetool;
using namespace updatetool::cli;

namespace {

TEST(ProgressLine, FiguresUseTheWindowTexts)
{
    struct Case {
        std::uint32_t done, total, elapsedMs;
        const char* text;
    };
    const Case cases[] = {
        {102400, 1024000, 20000, "Transfer Size 102400 / 1024000 Bytes  10%  Elapse 20 sec / Remain 180 sec"},
        {0, 0, 5999, "Transfer Size 0 / 0 Bytes  0%  Elapse  5 sec / Remain  0 sec"},
        {71680, 70000, 1000, "Transfer Size 71680 / 70000 Bytes  100%  Elapse  1 sec / Remain  0 sec"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatFigures(liveFigures(c.done, c.total, c.elapsedMs), c.done, c.total), c.text);
}

std::string capture(bool terminal, const std::function<void(ProgressLine&, TransferJob&)>& script)
{
    std::FILE* out = std::tmpfile();
    TransferJob job;
    {
        ProgressLine progress(out, terminal);
        script(progress, job);
        progress.finish();
    }
    std::string text;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(out);
    return text;
}

void runSend(ProgressLine& progress, TransferJob& job)
{
    job.totalBytes = 70000;
    job.startTick = 1000;
    for (int phase : {1, 2, 3}) {
        job.phase = phase;
        progress.update(job, 1000);
    }
    job.bytesDone = 35000;
    progress.update(job, 11000);
    job.bytesDone = 70000;
    job.endTick = 21000;
    job.phase = kPhaseUpdating;
    progress.update(job, 21500);
    job.phase = kPhaseUpdateEnd;
    progress.update(job, 21600);
    job.phase = kPhaseNone;
    progress.update(job, 21700);
}

TEST(ProgressLine, PlainOutputHasOneLinePerPhase)
{
    EXPECT_EQ(capture(false, runSend),
              "Checking File...\nPlease reboot your STB.\nTransferring Data...\nUpdating File...\nUpdate End\n");
}

TEST(ProgressLine, TerminalRewritesTheTransferLineAndEndsWithFinalFigures)
{
    const std::string text = capture(true, runSend);
    EXPECT_NE(text.find("\rTransferring Data...  Transfer Size 35000 / 70000 Bytes  50%  Elapse 10 sec / Remain 10 sec"),
              std::string::npos)
        << text;
    // Leaving the transfer shows the final figures: end minus start, nothing remaining.
    EXPECT_NE(text.find("\rTransferring Data...  Transfer Size 70000 / 70000 Bytes  100%  Elapse 20 sec / Remain  0 sec"
                        "\n\rUpdating File..."),
              std::string::npos)
        << text;
    EXPECT_TRUE(text.ends_with("\rUpdate End\n")) << text;
}

TEST(ProgressLine, EraseShowsItsNoticeOnce)
{
    const std::string text = capture(false, [](ProgressLine& progress, TransferJob& job) {
        job.kind = JobKind::EraseApplication;
        progress.update(job, 0);
        job.eraseStarted = true;
        progress.update(job, 100);
        progress.update(job, 200);
    });
    EXPECT_EQ(text, "Wait..APP Erase...\n");
}

} // namespace
