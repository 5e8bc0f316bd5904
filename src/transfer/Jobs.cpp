#include "Jobs.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <span>

#include "ImageFile.h"
#include "ReceivedFile.h"
#include "SerialPort.h"
#include "TargetProtocol.h"
#include "WireTrace.h"
#include "XmodemReceiver.h"
#include "XmodemSender.h"

namespace updatetool {

namespace {

// Every job starts with a clean progress display, whatever the last one left.
void resetProgress(TransferJob& job)
{
    job.bytesDone.store(0);
    job.phase.store(kPhaseNone);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageHandle = std::unique_ptr<std::FILE, FileCloser>;

// The file's size, or nothing when it cannot be told or does not fit the
// 32-bit count the box is told.
std::optional<std::uint32_t> fileSize(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return std::nullopt;
    const long size = std::ftell(file);
    if (size < 0 || static_cast<unsigned long>(size) > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(size);
}

// A port that vanished under the job counts as a port failure; the job keeps
// the system's reason for the front ends.
int closePort(TransferJob& job, SerialPort& port, int result)
{
    const bool wasLost = port.lost();
    const std::string lostReason = port.lastError();
    if (!port.close()) {
        job.portError = "the port could not be closed";
        return kResultSerialPortError;
    }
    if (wasLost) {
        job.portError = lostReason.empty() ? "the line was lost" : lostReason;
        return kResultSerialPortError;
    }
    return result;
}

// Starts the job's wire trace when one is asked for. A trace that cannot be
// written does not stop the job; the front end hears of it.
void startTrace(TransferJob& job, WireTrace& trace)
{
    job.traceFailed.store(false);
    job.portError.clear();
    if (!job.tracePath.empty() && !trace.open(job.tracePath, job.portName()))
        job.traceFailed.store(true);
}

// Opens the job's port, reporting to the trace when there is one.
bool openPort(TransferJob& job, SerialPort& port, WireTrace& trace)
{
    if (trace.isOpen())
        port.setTrace(&trace);
    if (port.open(job.portName()))
        return true;
    job.portError = port.lastError();
    trace.note("the port could not be opened: " + job.portError);
    return false;
}

// An image the job will not send: the reason goes to the trace as well.
int refuseImage(TransferJob& job, WireTrace& trace, std::string reason)
{
    if (!reason.empty())
        job.imageProblem = std::move(reason);
    trace.note("the image " + job.imagePath + " is not sent: " + job.imageProblem);
    return kResultFileInvalid;
}

} // namespace

int runSendImage(TransferJob& job)
{
    resetProgress(job);
    job.result.store(kResultSuccess);
    job.phase.store(kPhaseChecking);

    // The trace outlives the port, which reports to it until it closes.
    WireTrace trace;
    startTrace(job, trace);
    job.imageProblem.clear();
    ImageHandle image(openImageFile(job.imagePath, &job.imageProblem));
    if (!image)
        return refuseImage(job, trace, {});
    const std::optional<std::uint32_t> size = fileSize(image.get());
    if (!size)
        return refuseImage(job, trace, "its size cannot be read or is beyond 4 GiB");
    job.totalBytes.store(*size);
    // A bad application header never reaches the box: the port stays closed.
    if (!checkImageHeader(image.get(), job.fileType))
        return refuseImage(job, trace, "the application header's check word does not match");
    // A short or damaged channel list would replace the box's own.
    if (job.fileType == kFileTypeChannel && job.channelImageCheck != nullptr) {
        job.imageProblem = job.channelImageCheck(image.get());
        if (!job.imageProblem.empty())
            return refuseImage(job, trace, {});
    }

    job.phase.store(kPhaseCallBox);
    SerialPort port(&job.cancelRequest);
    if (!openPort(job, port, trace))
        return kResultSerialPortError;

    TargetProtocol protocol(port, job);
    if (!protocol.attention() || !protocol.identify())
        return closePort(job, port, job.result.load());

    job.startTick.store(tickCount());
    job.phase.store(kPhaseTransferring);
    XmodemSender sender(port, job);
    if (!protocol.announceUpdate(*size) || !sender.send(image.get(), *size))
        return closePort(job, port, job.result.load());

    job.endTick.store(tickCount());
    job.phase.store(kPhaseUpdating);
    if (!protocol.awaitCompletion())
        return closePort(job, port, job.result.load());

    job.phase.store(kPhaseUpdateEnd);
    if (job.autoRestart)
        protocol.restart();

    if (closePort(job, port, kResultSuccess) != kResultSuccess)
        return kResultSerialPortError;
    if (std::fclose(image.release()) != 0)
        return kResultImageFileError;
    job.phase.store(kPhaseNone);
    return kResultSuccess;
}

int runEraseApplication(TransferJob& job)
{
    resetProgress(job);
    // The trace outlives the port, which reports to it until it closes.
    WireTrace trace;
    startTrace(job, trace);
    SerialPort port(&job.cancelRequest);
    if (!openPort(job, port, trace))
        return kResultSerialPortError;
    TargetProtocol protocol(port, job);
    if (!protocol.attention() || !protocol.eraseAll())
        return closePort(job, port, job.result.load());
    if (closePort(job, port, kResultSuccess) != kResultSuccess)
        return kResultSerialPortError;
    job.phase.store(kPhaseNone);
    return kResultSuccess;
}

namespace {

// The receive job finishes with 8 whatever the reception brought, so the box's
// session ends the same way; what went wrong is left for the window to show.
int endReception(TransferJob& job, SerialPort& port, int failure)
{
    job.receiveFailure.store(failure);
    if (closePort(job, port, kResultReceiveFinished) != kResultReceiveFinished)
        return kResultSerialPortError;
    job.phase.store(kPhaseNone);
    return kResultReceiveFinished;
}

} // namespace

int runReceiveData(TransferJob& job)
{
    resetProgress(job);
    job.receiveFailure.store(kResultSuccess);
    job.extraBytes.store(0);
    job.receiveError.clear();
    // The trace outlives the port, which reports to it until it closes.
    WireTrace trace;
    startTrace(job, trace);
    SerialPort port(&job.cancelRequest);
    if (!openPort(job, port, trace))
        return kResultSerialPortError;
    TargetProtocol protocol(port, job);
    if (!protocol.awaitAttention() || !protocol.commandLoop())
        return closePort(job, port, job.result.load());
    const std::uint32_t announced = job.totalBytes.load();

    // The file is made before the box starts to upload: one that cannot be made
    // is answered "Abort" at once instead of after an upload into nothing. It is
    // a temporary file beside OUTPUT until the data is complete on the disk.
    ReceivedFile output;
    if (!output.create(job.outputPath)) {
        job.receiveError = output.error();
        trace.note("the received file could not be made: " + output.error());
        protocol.finalAnswer(false);
        return endReception(job, port, kResultImageFileError);
    }
    job.startTick.store(tickCount());
    job.phase.store(kPhaseReceiving);

    XmodemReceiver receiver(port, job);
    const XmodemReceiver::Outcome outcome =
        receiver.receive(announced, std::span(job.receiveBuffer.get(), kReceiveBufferSize));
    job.extraBytes.store(static_cast<std::uint32_t>(outcome.extra));
    if (outcome.extra > 0)
        trace.note("the box sent " + std::to_string(outcome.extra) +
                   " bytes past the announced size; they are not in the file");

    const bool complete = outcome.succeeded && outcome.stored >= announced;
    bool written = false;
    if (complete) {
        job.endTick.store(tickCount());
        job.phase.store(kPhaseMaking);
        // The fill of the last packet beyond the announced size is dropped.
        written = output.commit(std::span(job.receiveBuffer.get(), announced));
        if (!written) {
            job.receiveError = output.error();
            trace.note("the received file could not be written: " + output.error());
        }
    } else {
        // OUTPUT keeps what it held: a short file must not pass for the box's data.
        output.discard();
    }
    // A reception that came up short is answered "Done" all the same: the box has
    // nothing more to send. Only a complete file on the disk ends the update.
    protocol.finalAnswer(!complete || written);
    if (complete && written)
        job.phase.store(kPhaseUpdateEnd);
    // A reception the user cancelled is short by the user's own doing.
    const int shortReception = job.cancelRequest.load() ? kResultCancelled : kResultTransferFail;
    return endReception(job, port, !complete ? shortReception : !written ? kResultImageFileError : kResultSuccess);
}

int runWorker(TransferJob& job)
{
    int result = kResultSuccess;
    switch (job.kind) {
    case JobKind::SendImage:
        result = runSendImage(job);
        break;
    case JobKind::ReceiveData:
        result = runReceiveData(job);
        break;
    case JobKind::EraseApplication:
        result = runEraseApplication(job);
        break;
    }
    job.callingBox.store(false);
    job.result.store(result);
    return result;
}

} // namespace updatetool
