// The Windows side of SerialPort: a device control block for the line settings and
// the driver's own time-outs for the reads and writes. Nothing outside this file
// sees the handle.
#include "SerialPort.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "WindowsText.h"

namespace updatetool {

namespace {

// The receive queue holds a whole 1K packet with room to spare, so a worker that is
// busy for a moment never makes the driver drop bytes; the transmit queue takes
// one packet.
constexpr DWORD kReceiveQueue = 4096;
constexpr DWORD kTransmitQueue = 1200;

// A serial driver refuses a second opener by itself, but not every layer that
// stands in for one does (Wine lets two programs open a port). A named object per
// port keeps a second job of ours off the line there too.
HANDLE claimPort(const std::string& device)
{
    std::string name = "Global\\UpdateTool.port.";
    for (const char c : device)
        name += (c == '\\') ? '.' : static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const HANDLE claim = ::CreateMutexA(nullptr, FALSE, name.c_str());
    if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

// The system's words for an error code, with a hint where the port is the likely cause.
std::string systemErrorText(DWORD error)
{
    std::string text = systemMessage(error);
    // A serial driver refuses a second opener with "Access is denied".
    if (error == ERROR_ACCESS_DENIED)
        text += " (is another program using the port?)";
    return text;
}

} // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;
    bool lost = false;
    // Why the line was lost, kept for the job's result line.
    std::string lostReason;
    // Bytes already taken from the driver but not yet handed out, as on Linux: the
    // protocol reads one byte at a time.
    std::array<std::uint8_t, 4096> input{};
    std::size_t inputStart = 0;
    std::size_t inputEnd = 0;

    void noteLost(DWORD error)
    {
        lost = true;
        lostReason = systemErrorText(error);
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
    // Every DOS device name the system knows; the serial ports are the COMn among them.
    std::vector<char> names(65536);
    const DWORD length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    std::vector<std::string> devices;
    for (DWORD at = 0; at < length && names[at] != '\0';) {
        const std::string name(names.data() + at);
        at += static_cast<DWORD>(name.size()) + 1;
        if (name.size() > 3 && name.starts_with("COM") &&
            std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            devices.push_back(name);
    }
    // COM2 before COM10.
    std::sort(devices.begin(), devices.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return devices;
}

bool SerialPort::open(std::string_view name)
{
    close();
    const std::string path = resolvePortName(name);
    // No sharing: a second job on the same port is refused here, so two jobs never
    // interleave bytes on one line.
    lastError_.clear();
    impl_->lostReason.clear();
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        lastError_ = systemErrorText(::GetLastError());
        return false;
    }
    const HANDLE claim = claimPort(path);
    if (claim == nullptr) {
        lastError_ = "another job of this program has the port open";
        ::CloseHandle(handle);
        return false;
    }
    impl_->handle = handle;
    impl_->claim = claim;
    impl_->lost = false;
    impl_->inputStart = impl_->inputEnd = 0;
    if (!applyLineSettings(false) || !setTimeouts(100)) {
        lastError_ = "the line settings were refused: " + systemErrorText(::GetLastError());
        close();
        return false;
    }
    // Bytes that arrived before this job opened the line answer nobody's question.
    ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT);
    return true;
}

bool SerialPort::applyLineSettings(bool hardwareHandshake)
{
    if (!isOpen())
        return false;
    // On top of the port's current settings: the fields not set here stay as they were.
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!::GetCommState(impl_->handle, &settings))
        return false;
    settings.BaudRate = CBR_115200;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = hardwareHandshake ? TRUE : FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fTXContinueOnXoff = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fRtsControl = hardwareHandshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    // A framing error must not stall every later read until someone clears it.
    settings.fAbortOnError = FALSE;
    if (!::SetCommState(impl_->handle, &settings))
        return false;
    if (!::SetupComm(impl_->handle, kReceiveQueue, kTransmitQueue))
        return false;
    return setTimeouts(30);
}

bool SerialPort::setTimeouts(unsigned constantMs)
{
    if (!isOpen())
        return false;
    COMMTIMEOUTS timeouts{};
    // A single-byte read gives up after 1 ms per byte plus the constant.
    timeouts.ReadIntervalTimeout = 10;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = constantMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = constantMs;
    return ::SetCommTimeouts(impl_->handle, &timeouts) != 0;
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
    // One byte, so the read returns the moment it arrives or after the time-out;
    // then whatever else the driver already holds, which needs no waiting.
    DWORD got = 0;
    if (!::ReadFile(impl_->handle, impl_->input.data(), 1, &got, nullptr)) {
        // A time-out is a successful read of nothing; a failed one means the device
        // is gone (a USB adapter pulled out, the line hung up).
        impl_->noteLost(::GetLastError());
        return false;
    }
    COMSTAT status{};
    DWORD errors = 0;
    if (got == 0) {
        // A line that hung up can still time out like a silent one; the driver's
        // status cannot be read from it any more.
        if (!::ClearCommError(impl_->handle, &errors, &status))
            impl_->noteLost(::GetLastError());
        return false;
    }
    impl_->inputStart = 0;
    impl_->inputEnd = 1;
    if (::ClearCommError(impl_->handle, &errors, &status) && status.cbInQue > 0) {
        const DWORD waiting = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(impl_->input.size() - 1));
        DWORD more = 0;
        if (::ReadFile(impl_->handle, impl_->input.data() + 1, waiting, &more, nullptr))
            impl_->inputEnd += more;
    }
    traceReceived(std::span(impl_->input.data(), impl_->inputEnd));
    byte = impl_->input[impl_->inputStart++];
    return true;
}

bool SerialPort::writeByte(std::uint8_t byte)
{
    if (!isOpen() || impl_->lost)
        return false;
    // The byte goes out even with a cancel request pending as long as the line takes
    // it: that is how CAN CAN still reaches the box after the user cancelled.
    for (;;) {
        DWORD written = 0;
        if (!::WriteFile(impl_->handle, &byte, 1, &written, nullptr)) {
            impl_->noteLost(::GetLastError());
            return false;
        }
        if (written == 1) {
            traceSent(std::span(&byte, 1));
            return true;
        }
        if (cancelRequest_ != nullptr && cancelRequest_->load())
            return false;
    }
}

long SerialPort::writeBuffer(std::span<const std::uint8_t> bytes)
{
    if (!isOpen() || impl_->lost)
        return -1;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(impl_->handle, bytes.data() + done, chunk, &written, nullptr)) {
            impl_->noteLost(::GetLastError());
            return -1;
        }
        // Fewer bytes than asked is the write time-out: go on from where it stopped.
        traceSent(bytes.subspan(done, written));
        done += written;
        if (done < bytes.size() && cancelRequest_ != nullptr && cancelRequest_->load())
            break;
    }
    return static_cast<long>(done);
}

bool SerialPort::close()
{
    if (!isOpen())
        return true;
    const HANDLE handle = impl_->handle;
    impl_->handle = INVALID_HANDLE_VALUE;
    impl_->inputStart = impl_->inputEnd = 0;
    const bool closed = ::CloseHandle(handle) != 0;
    ::CloseHandle(std::exchange(impl_->claim, nullptr));
    return closed;
}

bool SerialPort::isOpen() const
{
    return impl_->handle != INVALID_HANDLE_VALUE;
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
