#include "PtyLink.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace boxsim {

namespace {

std::int64_t nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Sleeps until an absolute time of the monotonic clock, so pacing errors do not add up.
void sleepUntilNs(std::int64_t when)
{
    timespec at{};
    at.tv_sec = static_cast<time_t>(when / 1'000'000'000);
    at.tv_nsec = static_cast<long>(when % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

bool makeRaw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

PtyLink::~PtyLink()
{
    deliverHeld(true);
    hangUp();
}

bool PtyLink::logWireTo(const std::string& path)
{
    wireLog_.reset(std::fopen(path.c_str(), "w"));
    return wireLog_ != nullptr;
}

void PtyLink::logWire(const char* who, std::span<const std::uint8_t> bytes)
{
    if (!wireLog_ || bytes.empty())
        return;
    std::fputs(who, wireLog_.get());
    for (const std::uint8_t byte : bytes)
        std::fprintf(wireLog_.get(), " %02X", byte);
    std::fputc('\n', wireLog_.get());
    std::fflush(wireLog_.get());
}

bool PtyLink::open(unsigned baud, unsigned turnaroundMs, std::string& error)
{
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd_ < 0 || grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(masterFd_);
    if (name == nullptr) {
        error = "ptsname failed";
        return false;
    }
    slavePath_ = name;
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0 || !makeRaw(slaveFd_) || !makeRaw(masterFd_)) {
        error = std::string("cannot set up ") + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
    fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    if (baud > 0)
        byteNs_ = std::int64_t{10} * 1'000'000'000 / baud;   // start + 8 data + stop bits
    turnaroundNs_ = std::int64_t{turnaroundMs} * 1'000'000;
    return true;
}

bool PtyLink::fillBuffer(int timeoutMs)
{
    if (masterFd_ < 0)
        return false;
    // Held answers fall due while the box waits for input.
    const std::int64_t deadline = timeoutMs < 0 ? -1 : nowNs() + std::int64_t{timeoutMs} * 1'000'000;
    int ready = 0;
    for (;;) {
        deliverHeld();
        int waitMs = timeoutMs < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(deadline - nowNs(), 0) / 1'000'000);
        if (!held_.empty()) {
            const int dueMs = static_cast<int>(std::max<std::int64_t>(heldDueNs_ - nowNs() + 999'999, 0) / 1'000'000);
            waitMs = waitMs < 0 ? dueMs : std::min(waitMs, dueMs);
        }
        pollfd entry{masterFd_, POLLIN, 0};
        ready = poll(&entry, 1, waitMs);
        if (ready != 0 || held_.empty() || (deadline >= 0 && nowNs() >= deadline))
            break;
    }
    if (ready <= 0)
        return false;
    const ssize_t count = ::read(masterFd_, buffer_.data(), buffer_.size());
    if (count <= 0) {
        // EIO here means no one holds the device any more; our own slave fd
        // prevents that, so treat it as a short pause rather than an end.
        if (count < 0 && errno == EIO)
            usleep(10'000);
        else if (count < 0 && errno != EAGAIN && errno != EINTR)
            hangUp();
        return false;
    }
    bufferStart_ = 0;
    bufferEnd_ = static_cast<std::size_t>(count);
    bufferReadNs_ = nowNs();
    logWire("tool", std::span(buffer_.data(), bufferEnd_));
    return true;
}

std::optional<std::uint8_t> PtyLink::readByte(int timeoutMs)
{
    deliverHeld();
    if (bufferStart_ == bufferEnd_) {
        const std::int64_t deadline = nowNs() + std::int64_t{timeoutMs} * 1'000'000;
        // poll() may wake for nothing (EIO while the tool reopens the device);
        // keep waiting until the time-out is really spent.
        while (!fillBuffer(timeoutMs)) {
            if (masterFd_ < 0)
                return std::nullopt;
            if (timeoutMs >= 0) {
                const std::int64_t left = deadline - nowNs();
                if (left <= 0)
                    return std::nullopt;
                timeoutMs = static_cast<int>((left + 999'999) / 1'000'000);
            }
        }
    }
    const std::uint8_t byte = buffer_[bufferStart_++];
    if (byteNs_ > 0) {
        // A byte is there for the box only once the line has carried all of it.
        rxFreeNs_ = std::max(rxFreeNs_, bufferReadNs_) + byteNs_;
        sleepUntilNs(rxFreeNs_);
    }
    return byte;
}

void PtyLink::discardInput()
{
    bufferStart_ = bufferEnd_ = 0;
    while (fillBuffer(0))
        bufferStart_ = bufferEnd_ = 0;
}

bool PtyLink::writeNow(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        if (masterFd_ < 0)
            return false;
        const ssize_t count = ::write(masterFd_, bytes.data(), bytes.size());
        if (count > 0) {
            logWire("box", bytes.first(static_cast<std::size_t>(count)));
            bytes = bytes.subspan(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // Nobody is reading the device and its queue is full: give up after a while
        // rather than hang the simulated box.
        pollfd entry{masterFd_, POLLOUT, 0};
        if (poll(&entry, 1, 2000) <= 0)
            return false;
    }
    return true;
}

bool PtyLink::write(std::span<const std::uint8_t> bytes)
{
    if (turnaroundNs_ == 0)
        return writePaced(bytes);
    if (masterFd_ < 0)
        return false;
    if (held_.empty())
        heldDueNs_ = nowNs() + turnaroundNs_;
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    return deliverHeld();
}

bool PtyLink::deliverHeld(bool force)
{
    if (held_.empty())
        return true;
    if (!force && nowNs() < heldDueNs_)
        return true;
    if (force)
        sleepUntilNs(heldDueNs_);
    const std::vector<std::uint8_t> due = std::move(held_);
    held_.clear();
    return writePaced(due);
}

bool PtyLink::writePaced(std::span<const std::uint8_t> bytes)
{
    if (byteNs_ == 0)
        return writeNow(bytes);
    // Hand each byte over when the line would have finished carrying it; bytes whose
    // time has come go out together so a long packet costs few system calls.
    txFreeNs_ = std::max(txFreeNs_, nowNs());
    while (!bytes.empty()) {
        txFreeNs_ += byteNs_;
        sleepUntilNs(txFreeNs_);
        std::size_t ready = 1;
        const std::int64_t now = nowNs();
        while (ready < bytes.size() && txFreeNs_ + byteNs_ <= now) {
            txFreeNs_ += byteNs_;
            ++ready;
        }
        if (!writeNow(bytes.first(ready)))
            return false;
        bytes = bytes.subspan(ready);
    }
    return true;
}

bool PtyLink::write(std::string_view text)
{
    return write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

int PtyLink::unreadByTool() const
{
    int count = 0;
    if (slaveFd_ < 0 || ioctl(slaveFd_, FIONREAD, &count) != 0)
        return 0;
    return count;
}

void PtyLink::hangUp()
{
    if (masterFd_ >= 0)
        ::close(masterFd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    masterFd_ = slaveFd_ = -1;
    bufferStart_ = bufferEnd_ = 0;
}

} // namespace boxsim
