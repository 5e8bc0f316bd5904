// The POSIX side of SerialPort: termios for the line settings, poll for the
// time-outs. Nothing outside this file sees the file descriptor.
#include "SerialPort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace updatetool {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the events on fd until the deadline; 0 on time-out, else the revents.
// Retries after signals so a time-out is never cut short.
short waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return POLLERR;
    }
}

constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// The system's words for an error met while opening a port, with what a
// technician can do about the common ones.
std::string openErrorText(int error)
{
    std::string text = std::strerror(error);
    if (error == EACCES)
        text += " (is your user in the dialout group?)";
    else if (error == EWOULDBLOCK || error == EBUSY)
        text = "Device or resource busy (another program has the port open)";
    else if (error == ENOTTY)
        text = "Not a serial port";
    return text;
}

#ifdef __linux__
// What a USB serial driver shows of its latency timer, or "" where it shows none.
std::string latencyTimerOf(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(path, error);
    if (error)
        return {};
    std::ifstream timer("/sys/class/tty/" + device.filename().string() + "/device/latency_timer");
    std::string value;
    if (!(timer >> value))
        return {};
    return value;
}
#endif

} // namespace

struct SerialPort::Impl {
    int fd = -1;
    unsigned constantMs = 100;
    bool lost = false;
    // Bytes already taken from the driver but not yet handed out: the protocol reads
    // one byte at a time, and one system call per byte would cap the line rate.
    std::array<std::uint8_t, 4096> input{};
    std::size_t inputStart = 0;
    std::size_t inputEnd = 0;
#ifdef __linux__
    // The driver's flags as they were before we asked for low latency, put back on close.
    std::optional<int> serialFlagsBefore;
#endif

    // Why the line was lost, kept for the job's result line.
    std::string lostReason;

    // An error that means the device is gone for good rather than busy for a moment.
    void noteError(int error)
    {
        if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF) {
            lost = true;
            lostReason = std::strerror(error);
        }
    }
    void noteHangUp()
    {
        lost = true;
        lostReason = "the line was hung up (adapter unplugged?)";
    }
};

SerialPort::SerialPort(const std::atomic<bool>* cancelRequest)
    : impl_(std::make_unique<Impl>()), cancelRequest_(cancelRequest)
{
}

SerialPort::~SerialPort()
{
    close();
}

std::vector<std::string> SerialPort::availableDevices()
{
    std::vector<std::string> devices;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/serial/by-id", error))
        devices.push_back(entry.path().string());
    if (devices.empty()) {
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("ttyUSB") || name.starts_with("ttyACM"))
                devices.push_back(entry.path().string());
        }
    }
    std::sort(devices.begin(), devices.end());
    return devices;
}

namespace {

// A USB serial adapter holds short answers back for its latency timer (16 ms on
// the common chips), and the XMODEM sender waits that long for every packet's
// ACK. Asking for low latency makes such drivers pass bytes on at once. A port
// that is no serial driver (a pseudo-terminal) or that refuses is no error;
// the trace says what came of it.
std::string requestLowLatency(SerialPort::Impl& impl, const std::string& path)
{
#ifdef __linux__
    serial_struct serial{};
    std::string report;
    if (::ioctl(impl.fd, TIOCGSERIAL, &serial) != 0) {
        report = std::string("low latency: not asked, no serial driver (") + std::strerror(errno) + ")";
    } else if ((serial.flags & ASYNC_LOW_LATENCY) != 0) {
        report = "low latency: already on";
    } else {
        const int before = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(impl.fd, TIOCSSERIAL, &serial) != 0) {
            report = std::string("low latency: refused (") + std::strerror(errno) + ")";
        } else {
            impl.serialFlagsBefore = before;
            serial_struct now{};
            const bool kept = ::ioctl(impl.fd, TIOCGSERIAL, &now) == 0 && (now.flags & ASYNC_LOW_LATENCY) != 0;
            report = kept ? "low latency: granted" : "low latency: accepted but not kept by the driver";
        }
    }
    if (const std::string timer = latencyTimerOf(path); !timer.empty())
        report += ", latency_timer " + timer + " ms";
    return report;
#else
    (void)impl;
    (void)path;
    return "low latency: not available on this system";
#endif
}

} // namespace

bool SerialPort::open(std::string_view name)
{
    close();
    lastError_.clear();
    impl_->lostReason.clear();
    const std::string path = resolvePortName(name);
    // Non-blocking: every wait goes through poll, so time-outs and cancel requests hold.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = openErrorText(errno);
        return false;
    }
    // TIOCEXCL keeps other users out, but not root; the lock keeps out a second job
    // of ours whoever runs it, so two jobs never interleave bytes on one line.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        lastError_ = openErrorText(errno);
        ::close(fd);
        return false;
    }
    impl_->fd = fd;
    impl_->lost = false;
    impl_->inputStart = impl_->inputEnd = 0;
    if (!applyLineSettings(false) || !setTimeouts(100)) {
        lastError_ = "the line settings were refused: " + openErrorText(errno);
        close();
        return false;
    }
    traceNote(requestLowLatency(*impl_, path));
    // Bytes that arrived before this job opened the line answer nobody's question
    // (a stale prompt would pass for the box's answer to our first ESC), so a job
    // starts with an empty input queue, as a freshly opened port does.
    ::tcflush(fd, TCIFLUSH);
    return true;
}

bool SerialPort::applyLineSettings(bool hardwareHandshake)
{
    if (!isOpen())
        return false;
    termios settings{};
    if (::tcgetattr(impl_->fd, &settings) != 0)
        return false;
    // Raw 8N1, binary, no software flow control, no character translation or replacement.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL
                                               | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    if (hardwareHandshake)
        settings.c_cflag |= CRTSCTS;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, B115200) != 0 || ::cfsetospeed(&settings, B115200) != 0)
        return false;
    if (::tcsetattr(impl_->fd, TCSANOW, &settings) != 0)
        return false;
    // DTR and RTS stay raised while the port is open. A pseudo-terminal has no modem
    // lines at all; that is no error.
    int lines = TIOCM_DTR | (hardwareHandshake ? 0 : TIOCM_RTS);
    if (::ioctl(impl_->fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return false;
    return setTimeouts(30);
}

bool SerialPort::setTimeouts(unsigned constantMs)
{
    if (!isOpen())
        return false;
    impl_->constantMs = constantMs;
    return true;
}

bool SerialPort::readByte(std::uint8_t& byte)
{
    if (!isOpen())
        return false;
    if (impl_->inputStart < impl_->inputEnd) {
        byte = impl_->input[impl_->inputStart++];
        return true;
    }
    if (impl_->lost)
        return false;
    // A single byte may take the read total: 1 ms per byte plus the constant.
    const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->constantMs + 1);
    for (;;) {
        const short events = waitFor(impl_->fd, POLLIN, deadline);
        if (events == 0)
            return false;
        if (events & POLLIN) {
            const ssize_t got = ::read(impl_->fd, impl_->input.data(), impl_->input.size());
            if (got > 0) {
                traceReceived(std::span(impl_->input.data(), static_cast<std::size_t>(got)));
                impl_->inputStart = 1;
                impl_->inputEnd = static_cast<std::size_t>(got);
                byte = impl_->input[0];
                return true;
            }
            if (got == 0) {
                // A terminal in raw mode only reads nothing once it has been hung up.
                impl_->noteHangUp();
                return false;
            }
            if (errno != EAGAIN && errno != EINTR) {
                impl_->noteError(errno);
                return false;
            }
        } else if (events & kGoneEvents) {
            impl_->noteHangUp();
            return false;
        }
        if (Clock::now() >= deadline)
            return false;
    }
}

bool SerialPort::writeByte(std::uint8_t byte)
{
    if (!isOpen() || impl_->lost)
        return false;
    // The byte goes out even with a cancel request pending as long as the line takes
    // it: that is how CAN CAN still reaches the box after the user cancelled.
    for (;;) {
        const ssize_t written = ::write(impl_->fd, &byte, 1);
        if (written == 1) {
            traceSent(std::span(&byte, 1));
            return true;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            impl_->noteError(errno);
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->constantMs + 1);
        const short events = waitFor(impl_->fd, POLLOUT, deadline);
        if ((events & kGoneEvents) && !(events & POLLOUT)) {
            impl_->noteHangUp();
            return false;
        }
        if (events == 0 && cancelRequest_ != nullptr && cancelRequest_->load())
            return false;
    }
}

long SerialPort::writeBuffer(std::span<const std::uint8_t> bytes)
{
    if (!isOpen() || impl_->lost)
        return -1;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(impl_->fd, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            traceSent(bytes.subspan(done, static_cast<std::size_t>(written)));
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            impl_->noteError(errno);
            return -1;
        } else {
            // The driver's queue is full: wait until it drains rather than sleeping,
            // so the line never idles; wake up now and then to look at the cancel request.
            const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->constantMs + 1);
            const short events = waitFor(impl_->fd, POLLOUT, deadline);
            if ((events & kGoneEvents) && !(events & POLLOUT)) {
                impl_->lost = true;
                return -1;
            }
        }
        if (done < bytes.size() && cancelRequest_ != nullptr && cancelRequest_->load())
            break;
    }
    return static_cast<long>(done);
}

bool SerialPort::close()
{
    if (!isOpen())
        return true;
    const int fd = impl_->fd;
    // What the box said that no exchange read (the echo of a last command) is
    // still part of the wire's story. A few chunks at most: a device that
    // never stops talking must not keep the port from closing.
    if (trace_ != nullptr && !impl_->lost) {
        std::array<std::uint8_t, 256> unread{};
        constexpr int kUnreadChunks = 16;
        for (ssize_t got, chunk = 0; chunk < kUnreadChunks && (got = ::read(fd, unread.data(), unread.size())) > 0;
             ++chunk) {
            if (chunk == 0)
                traceNote("left unread when the port closed:");
            traceReceived(std::span(unread.data(), static_cast<std::size_t>(got)));
        }
    }
    impl_->fd = -1;
    impl_->inputStart = impl_->inputEnd = 0;
#ifdef __linux__
    // Leave the adapter as we found it for whoever uses it next.
    if (impl_->serialFlagsBefore) {
        serial_struct serial{};
        if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = *impl_->serialFlagsBefore;
            ::ioctl(fd, TIOCSSERIAL, &serial);
        }
        impl_->serialFlagsBefore.reset();
    }
#endif
    // Drop the exclusive mode so the next opener of the device is not refused
    // while someone else still holds it open.
    ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
}

bool SerialPort::isOpen() const
{
    return impl_->fd >= 0;
}

bool SerialPort::lost() const
{
    return impl_->lost;
}

std::string SerialPort::lastError() const
{
    return lastError_.empty() ? impl_->lostReason : lastError_;
}

} // namespace updatetool
