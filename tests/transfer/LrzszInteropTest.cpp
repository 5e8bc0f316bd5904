// Our XMODEM sender and receiver against lrzsz, a peer no one here wrote.
// lrzsz reconfigures and flushes a terminal it is handed, which can swallow its
// last ACK, so it talks over a socket pair and a relay thread copies bytes between
// the socket and the pseudo-terminal's master side.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "PtyPeer.h"
#include "XmodemReceiver.h"
#include "XmodemSender.h"

namespace updatetool {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;
using test::Watchdog;
namespace fs = std::filesystem;

std::string lrzszTool(const char* name)
{
    for (const std::string dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        for (const std::string prefix : {"", "l"}) {
            const std::string path = dir + prefix + name;
            if (::access(path.c_str(), X_OK) == 0)
                return path;
        }
    }
    return {};
}

// One lrzsz process with its standard input and output on a socket, relayed to the
// master side of a pseudo-terminal. Killed and reaped at the latest by the destructor.
class LrzszPeer {
public:
    // corruptAt: the index of one byte on its way from us to lrzsz to spoil, as line noise would.
    LrzszPeer(PtyPeer& pty, const fs::path& workDir, std::vector<std::string> argv, long corruptAt = -1)
        : pty_(pty), corruptAt_(corruptAt)
    {
        int sockets[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
            throw std::runtime_error("socketpair");
        const std::string log = (workDir / "lrzsz.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(sockets[1], 0);
            ::dup2(sockets[1], 1);
            const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0)
                ::dup2(err, 2);
            if (::chdir(workDir.c_str()) != 0)
                ::_exit(126);
            std::vector<char*> args;
            for (auto& arg : argv)
                args.push_back(arg.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(sockets[1]);
        socket_ = sockets[0];
        ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
        relay_ = std::thread([this] { relay(); });
    }

    ~LrzszPeer()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        stop_.store(true);
        relay_.join();
        ::close(socket_);
    }

    // The exit status once the process ended, or -1 after the time-out (then killed).
    int waitForExit(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                reaped_ = true;
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
    }

private:
    void relay()
    {
        char buffer[4096];
        while (!stop_.load()) {
            pollfd fds[2] = {{pty_.masterFd(), POLLIN, 0}, {socket_, POLLIN, 0}};
            if (::poll(fds, 2, 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                copy(pty_.masterFd(), socket_, buffer, sizeof buffer, true);
            if (fds[1].revents & POLLIN)
                copy(socket_, pty_.masterFd(), buffer, sizeof buffer);
            if ((fds[1].revents & POLLHUP) && !(fds[1].revents & POLLIN))
                std::this_thread::sleep_for(5ms); // lrzsz has gone; wait to be stopped
        }
    }

    void copy(int from, int to, char* buffer, std::size_t size, bool toLrzsz = false)
    {
        const ssize_t got = ::read(from, buffer, size);
        if (toLrzsz && got > 0) {
            if (corruptAt_ >= forwarded_ && corruptAt_ < forwarded_ + got)
                buffer[corruptAt_ - forwarded_] ^= 0x55;
            forwarded_ += got;
        }
        for (ssize_t done = 0; got > 0 && done < got && !stop_.load();) {
            const ssize_t written = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
            if (written > 0) {
                done += written;
            } else {
                pollfd out{to, POLLOUT, 0};
                ::poll(&out, 1, 20);
            }
        }
    }

    PtyPeer& pty_;
    long corruptAt_ = -1;
    long forwarded_ = 0;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int socket_ = -1;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

class LrzszTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (lrzszTool("sx").empty() || lrzszTool("rx").empty())
            GTEST_SKIP() << "lrzsz is not installed";
        dir_ = fs::temp_directory_path()
             / ("updatetool-lrzsz-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(LrzszTest, OurSenderIntoRx)
{
    const struct {
        const char* name;
        bool crc;
        std::size_t size;
        XmodemMode mode;
        long corruptAt = -1;
    } cases[] = {
        {"CRC mode, 1K packets", true, 100000, XmodemMode::Crc1K},
        {"CRC mode, exact multiple", true, 4096, XmodemMode::Crc1K},
        {"CRC mode, one byte", true, 1, XmodemMode::Crc1K},
        {"checksum mode, 128-byte packets", false, 30000, XmodemMode::Checksum128},
        {"checksum mode, exact multiple", false, 1280, XmodemMode::Checksum128},
        // rx answers a spoilt first packet with 'C' again, a later one with NAK.
        {"CRC mode, first packet spoilt", true, 5000, XmodemMode::Crc1K, 500},
        {"CRC mode, third packet spoilt", true, 5000, XmodemMode::Crc1K, 2 * 1029 + 700},
        {"checksum mode, first packet spoilt", false, 500, XmodemMode::Checksum128, 100},
    };
    for (const auto& c : cases) {
        PtyPeer pty;
        TransferJob job;
        Watchdog watchdog(job.cancelRequest, 30s);
        SerialPort port(&job.cancelRequest);
        ASSERT_TRUE(port.open(pty.slavePath()));
        const auto data = pattern(c.size);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
        std::fwrite(data.data(), 1, data.size(), file.get());
        std::rewind(file.get());
        fs::remove(dir_ / "received.bin");

        std::vector<std::string> argv = {lrzszTool("rx"), "-q", "-b"};
        if (c.crc)
            argv.push_back("-c");
        argv.push_back("received.bin");
        LrzszPeer rx(pty, dir_, argv, c.corruptAt);
        XmodemSender sender(port, job);
        EXPECT_TRUE(sender.send(file.get(), static_cast<std::uint32_t>(data.size()))) << c.name << ": result " << job.result.load();
        EXPECT_EQ(rx.waitForExit(10s), 0) << c.name;
        EXPECT_FALSE(watchdog.fired()) << c.name;
        EXPECT_EQ(sender.mode(), c.mode) << c.name;

        std::ifstream in(dir_ / "received.bin", std::ios::binary);
        const std::vector<std::uint8_t> received{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // rx keeps the fill of the last packet.
        const std::size_t packet = XmodemPacket::dataSize(c.mode);
        EXPECT_EQ(received.size(), (c.size + packet - 1) / packet * packet) << c.name;
        ASSERT_GE(received.size(), c.size) << c.name;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), received.begin())) << c.name;
        EXPECT_TRUE(std::all_of(received.begin() + static_cast<std::ptrdiff_t>(c.size), received.end(), [](std::uint8_t b) { return b == 0x1A; })) << c.name;
        EXPECT_EQ(job.bytesDone.load(), c.size) << c.name;
    }
}

TEST_F(LrzszTest, SxIntoOurReceiver)
{
    const struct {
        const char* name;
        bool oneK;
        std::size_t size;
    } cases[] = {
        {"1K blocks", true, 100000},
        {"1K blocks, exact multiple", true, 8192},
        {"128-byte blocks", false, 30000},
        {"128-byte blocks, one byte", false, 1},
    };
    for (const auto& c : cases) {
        PtyPeer pty;
        TransferJob job;
        Watchdog watchdog(job.cancelRequest, 30s);
        SerialPort port(&job.cancelRequest);
        ASSERT_TRUE(port.open(pty.slavePath()));
        const auto data = pattern(c.size);
        std::ofstream(dir_ / "send.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

        std::vector<std::string> argv = {lrzszTool("sx"), "-q", "-b"};
        if (c.oneK)
            argv.push_back("-k");
        argv.push_back("send.bin");
        LrzszPeer sx(pty, dir_, argv);
        XmodemReceiver receiver(port, job);
        const auto outcome = receiver.receive(static_cast<std::uint32_t>(c.size), std::span(job.receiveBuffer.get(), kReceiveBufferSize));
        EXPECT_EQ(sx.waitForExit(10s), 0) << c.name;
        EXPECT_FALSE(watchdog.fired()) << c.name;
        EXPECT_TRUE(outcome.succeeded) << c.name;
        ASSERT_GE(outcome.stored, c.size) << c.name;
        EXPECT_LT(outcome.stored, c.size + 1024) << c.name;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), job.receiveBuffer.get())) << c.name;
        EXPECT_EQ(receiver.mode(), XmodemMode::Crc1K) << c.name;
        EXPECT_EQ(job.bytesDone.load(), c.size) << c.name;
    }
}

} // namespace
} // namespace updatetool
