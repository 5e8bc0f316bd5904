// Several boxes at once: one job and one worker per port, polled together the
// way one progress window polls its job.
#include "MultiPortRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "CallDiagnosis.h"
#include "CommandLine.h"
#include "Console.h"
#include "JobRunner.h"
#include "PortList.h"
#include "ProgressLine.h"
#include "SerialPort.h"
#include "StringTable.h"

namespace updatetool::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr std::string_view kResetBox = "Reset your Settopbox";
constexpr std::string_view kIdle = "Idle";

bool isGlob(const std::string& name)
{
    return name.find_first_of("*?[") != std::string::npos;
}

// The device a port name reaches, so two names for one device count once.
std::string deviceOf(const std::string& port)
{
    const std::string path = SerialPort::resolvePortName(port);
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(path, error);
    return error ? path : device.string();
}

// The port's own last name: "ttyUSB0" for "/dev/ttyUSB0", "COM2" for "\\.\COM2",
// made fit for a file name.
std::string fileTagOf(const std::string& port)
{
    const std::size_t separator = port.find_last_of("/\\");
    std::string tag = separator == std::string::npos ? port : port.substr(separator + 1);
    for (char& c : tag)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view(":*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    return tag.empty() ? "port" : tag;
}

struct PortRun {
    explicit PortRun(PortJob& job) : portJob(job), plainLines(stderr, false, job.port + ": ") {}

    PortJob& portJob;
    ProgressLine plainLines;
    JobRunner runner;
    int result = JobRunner::kStillActive;
    Clock::time_point started{};
    Clock::time_point ended{};
    bool diagnosed = false;
    bool boxAnswered = false;
    bool gaveUp = false;

    TransferJob& job() { return *portJob.job; }
    bool running() const { return result == JobRunner::kStillActive; }
};

std::string text(std::string_view view)
{
    return std::string(view);
}

// What the port's line says while its job runs, as the progress windows word it;
// without the phase's name while the figures show, when room is short.
std::string liveText(const TransferJob& job, std::uint32_t now, bool withPhase = true)
{
    if (job.kind == JobKind::EraseApplication)
        return text(job.eraseStarted.load() ? loadString(ids::kWaitAppErase) : kResetBox);
    const int phase = job.phase.load();
    if (phase == kPhaseNone)
        return text(kIdle);
    const std::string phaseText = text(loadString(phaseStringId(phase)));
    if (phase != kPhaseTransferring && phase != kPhaseReceiving)
        return phaseText;
    const std::uint32_t done = job.bytesDone.load();
    const std::uint32_t total = job.totalBytes.load();
    const std::string figures = formatFigures(liveFigures(done, total, now - job.startTick.load()), done, total);
    return withPhase ? phaseText + "  " + figures : figures;
}

// How the port's job ended, in the words the command line uses for one job.
std::string resultText(const TransferJob& job, int result)
{
    if (result == kResultReceiveFinished) {
        switch (job.receiveFailure.load()) {
        case kResultSuccess:
            return "Received into " + job.outputPath + extraBytesNote(job);
        case kResultCancelled:
            return "Cancelled";
        case kResultTransferFail:
            return "Receive ended short";
        default:
            return "Could not write " + job.outputPath + ": " + job.receiveError;
        }
    }
    if (result == kResultSuccess)
        return text(loadString(job.kind == JobKind::EraseApplication ? ids::kEraseEnd : ids::kUpdateEnd));
    if (result == kResultCancelled)
        return "Cancelled";
    if (result == kResultFileInvalid && !job.imageProblem.empty())
        return text(loadString(resultStringId(result))) + ": " + job.imageProblem;
    return text(loadString(resultStringId(result)));
}

// The bytes that reached their goal: the image's bytes sent, or the bytes written to the file.
std::uint32_t bytesMoved(const TransferJob& job, int result)
{
    if (job.kind == JobKind::EraseApplication)
        return 0;
    if (job.kind == JobKind::ReceiveData)
        return result == kResultReceiveFinished && job.receiveFailure.load() == kResultSuccess ? job.totalBytes.load()
                                                                                                : 0;
    return job.bytesDone.load();
}


// One line per port on a terminal, rewritten in place. Lines are cut to the
// terminal's width: a line that wrapped would throw the redrawing off.
class LiveBlock {
public:
    explicit LiveBlock(std::FILE* out) : out_(out), columns_(terminalColumns()) {}

    void draw(const std::vector<std::string>& lines)
    {
        rewind();
        for (const std::string& line : lines)
            std::fprintf(out_, "%s\n", line.substr(0, columns_ - 1).c_str());
        drawn_ = lines.size();
        std::fflush(out_);
    }
    // Text that stays: written where the block was, the block goes below it.
    void message(const std::string& text, const std::vector<std::string>& lines)
    {
        rewind();
        std::fprintf(out_, "%s\n", text.c_str());
        drawn_ = 0;
        draw(lines);
    }

private:
    void rewind()
    {
        if (drawn_ > 0)
            std::fprintf(out_, "\033[%zuA\r", drawn_);
        std::fputs("\033[J", out_);
    }

    std::FILE* out_;
    std::size_t columns_;
    std::size_t drawn_ = 0;
};

std::string prefixed(const std::string& text, const std::string& prefix)
{
    std::string lines;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        lines += prefix + text.substr(begin, end - begin) + "\n";
        begin = end + 1;
    }
    return lines;
}

void printSummary(std::vector<std::unique_ptr<PortRun>>& runs)
{
    struct Row {
        std::string port, result, bytes, seconds;
    };
    std::vector<Row> rows{{"PORT", "RESULT", "BYTES", "SECONDS"}};
    for (auto& run : runs) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      std::chrono::duration<double>(run->ended - run->started).count());
        rows.push_back({run->portJob.port, resultText(run->job(), run->result),
                        std::to_string(bytesMoved(run->job(), run->result)), seconds});
    }
    std::size_t widths[4] = {0, 0, 0, 0};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.port.size());
        widths[1] = std::max(widths[1], row.result.size());
        widths[2] = std::max(widths[2], row.bytes.size());
        widths[3] = std::max(widths[3], row.seconds.size());
    }
    for (const Row& row : rows)
        std::printf("%-*s  %-*s  %*s  %*s\n", static_cast<int>(widths[0]), row.port.c_str(),
                    static_cast<int>(widths[1]), row.result.c_str(), static_cast<int>(widths[2]), row.bytes.c_str(),
                    static_cast<int>(widths[3]), row.seconds.c_str());
    std::fflush(stdout);
}

} // namespace

std::optional<std::vector<std::string>> expandPorts(const std::vector<std::string>& named, std::string& error)
{
    std::vector<std::string> ports;
    std::vector<std::string> devices;
    auto add = [&](const std::string& port) {
        const std::string device = deviceOf(port);
        if (std::find(devices.begin(), devices.end(), device) != devices.end())
            return;
        devices.push_back(device);
        ports.push_back(port);
    };
    for (const std::string& name : named) {
        const bool usb = isUsbMatch(name);
        if (!usb && !isGlob(name)) {
            add(name);
            continue;
        }
        const std::vector<std::string> matches = usb ? devicesWithUsbId(listSerialPorts(), name) : devicesMatching(name);
        for (const std::string& match : matches)
            add(match);
        if (matches.empty()) {
            error = "no port matches '" + name + "'";
            return std::nullopt;
        }
    }
    return ports;
}

std::vector<std::string> portFileTags(const std::vector<std::string>& ports)
{
    std::vector<std::string> tags;
    for (const std::string& port : ports)
        tags.push_back(fileTagOf(port));
    const std::vector<std::string> plain = tags;
    auto taken = [&](const std::string& tag, std::size_t except) {
        for (std::size_t i = 0; i < tags.size(); ++i)
            if (i != except && tags[i] == tag)
                return true;
        return false;
    };
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (std::count(plain.begin(), plain.end(), plain[i]) < 2)
            continue;
        // Numbered in the order the ports came, skipping a number another port's own name already has.
        int number = static_cast<int>(std::count(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(i), plain[i])) + 1;
        while (taken(plain[i] + "-" + std::to_string(number), i))
            ++number;
        tags[i] = plain[i] + "-" + std::to_string(number);
    }
    return tags;
}

std::string extraBytesNote(const TransferJob& job)
{
    const std::uint32_t extra = job.extraBytes.load();
    if (extra == 0)
        return {};
    return " (the box sent " + std::to_string(extra) + " bytes past the announced size; they were dropped)";
}

std::string withPortName(const std::string& path, const std::string& tag)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    const std::size_t insertAt = dot != std::string::npos && dot > nameStart ? dot : path.size();
    return path.substr(0, insertAt) + "-" + tag + path.substr(insertAt);
}

int jobExitStatus(const TransferJob& job, int result)
{
    if (result != kResultReceiveFinished)
        return result;
    switch (job.receiveFailure.load()) {
    case kResultSuccess:
        return 0;
    case kResultCancelled:
        return kResultCancelled;
    case kResultTransferFail:
        return kExitReceiveShort;
    default:
        return kResultImageFileError;
    }
}

int runOnPorts(std::vector<PortJob>& jobs, std::uint32_t giveUpAfterMs)
{
    const bool terminal = stderrIsTerminal();
    const std::uint32_t diagnosisDelay = diagnosisDelayMs();
    std::size_t portWidth = 0;
    for (const PortJob& portJob : jobs)
        portWidth = std::max(portWidth, portJob.port.size());

    std::vector<std::unique_ptr<PortRun>> runs;
    for (PortJob& portJob : jobs)
        runs.push_back(std::make_unique<PortRun>(portJob));
    if (!jobs.empty() && jobs.front().job->kind == JobKind::EraseApplication)
        std::fprintf(stderr, "%.*s\n", static_cast<int>(kResetBox.size()), kResetBox.data());

    LiveBlock block(stderr);
    const std::size_t columns = terminalColumns();
    auto liveLines = [&](std::uint32_t now) {
        std::vector<std::string> lines;
        for (auto& run : runs) {
            std::string line = run->portJob.port;
            line.resize(portWidth, ' ');
            if (!run->running()) {
                line += "  " + resultText(run->job(), run->result);
            } else {
                const std::string full = liveText(run->job(), now);
                // The figures matter more than the phase's name when the line would be cut.
                line += "  " + (line.size() + 2 + full.size() < columns ? full : liveText(run->job(), now, false));
            }
            lines.push_back(line);
        }
        return lines;
    };

    InterruptCatcher interrupt;
    const std::uint32_t startTick = tickCount();
    for (auto& run : runs) {
        run->job().cancelRequest.store(false);
        run->job().eraseStarted.store(false);
        run->started = Clock::now();
        run->runner.start(run->job());
    }
    bool cancelSent = false;
    for (;;) {
        bool anyRunning = false;
        for (auto& run : runs) {
            if (!run->running())
                continue;
            run->result = run->runner.exitCode();
            if (run->running()) {
                anyRunning = true;
            } else {
                run->ended = Clock::now();
                if (run->gaveUp)
                    run->result = resultAfterGivingUp(run->result);
            }
        }
        if (interrupt.interrupted() && !cancelSent) {
            cancelSent = true;
            for (auto& run : runs)
                run->job().cancelRequest.store(true);
        }
        const std::uint32_t now = tickCount();
        for (auto& run : runs) {
            if (!run->running() || run->gaveUp || (run->diagnosed && giveUpAfterMs == 0))
                continue;
            std::optional<std::string> diagnosis;
            if (!run->diagnosed)
                diagnosis = callDiagnosis(run->job(), now, diagnosisDelay);
            if (diagnosis)
                run->diagnosed = true;
            // One box that never answers must not hold up the run for ever.
            run->boxAnswered = run->boxAnswered || (now - startTick > 200 && !waitingForBox(run->job()));
            if (giveUpAfterMs != 0 && !run->boxAnswered && !run->gaveUp && !cancelSent &&
                now - startTick >= giveUpAfterMs) {
                run->gaveUp = true;
                diagnosis = giveUp(run->job(), now, giveUpAfterMs, run->diagnosed);
            }
            if (diagnosis) {
                const std::string words = prefixed(*diagnosis, run->portJob.port + ": ");
                if (terminal) {
                    block.message(words.substr(0, words.size() - 1), liveLines(now));
                } else {
                    std::fputs(words.c_str(), stderr);
                    std::fflush(stderr);
                }
            }
        }
        if (terminal) {
            block.draw(liveLines(now));
        } else {
            for (auto& run : runs)
                run->plainLines.update(run->job(), now);
        }
        if (!anyRunning)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }

    for (auto& run : runs) {
        if (run->gaveUp && run->result == kResultSerialPortError)
            std::fprintf(stderr, "updatetool-cli: %s: %s\n", run->portJob.port.c_str(),
                         giveUpReason(giveUpAfterMs).c_str());
        else if (const auto problem = run->job().problemFor(run->result))
            std::fprintf(stderr, "updatetool-cli: %s: %s\n",
                         run->result == kResultSerialPortError ? run->portJob.port.c_str() : problem->name.c_str(),
                         problem->reason.c_str());
    }
    printSummary(runs);
    int status = 0;
    for (auto& run : runs)
        status = std::max(status, jobExitStatus(run->job(), run->result));
    return status;
}

} // namespace updatetool::cli
