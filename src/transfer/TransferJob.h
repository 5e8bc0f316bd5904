#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace updatetool {

enum class JobKind : std::uint8_t { SendImage, ReceiveData, EraseApplication };

// Job results; also the worker's exit code.
enum JobResult : int {
    kResultSuccess = 0,
    kResultCancelled = 1,
    kResultImageFileError = 2,
    kResultSerialPortError = 3,
    kResultFileInvalid = 4,
    kResultTransferFail = 6,
    kResultUpdateFail = 7,
    kResultReceiveFinished = 8,
};

// Phases the transfer window shows.
enum JobPhase : int {
    kPhaseNone = 0,
    kPhaseChecking = 1,
    kPhaseCallBox = 2,
    kPhaseTransferring = 3,
    kPhaseReceiving = 4,
    kPhaseMaking = 5,
    kPhaseUpdating = 6,
    kPhaseUpdateEnd = 7,
};

inline constexpr std::uint8_t kFileTypeApplication = 0;
inline constexpr std::uint8_t kFileTypeChannel = 1;
inline constexpr std::uint8_t kFileTypeBoot = 2;
inline constexpr std::uint8_t kFileTypeNone = 255;

// The size of the box's channel area, and the largest size the monitor role accepts.
inline constexpr std::uint32_t kChannelAreaSize = 851968;
inline constexpr std::uint32_t kLargestAcceptedSize = 0x1F0000;
// The receiver may store one packet beyond the announced size, so the buffer
// holds the largest accepted size plus one 1K packet and can never overflow.
inline constexpr std::uint32_t kReceiveBufferSize = kLargestAcceptedSize + 1024;

// One job's parameters, progress and result. The parameters are written only while
// no worker runs; while one runs, the user-interface thread writes only
// cancelRequest and reads the progress fields, so those are atomics.
struct TransferJob {
    TransferJob();
    TransferJob(const TransferJob&) = delete;
    TransferJob& operator=(const TransferJob&) = delete;

    // Parameters.
    JobKind kind = JobKind::SendImage;
    int portIndex = 0;          // 0-3 for COM1-COM4
    std::string portDevice;     // when not empty, opened instead of the COMn of portIndex
    std::uint8_t fileType = kFileTypeNone;
    std::string imagePath;
    std::string outputPath;
    bool autoRestart = true;
    // When not empty, every byte of the job goes to a wire trace in this file.
    std::string tracePath;
    // Judges a channel image's content before the port opens (whole, check words
    // right), which the engine cannot do alone: the front ends set it. Answers why
    // the open file is unfit, or nothing to say; leaves the read position at 0.
    using ContentCheck = std::string (*)(std::FILE* image);
    ContentCheck channelImageCheck = nullptr;
    // Why the image was refused; written by the worker before it ends.
    std::string imageProblem;
    // Why the port could not be opened or was lost, in the system's words;
    // written by the worker before it ends.
    std::string portError;

    // Shared with the worker.
    std::atomic<bool> cancelRequest{false};
    std::atomic<bool> eraseStarted{false};
    std::atomic<int> phase{kPhaseNone};
    std::atomic<std::uint32_t> totalBytes{0};
    std::atomic<std::uint32_t> bytesDone{0};
    std::atomic<std::uint32_t> startTick{0};
    std::atomic<std::uint32_t> endTick{0};
    std::atomic<int> result{kResultSuccess};
    // A receive job ends with kResultReceiveFinished whatever the reception
    // brought; this says what went wrong: kResultTransferFail when fewer bytes
    // arrived than announced (kResultCancelled when the user cut it short),
    // kResultImageFileError when the file could not be made or written,
    // kResultSuccess when the file holds every byte.
    std::atomic<int> receiveFailure{kResultSuccess};
    // Bytes the box sent in packets past the size it announced; they are not in the file.
    std::atomic<std::uint32_t> extraBytes{0};
    // Why the received file could not be made or written, in the system's words.
    // Written by the worker before it ends; read only after it has ended.
    std::string receiveError;
    // The wire trace could not be written; the job ran untraced.
    std::atomic<bool> traceFailed{false};

    // What the line brought while the job calls the box (from the first ESC until
    // the box's answer to the call is complete), so a front end can tell the
    // technician why a box stays silent: nothing at all, bytes that are no
    // prompt, or a prompt and then nothing.
    std::atomic<bool> callingBox{false};
    // When the box last gave a sign: the start of the call, then its prompt.
    std::atomic<std::uint32_t> callSinceTick{0};
    std::atomic<std::uint32_t> callBytesSeen{0};
    std::atomic<bool> callPromptSeen{false};

    // Owned by the receive job: the data the box uploads lands here before the file is written.
    std::unique_ptr<std::uint8_t[]> receiveBuffer;

    // The name of the device this job opens: portDevice when set, else "COM1".."COM4".
    std::string portName() const;
    // What the job's failure concerns and why, for a failed job's result: the
    // file or port (as named to the job) and the system's reason. Nothing when
    // the job kept no reason for that result. Read only after the worker ended.
    struct Problem {
        std::string name;
        std::string reason;
    };
    std::optional<Problem> problemFor(int result) const;
};

// Milliseconds of a monotonic clock, wrapping at 2^32 like the platform tick counter.
std::uint32_t tickCount();

} // namespace updatetool
