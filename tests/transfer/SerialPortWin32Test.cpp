// How Windows port names reach the device; the port itself is tested against
// boxsim under Wine (tests/wine).
#include "SerialPort.h"

#include <cstdlib>

#include <gtest/gtest.h>

using updatetool::SerialPort;

TEST(SerialPortWin32, PortNamesGoThroughTheDeviceNamespace)
{
    const struct {
        const char* name;
        const char* device;
        bool ownDevice;
    } cases[] = {
        {"COM1", "\\\\.\\COM1", false},
        {"COM4", "\\\\.\\COM4", false},
        {"COM5", "\\\\.\\COM5", true},
        {"COM12", "\\\\.\\COM12", true},
        {"com10", "\\\\.\\com10", true},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0", true},
        {"COM0", "\\\\.\\COM0", false},
        {"COMX", "\\\\.\\COMX", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SerialPort::resolvePortName(c.name), c.device) << c.name;
        EXPECT_EQ(SerialPort::namesDevice(c.name), c.ownDevice) << c.name;
    }
}

TEST(SerialPortWin32, EnvironmentStillMapsTheFirstFour)
{
    ::_putenv("UPDATETOOL_COM2=COM12");
    EXPECT_EQ(SerialPort::resolvePortName("COM2"), "\\\\.\\COM12");
    ::_putenv("UPDATETOOL_COM2=");
    EXPECT_EQ(SerialPort::resolvePortName("COM2"), "\\\\.\\COM2");
}

TEST(SerialPortWin32, MissingPortDoesNotOpen)
{
    SerialPort port;
    EXPECT_FALSE(port.open("COM250"));
    EXPECT_FALSE(port.isOpen());
}
