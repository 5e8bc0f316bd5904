// Transfer benchmarks, each printed as a ratio against a baseline measured in
// the same run:
//  1. unthrottled pseudo-terminal: our sender into lrzsz rx against lrzsz sx -k
//     into rx, same file;
//  2. boxsim pacing the line at 115200 baud: payload rate over the line rate;
//  3. the worker's CPU time while it calls a silent box for 10 seconds;
//  4. a USB adapter's 16 ms turn-around against 1 ms, boxsim pacing 115200 baud.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "JobRunner.h"
#include "TransferJob.h"

extern char** environ;

using namespace updatetool;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kFileSize = 1 << 20;
constexpr std::size_t kThrottledSize = 256 * 1024;
constexpr std::size_t kTurnaroundSize = 64 * 1024;
constexpr double kLineBytesPerSecond = 115200.0 / 10;
constexpr int kRounds = 3;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A file descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept { reset(other.release()); return *this; }
    int get() const { return fd_; }
    int release() { const int fd = fd_; fd_ = -1; return fd; }
    void reset(int fd = -1) { if (fd_ >= 0) close(fd_); fd_ = fd; }
private:
    int fd_;
};

struct Pty {
    Fd master;
    std::string slavePath;
};

std::optional<Pty> openPty()
{
    Pty pty;
    pty.master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (pty.master.get() < 0 || grantpt(pty.master.get()) != 0 || unlockpt(pty.master.get()) != 0)
        return std::nullopt;
    pty.slavePath = ptsname(pty.master.get());
    termios settings{};
    tcgetattr(pty.master.get(), &settings);
    cfmakeraw(&settings);
    tcsetattr(pty.master.get(), TCSANOW, &settings);
    return pty;
}

pid_t spawn(std::vector<std::string> argv, int stdinFd, int stdoutFd, const std::string& workDir = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // rx refuses absolute output paths in its restricted mode, so it runs where it writes.
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd entry{fd, POLLOUT, 0};
            poll(&entry, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies bytes both ways until one side closes or stop is set.
void relay(int a, int b, const std::atomic<bool>& stop)
{
    std::vector<std::uint8_t> buffer(8192);
    while (!stop.load()) {
        pollfd entries[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (poll(entries, 2, 50) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (entries[i].revents == 0)
                continue;
            const ssize_t n = read(entries[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                // A pty master reads EIO while no one has the slave open: not an end.
                if (n < 0 && errno == EIO) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                return;
            }
            writeAll(entries[1 - i].fd, buffer.data(), static_cast<std::size_t>(n));
        }
    }
}

std::vector<std::uint8_t> makeChannelImage(std::size_t size)
{
    std::vector<std::uint8_t> image(size);
    std::mt19937 generator(42);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(generator());
    std::copy_n("QVCH", 4, image.begin());
    return image;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool receivedIntact(const std::string& path, const std::vector<std::uint8_t>& original)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return got.size() >= original.size() && std::equal(original.begin(), original.end(), got.begin());
}

int waitChild(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Our send job into rx. The box's text exchange is played here, then rx takes
// over the line for the XMODEM part. Returns the time from rx's start to its end.
std::optional<double> oursIntoRx(const std::string& dir, const std::string& imagePath,
                                 const std::vector<std::uint8_t>& image)
{
    auto pty = openPty();
    if (!pty)
        return std::nullopt;
    const std::string output = dir + "/ours.out";
    unlink(output.c_str());
    std::optional<double> elapsed;

    std::thread box([&] {
        const int master = pty->master.get();
        std::string line;
        bool announced = false;
        std::uint8_t byte = 0;
        while (!announced) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 5000) <= 0)
                return;
            if (read(master, &byte, 1) != 1)
                continue;
            if (byte == 0x1B) {
                writeAll(master, reinterpret_cast<const std::uint8_t*>(">"), 1);
            } else if (byte == '\r') {
                std::string reply = line + "\r\n";
                if (line == "QV_IDENT")
                    reply += "bench box\r\n>";
                else if (line.starts_with("QV_UPDATE"))
                    reply += "ok\r\n", announced = true;
                writeAll(master, reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
                line.clear();
            } else if (byte >= 0x20 && byte < 0x7F) {
                line.push_back(static_cast<char>(byte));
            }
        }
        int pair[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
        Fd ours(pair[0]), theirs(pair[1]);
        const auto start = Clock::now();
        const pid_t rx = spawn({"rx", "-X", "-c", "-b", "-q", "-y", "ours.out"}, theirs.get(), theirs.get(), dir);
        theirs.reset();
        if (rx < 0)
            return;
        std::atomic<bool> stop{false};
        relay(master, ours.get(), stop);   // ends when rx closes its end
        const int status = waitChild(rx);
        if (status == 0)
            elapsed = seconds(Clock::now() - start);
        writeAll(master, reinterpret_cast<const std::uint8_t*>("Done\r\n>"), 7);
    });

    TransferJob job;
    job.kind = JobKind::SendImage;
    job.portDevice = pty->slavePath;
    job.fileType = kFileTypeChannel;
    job.imagePath = imagePath;
    job.autoRestart = false;
    JobRunner runner;
    runner.start(job);
    const int result = runner.wait();
    box.join();
    if (result != kResultSuccess || !receivedIntact(output, image))
        return std::nullopt;
    return elapsed;
}

// lrzsz against itself through the same pseudo-terminal: sx on one side, rx on the other.
std::optional<double> sxIntoRx(const std::string& dir, const std::string& imagePath,
                               const std::vector<std::uint8_t>& image)
{
    auto pty = openPty();
    if (!pty)
        return std::nullopt;
    Fd slave(open(pty->slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios settings{};
    tcgetattr(slave.get(), &settings);
    cfmakeraw(&settings);
    tcsetattr(slave.get(), TCSANOW, &settings);
    const std::string output = dir + "/sx.out";
    unlink(output.c_str());

    int senderPair[2], receiverPair[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, senderPair);
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, receiverPair);
    Fd senderOurs(senderPair[0]), senderTheirs(senderPair[1]);
    Fd receiverOurs(receiverPair[0]), receiverTheirs(receiverPair[1]);

    std::atomic<bool> stop{false};
    std::thread senderRelay([&] { relay(senderOurs.get(), slave.get(), stop); });
    std::thread receiverRelay([&] { relay(pty->master.get(), receiverOurs.get(), stop); });

    const auto start = Clock::now();
    const pid_t rx = spawn({"rx", "-X", "-c", "-b", "-q", "-y", "sx.out"}, receiverTheirs.get(), receiverTheirs.get(), dir);
    const pid_t sx = spawn({"sx", "-X", "-k", "-b", "-q", imagePath}, senderTheirs.get(), senderTheirs.get());
    senderTheirs.reset();
    receiverTheirs.reset();
    const int rxStatus = rx > 0 ? waitChild(rx) : -1;
    const auto end = Clock::now();
    const int sxStatus = sx > 0 ? waitChild(sx) : -1;
    stop.store(true);
    senderRelay.join();
    receiverRelay.join();
    if (rxStatus != 0 || sxStatus != 0 || !receivedIntact(output, image))
        return std::nullopt;
    return seconds(end - start);
}

void benchAgainstLrzsz(const std::string& dir)
{
    std::printf("1. Unthrottled pseudo-terminal, %zu-byte file, XMODEM-1K CRC into lrzsz rx (best of %d)\n",
                kFileSize, kRounds);
    if (spawn({"rx", "--help"}, -1, open("/dev/null", O_WRONLY | O_CLOEXEC)) < 0) {
        std::printf("   lrzsz not installed: skipped\n");
        return;
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    const auto image = makeChannelImage(kFileSize);
    const std::string imagePath = dir + "/bench.img";
    writeFile(imagePath, image);
    std::optional<double> best[2];
    for (int round = 0; round < kRounds; ++round) {
        // Alternate, so neither side always runs on a warmer machine.
        const auto ours = oursIntoRx(dir, imagePath, image);
        const auto theirs = sxIntoRx(dir, imagePath, image);
        if (ours)
            best[0] = std::min(best[0].value_or(*ours), *ours);
        if (theirs)
            best[1] = std::min(best[1].value_or(*theirs), *theirs);
    }
    if (!best[0] || !best[1]) {
        std::printf("   a transfer failed (ours %s, sx %s)\n", best[0] ? "ok" : "FAILED", best[1] ? "ok" : "FAILED");
        return;
    }
    const double oursRate = kFileSize / *best[0];
    const double sxRate = kFileSize / *best[1];
    std::printf("   ours (send job)   %8.0f KiB/s  (%.3f s)\n", oursRate / 1024, *best[0]);
    std::printf("   lrzsz sx -k       %8.0f KiB/s  (%.3f s)\n", sxRate / 1024, *best[1]);
    std::printf("   ratio ours / sx   %8.2f      (goal >= 1.00)\n", oursRate / sxRate);
}

struct BoxSim {
    pid_t pid = -1;
    std::string device;
    ~BoxSim()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    bool start(std::vector<std::string> args)
    {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        args.insert(args.begin(), BOXSIM_PATH);
        pid = spawn(args, -1, pipeFds[1]);
        close(pipeFds[1]);
        char c = 0;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
            device.push_back(c);
        close(pipeFds[0]);
        return pid > 0 && !device.empty();
    }
};

void benchThrottled(const std::string& dir)
{
    std::printf("2. boxsim pacing the line at 115200 baud, %zu-byte channel image\n", kThrottledSize);
    BoxSim box;
    if (!box.start({"--baud", "115200"})) {
        std::printf("   boxsim did not start\n");
        return;
    }
    const std::string imagePath = dir + "/throttled.img";
    writeFile(imagePath, makeChannelImage(kThrottledSize));
    TransferJob job;
    job.kind = JobKind::SendImage;
    job.portDevice = box.device;
    job.fileType = kFileTypeChannel;
    job.imagePath = imagePath;
    job.autoRestart = false;
    JobRunner runner;
    runner.start(job);
    if (runner.wait() != kResultSuccess) {
        std::printf("   the send failed with result %d\n", job.result.load());
        return;
    }
    // From the announcement to the box's last ACK, as the transfer window times it.
    const double elapsed = (job.endTick.load() - job.startTick.load()) / 1000.0;
    const double rate = kThrottledSize / elapsed;
    std::printf("   payload           %8.0f bytes/s  (%.2f s)\n", rate, elapsed);
    std::printf("   line rate         %8.0f bytes/s\n", kLineBytesPerSecond);
    std::printf("   ratio             %8.3f      (goal >= 0.97; 1K packets carry 1024 of 1029 bytes)\n",
                rate / kLineBytesPerSecond);
}

// From the announcement to the box's last ACK, as the transfer window times it;
// nothing when the send failed.
std::optional<double> timedSend(const std::string& device, const std::string& imagePath)
{
    TransferJob job;
    job.kind = JobKind::SendImage;
    job.portDevice = device;
    job.fileType = kFileTypeChannel;
    job.imagePath = imagePath;
    job.autoRestart = false;
    JobRunner runner;
    runner.start(job);
    if (runner.wait() != kResultSuccess)
        return std::nullopt;
    return (job.endTick.load() - job.startTick.load()) / 1000.0;
}

void benchTurnaround(const std::string& dir)
{
    constexpr unsigned kSlowMs = 16;   // the latency timer of common USB serial chips
    constexpr unsigned kFastMs = 1;    // the same chips asked for low latency
    const std::size_t packets = kTurnaroundSize / 1024;
    std::printf("4. Adapter turn-around, boxsim pacing 115200 baud, %zu-byte channel image (%zu 1K packets)\n",
                kTurnaroundSize, packets);
    const std::string imagePath = dir + "/turnaround.img";
    writeFile(imagePath, makeChannelImage(kTurnaroundSize));
    std::optional<double> seconds[2];
    const unsigned turnarounds[2] = {kFastMs, kSlowMs};
    for (int i = 0; i < 2; ++i) {
        BoxSim box;
        if (!box.start({"--baud", "115200", "--turnaround-ms", std::to_string(turnarounds[i])})) {
            std::printf("   boxsim did not start\n");
            return;
        }
        seconds[i] = timedSend(box.device, imagePath);
    }
    if (!seconds[0] || !seconds[1]) {
        std::printf("   a send failed\n");
        return;
    }
    for (int i = 0; i < 2; ++i)
        std::printf("   %2u ms turn-around %8.0f bytes/s  (%.2f s, %.1f ms a packet)\n", turnarounds[i],
                    kTurnaroundSize / *seconds[i], *seconds[i], 1000.0 * *seconds[i] / packets);
    std::printf("   16 ms costs       %8.1f ms a packet, ratio 16 / 1 ms  %.3f\n",
                1000.0 * (*seconds[1] - *seconds[0]) / packets, *seconds[1] / *seconds[0]);
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void benchIdleCpu(const std::string& dir)
{
    constexpr int kWaitSeconds = 10;
    std::printf("3. Worker CPU while it calls a silent box for %d s\n", kWaitSeconds);
    BoxSim box;
    if (!box.start({"--silent"})) {
        std::printf("   boxsim did not start\n");
        return;
    }
    const std::string imagePath = dir + "/idle.img";
    writeFile(imagePath, makeChannelImage(4096));
    TransferJob job;
    job.kind = JobKind::SendImage;
    job.portDevice = box.device;
    job.fileType = kFileTypeChannel;
    job.imagePath = imagePath;
    JobRunner runner;
    runner.start(job);
    // Only the worker runs while this thread sleeps, so the process's CPU time is the worker's.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kWaitSeconds));
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = seconds(Clock::now() - wallBefore);
    job.cancelRequest.store(true);
    const int result = runner.wait();
    std::printf("   CPU               %8.3f s in %.1f s  (job ended with %d after cancel)\n", cpu, wall, result);
    std::printf("   share of one core %8.2f %%    (goal < 2 %%)\n", 100.0 * cpu / wall);
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    char dirTemplate[] = "/tmp/transfer-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr)
        return 1;
    const std::string dir = dirTemplate;
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "lrzsz")
        benchAgainstLrzsz(dir);
    if (only.empty() || only == "throttled")
        benchThrottled(dir);
    if (only.empty() || only == "idle")
        benchIdleCpu(dir);
    if (only.empty() || only == "turnaround")
        benchTurnaround(dir);
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
