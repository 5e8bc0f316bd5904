// The transfer commands of the command line: the same jobs the windows run,
// polled the same way, with the job's result as the exit status.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CallDiagnosis.h"
#include "ChannelImageCheck.h"
#include "CommandLine.h"
#include "Console.h"
#include "ImageFile.h"
#include "JobRunner.h"
#include "MultiPortRun.h"
#include "OutputFiles.h"
#include "PortList.h"
#include "ProgressLine.h"
#include "SerialPort.h"
#include "StringTable.h"
#include "TransferJob.h"
#include "WireTrace.h"

namespace updatetool::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitCancelled = kResultCancelled;
constexpr int kExitFileError = kResultImageFileError;
constexpr int kExitWrongImage = kResultFileInvalid;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

// COM1..COM4 keep their number (the engine maps them, UPDATETOOL_COMn included);
// anything with a '/' is a device path, and on Windows so is COM5 and above.
bool choosePort(const std::string& port, TransferJob& job)
{
    if (SerialPort::namesDevice(port)) {
        job.portDevice = port;
        return true;
    }
    if (port.size() == 4 && (port.starts_with("COM") || port.starts_with("com")) && port[3] >= '1' &&
        port[3] <= '4') {
        job.portIndex = port[3] - '1';
        job.portDevice.clear();
        return true;
    }
    return false;
}

void printText(std::string_view text)
{
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void sleepOneTick()
{
    std::this_thread::sleep_for(kPollInterval);
}

// The name a reason line gives a port: the device it reached ("/dev/ttyS0" for
// COM1 on Linux), or the name as given on Windows, where that is the device.
std::string portLabel(const std::string& port)
{
#ifdef _WIN32
    return port;
#else
    return SerialPort::resolvePortName(port);
#endif
}

// "updatetool-cli: NAME: reason", the line before a failed job's result line.
void printReason(const std::string& name, const std::string& reason)
{
    std::fprintf(stderr, "updatetool-cli: %s: %s\n", name.c_str(), reason.c_str());
}

// The reason line for a job that ended with this result, when it kept one.
void printProblem(const TransferJob& job, int result)
{
    if (const auto problem = job.problemFor(result))
        printReason(result == kResultSerialPortError ? portLabel(problem->name) : problem->name, problem->reason);
}

// Runs the job on its worker and polls it ten times a second, as a progress
// window does. gaveUp tells whether --give-up-after ended it.
int runJob(TransferJob& job, ProgressLine& progress, std::uint32_t giveUpAfterMs, bool& gaveUp)
{
    const InterruptCatcher interrupt;
    const std::uint32_t diagnosisDelay = diagnosisDelayMs();
    job.cancelRequest.store(false);
    job.eraseStarted.store(false);
    const std::uint32_t started = tickCount();
    JobRunner runner;
    runner.start(job);
    bool cancelSent = false;
    bool diagnosed = false;
    bool boxAnswered = false;
    gaveUp = false;
    int result = JobRunner::kStillActive;
    for (;;) {
        result = runner.exitCode();
        if (result != JobRunner::kStillActive)
            break;
        if (interrupt.interrupted() && !cancelSent) {
            cancelSent = true;
            job.cancelRequest.store(true);
        }
        const std::uint32_t now = tickCount();
        progress.update(job, now);
        if (!diagnosed) {
            if (const auto diagnosis = callDiagnosis(job, now, diagnosisDelay)) {
                diagnosed = true;
                progress.finish();
                printText(*diagnosis);
            }
        }
        // Once the box has answered, a slow transfer is no reason to give up.
        boxAnswered = boxAnswered || (now - started > 200 && !waitingForBox(job));
        if (giveUpAfterMs != 0 && !boxAnswered && !gaveUp && !cancelSent && now - started >= giveUpAfterMs) {
            gaveUp = true;
            progress.finish();
            printText(giveUp(job, now, giveUpAfterMs, diagnosed));
        }
        sleepOneTick();
    }
    progress.update(job, tickCount());
    progress.finish();
    // A job that failed for a reason of its own before it noticed the Ctrl-C keeps
    // that reason; a cancelled one reports itself as such.
    return gaveUp ? resultAfterGivingUp(result) : result;
}

// One job per port, each with its own trace file and OUTPUT when several run.
// Before any file is made, the outputs are checked against each other and against
// the image: none may be another's file. Nothing on a usage error or a trace that
// cannot be made, which has been reported.
std::optional<std::vector<PortJob>> jobsForPorts(const char* command, const TransferOptions& parsed, int& status)
{
    std::string error;
    std::vector<std::string> named = parsed.ports;
    if (named.empty())
        named.push_back("COM1");
    const auto ports = expandPorts(named, error);
    if (!ports) {
        status = usageError(command, error);
        return std::nullopt;
    }
    const bool receives = std::string_view(command) == "receive";
    const std::vector<std::string> tags = portFileTags(*ports);
    std::vector<PortJob> jobs;
    std::vector<NamedFile> outputs;
    for (std::size_t i = 0; i < ports->size(); ++i) {
        const std::string& port = (*ports)[i];
        auto job = std::make_unique<TransferJob>();
        if (!choosePort(port, *job)) {
#ifdef _WIN32
            status = usageError(command, "unknown port '" + port + "': COM1, COM12, \\\\.\\NAME or usb:VID:PID");
#else
            status = usageError(command, "unknown port '" + port + "': COM1..COM4, a device path or usb:VID:PID");
#endif
            return std::nullopt;
        }
        const bool several = ports->size() > 1;
        if (!parsed.tracePath.empty()) {
            job->tracePath = several ? withPortName(parsed.tracePath, tags[i]) : parsed.tracePath;
            outputs.push_back({job->tracePath, "the trace " + job->tracePath});
        }
        if (receives) {
            job->outputPath = several ? withPortName(parsed.file, tags[i]) : parsed.file;
            outputs.push_back({job->outputPath, "OUTPUT " + job->outputPath});
        }
        jobs.push_back({port, std::move(job)});
    }
    std::vector<NamedFile> inputs;
    if (!receives && !parsed.file.empty())
        inputs.push_back({parsed.file, "the image"});
    if (const auto clash = outputClash(outputs, inputs)) {
        status = usageError(command, *clash);
        return std::nullopt;
    }
    for (const PortJob& portJob : jobs) {
        if (portJob.job->tracePath.empty())
            continue;
        // Said now rather than after a whole update that left no trace.
        std::FILE* trace = std::fopen(portJob.job->tracePath.c_str(), "w");
        if (trace == nullptr) {
            printReason(portJob.job->tracePath, std::strerror(errno));
            std::fprintf(stderr, "Could not write the trace %s.\n", portJob.job->tracePath.c_str());
            status = kExitFileError;
            return std::nullopt;
        }
        std::fclose(trace);
    }
    return jobs;
}

// The image is refused before any job runs: the reason goes into every trace
// asked for too, so a trace never ends without saying why it is empty.
void noteInTraces(const std::vector<PortJob>& jobs, const std::string& note)
{
    for (const PortJob& portJob : jobs) {
        if (portJob.job->tracePath.empty())
            continue;
        WireTrace trace;
        if (trace.open(portJob.job->tracePath, portJob.port))
            trace.note(note);
    }
}

// Exit status and message for a job result other than the receive job's.
int reportResult(int result)
{
    if (result == kResultSuccess)
        return kExitSuccess;
    if (result == kResultCancelled) {
        std::fputs("Cancelled.\n", stderr);
        return kExitCancelled;
    }
    printText(loadString(resultStringId(result)));
    return result;
}

// The reason line and the result for a job run on one port.
int reportSinglePort(const TransferJob& job, int result, bool gaveUp, std::uint32_t giveUpAfterMs)
{
    if (gaveUp && result == kResultSerialPortError)
        printReason(portLabel(job.portName()), giveUpReason(giveUpAfterMs));
    else
        printProblem(job, result);
    return reportResult(result);
}

ProgressLine singlePortProgress()
{
    const bool terminal = stderrIsTerminal();
    return ProgressLine(stderr, terminal, {}, terminal ? terminalColumns() : 0);
}

} // namespace

int sendImage(const TransferOptions& options)
{
    int status = kExitUsage;
    auto jobs = jobsForPorts("send", options, status);
    if (!jobs)
        return status;

    // The file's own magic decides its type, as the Send button does.
    // An image that cannot be opened is what the job itself would call invalid.
    std::string whyNot;
    const auto head = readFileHead(options.file, kHeaderSize, &whyNot);
    if (!head) {
        printReason(options.file, whyNot);
        noteInTraces(*jobs, "the image " + options.file + " is not sent: " + whyNot);
        std::fputs("Could not open file.\n", stderr);
        return kExitWrongImage;
    }
    const auto fileType = detectFileType(
        std::span(reinterpret_cast<const std::uint8_t*>(head->data()), head->size()));
    if (!fileType) {
        noteInTraces(*jobs, "the image " + options.file + " is not sent: it starts with none of VORN, QVCH, QVBT");
        std::fputs("Selected wrong Image type.\n", stderr);
        return kExitWrongImage;
    }
    for (PortJob& portJob : *jobs) {
        portJob.job->kind = JobKind::SendImage;
        portJob.job->fileType = *fileType;
        portJob.job->imagePath = options.file;
        portJob.job->autoRestart = options.autoRestart;
        portJob.job->channelImageCheck = channelImageFileProblem;
    }
    if (jobs->size() > 1)
        return runOnPorts(*jobs, options.giveUpAfterMs);

    TransferJob& job = *jobs->front().job;
    ProgressLine progress = singlePortProgress();
    bool gaveUp = false;
    const int result = runJob(job, progress, options.giveUpAfterMs, gaveUp);
    // A quick job may pass its last phase between two polls; say how it ended anyway.
    if (result == kResultSuccess && progress.lastShownPhase() != kPhaseUpdateEnd)
        printText(loadString(phaseStringId(kPhaseUpdateEnd)));
    return reportSinglePort(job, result, gaveUp, options.giveUpAfterMs);
}

int eraseApplication(const TransferOptions& options)
{
    int status = kExitUsage;
    auto jobs = jobsForPorts("erase", options, status);
    if (!jobs)
        return status;
    for (PortJob& portJob : *jobs)
        portJob.job->kind = JobKind::EraseApplication;
    if (jobs->size() > 1)
        return runOnPorts(*jobs, options.giveUpAfterMs);

    TransferJob& job = *jobs->front().job;
    std::fputs("Reset your Settopbox\n", stderr);
    ProgressLine progress = singlePortProgress();
    bool gaveUp = false;
    const int result = runJob(job, progress, options.giveUpAfterMs, gaveUp);
    if (result == kResultSuccess)
        printText(loadString(ids::kEraseEnd));
    return reportSinglePort(job, result, gaveUp, options.giveUpAfterMs);
}

int receiveData(const TransferOptions& options)
{
    int status = kExitUsage;
    auto jobs = jobsForPorts("receive", options, status);
    if (!jobs)
        return status;
    for (PortJob& portJob : *jobs)
        portJob.job->kind = JobKind::ReceiveData;
    if (jobs->size() > 1)
        return runOnPorts(*jobs, options.giveUpAfterMs);

    TransferJob& job = *jobs->front().job;
    ProgressLine progress = singlePortProgress();
    bool gaveUp = false;
    const int result = runJob(job, progress, options.giveUpAfterMs, gaveUp);
    if (result != kResultReceiveFinished)
        return reportSinglePort(job, result, gaveUp, options.giveUpAfterMs);

    // The job finishes the same way whatever the reception brought; it leaves
    // what went wrong beside its result.
    switch (job.receiveFailure.load()) {
    case kResultSuccess:
        break;
    case kResultCancelled:
        std::fputs("Cancelled.\n", stderr);
        return kExitCancelled;
    case kResultTransferFail:
        std::fprintf(stderr, "Receive ended short: the box announced %u bytes; %s was not written.\n",
                     static_cast<unsigned>(job.totalBytes.load()), options.file.c_str());
        return kExitReceiveShort;
    default:
        printReason(options.file, job.receiveError);
        std::fprintf(stderr, "Could not write %s: %s.\n", options.file.c_str(), job.receiveError.c_str());
        return kExitFileError;
    }
    std::fprintf(stderr, "Received %u bytes into %s%s.\n", static_cast<unsigned>(job.totalBytes.load()),
                 options.file.c_str(), extraBytesNote(job).c_str());
    return kExitSuccess;
}

int listPorts()
{
    const std::vector<PortInfo> ports = listSerialPorts();
    for (const PortInfo& port : ports)
        std::printf("%s\n", describePort(port).c_str());
    if (ports.empty())
        std::fputs("No serial ports found.\n", stderr);
    return kExitSuccess;
}

} // namespace updatetool::cli
