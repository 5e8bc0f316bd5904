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

// The job is still waiting on the box: calling it (send, erase) or waiting for
// its call (receive, before the box announces its upload).
bool waitingForBox(const TransferJob& job);

// Gives up on a job that has waited on its box for limitMs (--give-up-after):
// cancels it. Returns the words for the technician: what the line showed
// (unless the diagnosis was already shown) and that the job stops calling.
std::string giveUp(TransferJob& job, std::uint32_t now, std::uint32_t limitMs, bool diagnosed);
// The reason line's words for a port whose box was given up on.
std::string giveUpReason(std::uint32_t limitMs);

// The result a job that was given up on stands for: a serial port error once it
// has ended as cancelled; any other result stays as the job ended.
int resultAfterGivingUp(int result);

} // namespace updatetool::cli
