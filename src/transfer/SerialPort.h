#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace updatetool {

class WireTrace;

// The engine's one link to the box: a serial line at 115200 8N1, raw, no flow
// control. Single-byte reads give up after the read time-out; writes stop early
// when the job's cancel request is set. Closes itself when destroyed.
// The platform code (posix/, win32/) sits behind the Impl.
class SerialPort {
public:
    explicit SerialPort(const std::atomic<bool>* cancelRequest = nullptr);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // "COM1".."COM4" -> the device named by UPDATETOOL_COM1..4 when set, else
    // /dev/ttyS0..3; a name containing '/' is the device path itself.
    // On Windows any "COMn" (or other device name) -> "\\.\COMn"; a name that
    // starts with "\\" is used as it is.
    static std::string resolvePortName(std::string_view name);
    // The name is a device of its own rather than one of COM1..COM4: a path with a
    // '/'; on Windows also COM5 and above and "\\.\..." names.
    static bool namesDevice(std::string_view name);
    // "COM1" for index 0 .. "COM4" for index 3.
    static std::string portNameForIndex(int index);
    // Serial devices present on this machine, for the port list.
    static std::vector<std::string> availableDevices();

    // Opens exclusively, applies the line settings, sets the time-outs with C = 100.
    // On failure lastError() says why.
    bool open(std::string_view name);
    // Re-applies the line settings and sets the time-outs with C = 30.
    bool applyLineSettings(bool hardwareHandshake = false);
    // Read total = C + 1 ms for a single byte.
    bool setTimeouts(unsigned constantMs);
    bool readByte(std::uint8_t& byte);
    bool writeByte(std::uint8_t byte);
    // Bytes written, fewer when a cancel request stops it, -1 when a write fails.
    long writeBuffer(std::span<const std::uint8_t> bytes);
    bool close();
    bool isOpen() const;
    // The device went away (hang-up, I/O error): no read will ever succeed again.
    bool lost() const;
    // Why the last open failed or the line was lost, in the system's words
    // ("Permission denied (is your user in the dialout group?)"); empty when
    // nothing went wrong.
    std::string lastError() const;
    // Every byte read or written from now on, and what open() learns about the
    // adapter, also go to this trace (null: none). Set it before open().
    void setTrace(WireTrace* trace) { trace_ = trace; }

    struct Impl;
private:
    // The one place the platform code reports the bytes that crossed the line.
    void traceReceived(std::span<const std::uint8_t> bytes);
    void traceSent(std::span<const std::uint8_t> bytes);
    void traceNote(std::string_view text);

    std::unique_ptr<Impl> impl_;
    const std::atomic<bool>* cancelRequest_;
    WireTrace* trace_ = nullptr;
    std::string lastError_;
};

} // namespace updatetool
