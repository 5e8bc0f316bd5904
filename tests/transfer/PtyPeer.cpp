#include "PtyPeer.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace updatetool::test {

using Clock = std::chrono::steady_clock;

PtyPeer::PtyPeer()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slavePath_ = ::ptsname(master_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        throw std::runtime_error("cannot open " + slavePath_);
    // Raw from the start, so nothing the peer sends before the engine's own settings
    // is echoed or translated.
    termios settings{};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

void PtyPeer::send(std::string_view bytes)
{
    send(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void PtyPeer::send(std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    const auto deadline = Clock::now() + 10s;
    while (done < bytes.size() && master_ >= 0 && Clock::now() < deadline) {
        const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd entry{master_, POLLOUT, 0};
        ::poll(&entry, 1, 10);
    }
}

std::string PtyPeer::read(std::size_t count, std::chrono::milliseconds timeout)
{
    std::string bytes;
    const auto deadline = Clock::now() + timeout;
    while (bytes.size() < count && master_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd entry{master_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left)) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno == EIO)
            ::poll(nullptr, 0, 1); // no slave open at this moment
    }
    return bytes;
}

std::optional<std::uint8_t> PtyPeer::readByte(std::chrono::milliseconds timeout)
{
    const std::string byte = read(1, timeout);
    if (byte.empty())
        return std::nullopt;
    return static_cast<std::uint8_t>(byte[0]);
}

std::optional<std::string> PtyPeer::readUntil(std::string_view marker, std::chrono::milliseconds timeout)
{
    std::string bytes;
    const auto deadline = Clock::now() + timeout;
    while (!bytes.ends_with(marker)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        const std::string byte = read(1, left);
        if (byte.empty())
            return std::nullopt;
        bytes += byte;
    }
    return bytes;
}

std::string PtyPeer::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
{
    std::string bytes;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        const std::string more = read(4096, quiet);
        if (more.empty())
            break;
        bytes += more;
    }
    return bytes;
}

void PtyPeer::hangUp()
{
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

ScriptedPeer::ScriptedPeer(PtyPeer& peer, std::function<void(PtyPeer&)> script)
    : thread_([&peer, script = std::move(script)] { script(peer); })
{
}

ScriptedPeer::~ScriptedPeer()
{
    join();
}

void ScriptedPeer::join()
{
    if (thread_.joinable())
        thread_.join();
}

Watchdog::Watchdog(std::atomic<bool>& cancelRequest, std::chrono::milliseconds limit)
    : thread_([this, &cancelRequest, limit] {
          std::unique_lock lock(mutex_);
          if (!wake_.wait_for(lock, limit, [this] { return done_; })) {
              fired_.store(true);
              cancelRequest.store(true);
          }
      })
{
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

} // namespace updatetool::test
