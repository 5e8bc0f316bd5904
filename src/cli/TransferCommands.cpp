// The transfer commands of the command line: the same jobs the windows run,
// polled the same way, with the job's result as the exit status.
#include <chrono>
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
#include "ProgressLine.h"
#include "SerialPort.h"
#include "StringTable.h"
#include "TransferJob.h"

namespace updatetool::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitCancelled = kResultCancelled;
constexpr int kExitFileError = kResultImageFileError;
constexpr int kExitWrongImage = kResultFileInvalid;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

struct TransferArgs {
    // Every --port in order; COM1 when none is given.
    std::vector<std::string> ports;
    std::string file;
    std::string tracePath;
    bool autoRestart = true;
};

int usageError(const char* command, const std::string& why)
{
    std::fprintf(stderr, "updatetool-cli %s: %s (try updatetool-cli --help)\n", command, why.c_str());
    return kExitUsage;
}

// "--port PORT", "--port=PORT", "--trace FILE", "--trace=FILE".
struct OptionValue {
    std::string_view name;
    std::optional<std::string> value;   // nothing when the value is missing
};

// The option the word names with its value, or nothing for another word.
std::optional<OptionValue> optionWithValue(std::string_view word, std::span<char* const> args, std::size_t& i)
{
    for (const std::string_view name : {std::string_view("--port"), std::string_view("--trace")}) {
        if (word == name) {
            if (i + 1 >= args.size())
                return OptionValue{name, std::nullopt};
            return OptionValue{name, std::string(args[++i])};
        }
        if (word.starts_with(name) && word.size() > name.size() && word[name.size()] == '=')
            return OptionValue{name, std::string(word.substr(name.size() + 1))};
    }
    return std::nullopt;
}

// Parses "[--port PORT]... [--trace FILE] [--no-restart] FILE"; --no-restart only when allowed,
// the file only when wanted. Nothing on a usage error, which has been reported.
std::optional<TransferArgs> parseArgs(const char* command, std::span<char* const> args, bool wantsFile,
                                      bool allowsNoRestart, int& exitStatus)
{
    TransferArgs parsed;
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (word == "--help" || word == "-h") {
            printTransferUsage();
            exitStatus = kExitSuccess;
            return std::nullopt;
        }
        if (const auto option = optionWithValue(word, args, i)) {
            if (!option->value) {
                exitStatus = usageError(command, std::string(option->name) + " needs a value");
                return std::nullopt;
            }
            if (option->name == "--port")
                parsed.ports.push_back(*option->value);
            else
                parsed.tracePath = *option->value;
        } else if (word == "--no-restart" && allowsNoRestart) {
            parsed.autoRestart = false;
        } else if (word.starts_with("-") && word != "-") {
            exitStatus = usageError(command, "unknown option '" + std::string(word) + "'");
            return std::nullopt;
        } else if (wantsFile && !haveFile) {
            parsed.file = word;
            haveFile = true;
        } else {
            exitStatus = usageError(command, "unexpected argument '" + std::string(word) + "'");
            return std::nullopt;
        }
    }
    if (wantsFile && !haveFile) {
        exitStatus = usageError(command, "which file?");
        return std::nullopt;
    }
    if (parsed.ports.empty())
        parsed.ports.push_back("COM1");
    return parsed;
}

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

// Runs the job on its worker and polls it ten times a second, as a progress window does.
int runJob(TransferJob& job, ProgressLine& progress)
{
    const InterruptCatcher interrupt;
    const std::uint32_t diagnosisDelay = diagnosisDelayMs();
    job.cancelRequest.store(false);
    job.eraseStarted.store(false);
    JobRunner runner;
    runner.start(job);
    bool cancelSent = false;
    bool diagnosed = false;
    int result = JobRunner::kStillActive;
    for (;;) {
        result = runner.exitCode();
        if (result != JobRunner::kStillActive)
            break;
        if (interrupt.interrupted() && !cancelSent) {
            cancelSent = true;
            job.cancelRequest.store(true);
        }
        progress.update(job, tickCount());
        if (!diagnosed) {
            if (const auto diagnosis = callDiagnosis(job, tickCount(), diagnosisDelay)) {
                diagnosed = true;
                progress.finish();
                printText(*diagnosis);
            }
        }
        sleepOneTick();
    }
    progress.update(job, tickCount());
    progress.finish();
    // A job that failed for a reason of its own before it noticed the Ctrl-C keeps
    // that reason; a cancelled one reports itself as such.
    return result;
}

// One job per port, each with its own trace file and OUTPUT when several run.
// Before any file is made, the outputs are checked against each other and against
// the image: none may be another's file. Nothing on a usage error or a trace that
// cannot be made, which has been reported.
std::optional<std::vector<PortJob>> jobsForPorts(const char* command, const TransferArgs& parsed, int& status)
{
    std::string error;
    const auto ports = expandPorts(parsed.ports, error);
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
            status = usageError(command, "unknown port '" + port + "': COM1..COM4 or a device path");
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
            std::fprintf(stderr, "Could not write the trace %s.\n", portJob.job->tracePath.c_str());
            status = kExitFileError;
            return std::nullopt;
        }
        std::fclose(trace);
    }
    return jobs;
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

int sendImage(std::span<char* const> args)
{
    int status = kExitUsage;
    const auto parsed = parseArgs("send", args, true, true, status);
    if (!parsed)
        return status;
    auto jobs = jobsForPorts("send", *parsed, status);
    if (!jobs)
        return status;

    // The file's own magic decides its type, as the Send button does.
    // An image that cannot be opened is what the job itself would call invalid.
    std::string whyNot;
    std::FILE* opened = openImageFile(parsed->file, &whyNot);
    if (opened == nullptr) {
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", parsed->file.c_str(), whyNot.c_str());
        std::fputs("Could not open file.\n", stderr);
        return kExitWrongImage;
    }
    std::fclose(opened);
    const auto head = readFileHead(parsed->file);
    if (!head) {
        std::fputs("Could not open file.\n", stderr);
        return kExitWrongImage;
    }
    const auto fileType = detectFileType(
        std::span(reinterpret_cast<const std::uint8_t*>(head->data()), head->size()));
    if (!fileType) {
        std::fputs("Selected wrong Image type.\n", stderr);
        return kExitWrongImage;
    }
    for (PortJob& portJob : *jobs) {
        portJob.job->kind = JobKind::SendImage;
        portJob.job->fileType = *fileType;
        portJob.job->imagePath = parsed->file;
        portJob.job->autoRestart = parsed->autoRestart;
        portJob.job->channelImageCheck = channelImageFileProblem;
    }
    if (jobs->size() > 1)
        return runOnPorts(*jobs);

    TransferJob& job = *jobs->front().job;
    ProgressLine progress(stderr, stderrIsTerminal());
    const int result = runJob(job, progress);
    if (result == kResultFileInvalid && !job.imageProblem.empty())
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", parsed->file.c_str(), job.imageProblem.c_str());
    // A quick job may pass its last phase between two polls; say how it ended anyway.
    if (result == kResultSuccess && progress.lastShownPhase() != kPhaseUpdateEnd)
        printText(loadString(phaseStringId(kPhaseUpdateEnd)));
    return reportResult(result);
}

int eraseApplication(std::span<char* const> args)
{
    int status = kExitUsage;
    const auto parsed = parseArgs("erase", args, false, false, status);
    if (!parsed)
        return status;
    auto jobs = jobsForPorts("erase", *parsed, status);
    if (!jobs)
        return status;
    for (PortJob& portJob : *jobs)
        portJob.job->kind = JobKind::EraseApplication;
    if (jobs->size() > 1)
        return runOnPorts(*jobs);

    TransferJob& job = *jobs->front().job;
    std::fputs("Reset your Settopbox\n", stderr);
    ProgressLine progress(stderr, stderrIsTerminal());
    const int result = runJob(job, progress);
    if (result == kResultSuccess)
        printText(loadString(ids::kEraseEnd));
    return reportResult(result);
}

int receiveData(std::span<char* const> args)
{
    int status = kExitUsage;
    const auto parsed = parseArgs("receive", args, true, false, status);
    if (!parsed)
        return status;
    auto jobs = jobsForPorts("receive", *parsed, status);
    if (!jobs)
        return status;
    for (PortJob& portJob : *jobs)
        portJob.job->kind = JobKind::ReceiveData;
    if (jobs->size() > 1)
        return runOnPorts(*jobs);

    TransferJob& job = *jobs->front().job;
    ProgressLine progress(stderr, stderrIsTerminal());
    const int result = runJob(job, progress);
    if (result != kResultReceiveFinished)
        return reportResult(result);

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
                     static_cast<unsigned>(job.totalBytes.load()), parsed->file.c_str());
        return kExitReceiveShort;
    default:
        std::fprintf(stderr, "Could not write %s: %s.\n", parsed->file.c_str(), job.receiveError.c_str());
        return kExitFileError;
    }
    std::fprintf(stderr, "Received %u bytes into %s%s.\n", static_cast<unsigned>(job.totalBytes.load()),
                 parsed->file.c_str(), extraBytesNote(job).c_str());
    return kExitSuccess;
}

} // namespace

void printTransferUsage()
{
    std::fputs(R"(Transfer commands (talk to the box's boot monitor over a serial line):
  updatetool-cli send    --port PORT [--no-restart] IMAGE
      Sends an application ("VORN"), channel ("QVCH") or boot ("QVBT") image;
      the file's magic decides its type. Reset the box when asked. The box is
      told to restart afterwards unless --no-restart is given.
  updatetool-cli receive --port PORT OUTPUT
      Plays the box's monitor and takes the data the box uploads; OUTPUT gets
      the 16-byte company signature followed by the announced bytes. The data
      goes to a temporary file beside OUTPUT, which replaces OUTPUT only once
      every announced byte is on the disk: a failed, short or cancelled
      receive leaves an existing OUTPUT as it was and no partial file. Packets
      the box sends past the size it announced are dropped, and the result
      line and the trace say how many bytes that was.
  updatetool-cli erase   --port PORT
      Erases the box's application area.
  Each also takes --trace FILE.

  PORT is COM1..COM4 (default COM1) or a device path containing '/', such as
  /dev/ttyUSB0 or /dev/serial/by-id/usb-...; a quoted glob ('/dev/ttyUSB*')
  names every device it matches.
  Several ports (--port more than once, or a glob that matches several): the
  job runs on every port at once, each with its own line, and ends with a
  table of port, result, bytes and seconds on standard output; the exit
  status is 0 only when every port succeeded, else the highest of them.
  receive writes one file per port, the port's name before OUTPUT's
  extension (received.img -> received-ttyUSB0.img; a by-id name gives its
  last part); ports whose names end alike are numbered (-usb-box-1,
  -usb-box-2). No output may be another output or the image: such a command
  line is refused (status 64) before any file is written.
  --trace FILE writes every byte on the line to FILE with its direction and a
  millisecond time stamp, one line per XMODEM packet (block, length, check,
  answer), and what a USB adapter granted when asked for low latency; with
  several ports one file per port, named as receive names OUTPUT.
  On Windows PORT is the port as Windows names it: COM3, COM12, \\.\NAME.
  Environment: UPDATETOOL_COM1..UPDATETOOL_COM4 name the device behind each
  COM port (for example UPDATETOOL_COM1=/dev/ttyUSB0); unset, COM1..COM4 are
  /dev/ttyS0..3.
  Progress goes to standard error: a live line on a terminal, otherwise one
  line per phase. Ctrl-C, SIGTERM and SIGHUP cancel the job, every job with
  several ports (a box in the middle of a transfer is sent CAN CAN, an
  unfinished OUTPUT is removed), and then end the program by that signal, so
  the shell reports 128+N (130 for Ctrl-C) and a loop of commands stops. On
  Windows Ctrl-C, Ctrl-Break and closing the console window do the same and
  the program ends as Ctrl-C ends it. A second one ends the program at once.
  When a box has not answered the call for 10 s, two lines say what the line
  showed (nothing at all, bytes that are no prompt, or a prompt and then
  silence) and what to check; the call goes on until the box answers.

  Exit status of the transfer commands:
    0  success (receive: every announced byte arrived)
    1  cancelled (a shell sees 128+N instead: the program ends by the signal)
    2  image file I/O error (an OUTPUT that could not be made or written;
       the box is told "Abort")
    3  serial port I/O error (no such port, port busy, line lost)
    4  file is invalid ("Could not open file." for an IMAGE that cannot be
       opened, a bad application header, "Selected wrong Image type." when
       the magic is none of the three)
    5  receive ended short: the box announced more than arrived (OUTPUT is
       left as it was)
    6  file transfer fail (the box refused the update or cancelled it)
    7  data update fail (the box did not report "Done")
   64  usage error
)",
               stdout);
}

int runTransferCommand(std::string_view command, std::span<char* const> args)
{
    if (command == "send")
        return sendImage(args);
    if (command == "receive")
        return receiveData(args);
    if (command == "erase")
        return eraseApplication(args);
    std::fprintf(stderr, "updatetool-cli: unknown command '%.*s'\n", static_cast<int>(command.size()),
                 command.data());
    return kExitUsage;
}

} // namespace updatetool::cli
