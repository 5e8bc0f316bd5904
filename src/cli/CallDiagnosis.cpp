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

bool waitingForBox(const TransferJob& job)
{
    if (job.kind == JobKind::ReceiveData)
        return job.phase.load() == kPhaseNone;
    return job.callingBox.load();
}

namespace {

// "20" for 20 s, "1.5" for 1500 ms, as the user wrote it.
std::string secondsText(std::uint32_t ms)
{
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms / 1000.0);
    return text;
}

} // namespace

std::string giveUp(TransferJob& job, std::uint32_t now, std::uint32_t limitMs, bool diagnosed)
{
    const std::string seconds = secondsText(limitMs);
    std::string words;
    if (diagnosed) {
        // What the line showed was said already.
    } else if (job.kind == JobKind::ReceiveData) {
        words = "The box has not called for " + seconds +
                " s: check that it is reset to start its upload, its cable and the port.";
    } else if (const auto diagnosis = callDiagnosis(job, now, 0)) {
        words = *diagnosis;
        // The call does not go on after all.
        if (const auto still = words.rfind(" Still calling."); still != std::string::npos)
            words.erase(still);
    }
    job.cancelRequest.store(true);
    return words + (words.empty() ? "" : "\n") + "Gave up after " + seconds + " s.";
}

std::string giveUpReason(std::uint32_t limitMs)
{
    return "no answer from the box within " + secondsText(limitMs) + " s (--give-up-after)";
}

int resultAfterGivingUp(int result)
{
    return result == kResultCancelled ? kResultSerialPortError : result;
}

} // namespace updatetool::cli
