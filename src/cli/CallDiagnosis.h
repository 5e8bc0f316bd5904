#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "TransferJob.h"

namespace updatetool::cli {

// What the line brought while a box did not answer the call.
enum class CallSilence { Nothing, NoPrompt, PromptThenStopped };

CallSilence callSilence(const TransferJob& job);

// How long a box may keep silent before the technician is told what the line
// showed: 10 s. UPDATETOOL_DIAGNOSIS_MS (milliseconds) shortens it, so the
// tests need not wait that long.
std::uint32_t diagnosisDelayMs();

// The plain words for a box that has not answered the call for delayMs, or
// nothing while it is not due. Two lines: what was seen, what to check. The
// job keeps calling; the caller shows the text once.
std::optional<std::string> callDiagnosis(const TransferJob& job, std::uint32_t now, std::uint32_t delayMs);

} // namespace updatetool::cli
