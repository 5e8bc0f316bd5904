#include "SerialPort.h"

#include <cstdlib>

#include "WireTrace.h"

namespace updatetool {

// How a port name becomes a device: the one part of SerialPort above the platform layer.

#ifdef _WIN32

std::string SerialPort::resolvePortName(std::string_view name)
{
    // Windows names its ports itself. UPDATETOOL_COM1..4 may still send one of the
    // first four elsewhere (to COM12, say), as on Linux.
    std::string device(name);
    if (name.size() == 4 && name.substr(0, 3) == "COM" && name[3] >= '1' && name[3] <= '4') {
        const std::string variable = "UPDATETOOL_" + std::string(name);
        if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0')
            device = mapped;
    }
    // The device namespace reaches every port: plain "COM10" and above only open
    // through it.
    if (device.starts_with("\\\\"))
        return device;
    return "\\\\.\\" + device;
}

bool SerialPort::namesDevice(std::string_view name)
{
    if (name.starts_with("\\\\"))
        return true;
    // COM5 and above are ports of their own here, not only through UPDATETOOL_COMn.
    if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com"))
        return false;
    const std::string_view number = name.substr(3);
    if (number[0] == '0' || number.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return number.size() > 1 || number[0] > '4';
}

#else

std::string SerialPort::resolvePortName(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return std::string(name);
    if (name.size() == 4 && name.substr(0, 3) == "COM" && name[3] >= '1' && name[3] <= '4') {
        const std::string variable = "UPDATETOOL_" + std::string(name);
        if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0')
            return device;
        return "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1));
    }
    // A bare device name such as "ttyUSB0".
    return "/dev/" + std::string(name);
}

bool SerialPort::namesDevice(std::string_view name)
{
    return name.find('/') != std::string_view::npos;
}

#endif

std::string SerialPort::portNameForIndex(int index)
{
    if (index < 0 || index > 8)
        return "COM" + std::to_string(index + 1);
    std::string name = "COM0";
    name[3] = static_cast<char>('1' + index);
    return name;
}

void SerialPort::traceReceived(std::span<const std::uint8_t> bytes)
{
    if (trace_ != nullptr)
        trace_->received(bytes);
}

void SerialPort::traceSent(std::span<const std::uint8_t> bytes)
{
    if (trace_ != nullptr)
        trace_->sent(bytes);
}

void SerialPort::traceNote(std::string_view text)
{
    if (trace_ != nullptr)
        trace_->note(text);
}

} // namespace updatetool
