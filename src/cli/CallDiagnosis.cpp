#include "CallDiagnosis.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace updatetool::cli {

namespace {

constexpr std::uint32_t kDiagnosisDelayMs = 10'000;

struct SilenceText {
    CallSilence silence;
    const char* seen;
    const char* check;
};

// %u is the count of bytes that came back.
constexpr SilenceText kSilenceTexts[] = {
    {CallSilence::Nothing, "nothing at all came back",
     "Check that the box has power, that the serial cable sits firmly at both ends, and that this is "
     "the port the cable is plugged into; then reset the box."},
    {CallSilence::NoPrompt, "%u bytes came back, but never the box's prompt '>'",
     "That usually means the box talks at another baud rate than 115200, or the port leads to another "
     "device: check the box's line rate and which port its cable is on."},
    {CallSilence::PromptThenStopped, "the box answered with its prompt, then fell silent",
     "It may have restarted or hung: reset it once more, and check that the cable is not loose and that "
     "no other program uses the port."},
};

} // namespace

CallSilence callSilence(const TransferJob& job)
{
    if (job.callPromptSeen.load())
        return CallSilence::PromptThenStopped;
    return job.callBytesSeen.load() == 0 ? CallSilence::Nothing : CallSilence::NoPrompt;
}

std::uint32_t diagnosisDelayMs()
{
    const char* setting = std::getenv("UPDATETOOL_DIAGNOSIS_MS");
    if (setting == nullptr)
        return kDiagnosisDelayMs;
    const std::string_view text(setting);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : kDiagnosisDelayMs;
}

std::optional<std::string> callDiagnosis(const TransferJob& job, std::uint32_t now, std::uint32_t delayMs)
{
    if (!job.callingBox.load())
        return std::nullopt;
    // Unsigned 32-bit difference, so a wrap of the tick counter does no harm.
    const std::uint32_t silentMs = now - job.callSinceTick.load();
    if (silentMs < delayMs)
        return std::nullopt;
    const CallSilence silence = callSilence(job);
    for (const SilenceText& text : kSilenceTexts) {
        if (text.silence != silence)
            continue;
        char seen[160];
        std::snprintf(seen, sizeof seen, text.seen, static_cast<unsigned>(job.callBytesSeen.load()));
        return "No answer from the box for " + std::to_string(silentMs / 1000) + " s: " + seen + ".\n" +
               text.check + " Still calling.";
    }
    return std::nullopt;
}

} // namespace updatetool::cli
