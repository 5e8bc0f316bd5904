#include "SerialPort.h"

#include <cstdlib>

#include "WireTrace.h"

namespace updatetool {

// Platform-independent parts of SerialPort: how a port name becomes a device.

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
