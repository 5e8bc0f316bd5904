#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace updatetool::cli {

// One serial port present on this machine, with what the system knows about it.
struct PortInfo {
    std::string device;        // "/dev/ttyUSB0", "COM3"
    std::string byId;          // "/dev/serial/by-id/usb-FTDI_..." where udev made one
    std::string vendorId;      // USB ids in lower-case hexadecimal, "0403"; empty when not USB
    std::string productId;
    std::string serial;        // the USB serial number, where the adapter has one
    std::string product;       // "FT232R USB UART", or on Windows the port's friendly name
    std::string driver;        // "ftdi_sio", "cdc_acm", "serial8250", on Windows the service
};

// Where the listing looks: a test points these at a tree of its own.
struct PortRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

// Every serial port present, sorted by device (COM2 before COM10). On Linux from
// sysfs (legacy ttyS ports without a UART behind them are left out) and udev's
// by-id links; on Windows from SetupAPI and the registry's SERIALCOMM, where the
// roots mean nothing.
std::vector<PortInfo> listSerialPorts(const PortRoots& roots = {});

// Sorts by device name, numbers by their value: COM2 before COM10, ttyUSB2 before ttyUSB10.
void sortByDevice(std::vector<PortInfo>& ports);

// One line for the port list: the device, then "usb:VID:PID[:SERIAL]" (the
// --port match that names it), the product in quotes, the driver and the by-id
// name, each where known.
std::string describePort(const PortInfo& port);

// "usb:VID:PID[:SERIAL]" rather than a port name.
bool isUsbMatch(std::string_view name);
// The devices of the ports whose USB ids (and serial number, when the match has
// one) are the match's, ignoring case.
std::vector<std::string> devicesWithUsbId(const std::vector<PortInfo>& ports, std::string_view match);

// A shell-style pattern ('*', '?') against a name, ignoring case as Windows
// names do: "com*" matches "COM12".
bool matchesPattern(std::string_view pattern, std::string_view name);

} // namespace updatetool::cli
