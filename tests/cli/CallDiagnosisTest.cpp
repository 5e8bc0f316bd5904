// When the words for a silent box are due, and which words. The command-line
// tests show a silent box and one at the wrong rate end to end.
#include <gtest/gtest.h>

#include "CallDiagnosis.h"

using namespace updatetool;
using namespace updatetool::cli;

namespace {

TEST(CallDiagnosis, ComesAfterTheDelayAndSaysWhatTheLineShowed)
{
    constexpr std::uint32_t kDelay = 10'000;
    constexpr std::uint32_t kSince = 0xFFFF'F000;   // the tick counter wraps during the wait
    struct Case {
        bool calling;
        std::uint32_t bytesSeen;
        bool promptSeen;
        std::uint32_t silentMs;
        const char* words;   // nullptr: nothing due
    };
    const Case cases[] = {
        {true, 0, false, kDelay - 1, nullptr},
        {false, 0, false, kDelay, nullptr},
        {true, 0, false, kDelay, "No answer from the box for 10 s: nothing at all came back.\nCheck that the box"},
        {true, 7, false, 12'500, "No answer from the box for 12 s: 7 bytes came back, but never the box's prompt"},
        {true, 7, true, kDelay, "No answer from the box for 10 s: the box answered with its prompt, then fell silent"},
    };
    for (const Case& c : cases) {
        TransferJob job;
        job.callingBox.store(c.calling);
        job.callBytesSeen.store(c.bytesSeen);
        job.callPromptSeen.store(c.promptSeen);
        job.callSinceTick.store(kSince);
        const auto words = callDiagnosis(job, kSince + c.silentMs, kDelay);
        if (c.words == nullptr) {
            EXPECT_FALSE(words) << *words;
            continue;
        }
        ASSERT_TRUE(words) << c.words;
        EXPECT_TRUE(words->starts_with(c.words)) << *words;
        EXPECT_TRUE(words->ends_with(" Still calling.")) << *words;
    }
}

} // namespace
