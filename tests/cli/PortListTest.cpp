// The port list and the names that pick ports from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "PortList.h"

using namespace updatetool::cli;
namespace fs = std::filesystem;

namespace {

PortInfo usbPort(std::string device, std::string vendor, std::string product, std::string serial)
{
    PortInfo port;
    port.device = std::move(device);
    port.vendorId = std::move(vendor);
    port.productId = std::move(product);
    port.serial = std::move(serial);
    return port;
}

TEST(PortList, UsbIdsAndPatternsPickTheirPorts)
{
    const std::vector<PortInfo> ports = {
        usbPort("/dev/ttyUSB0", "0403", "6001", "A10K"),
        usbPort("/dev/ttyUSB1", "0403", "6001", "B20Q"),
        usbPort("/dev/ttyACM0", "2341", "0043", ""),
        usbPort("/dev/ttyS0", "", "", ""),
    };
    struct Case {
        const char* match;
        std::vector<std::string> devices;
    };
    const Case cases[] = {
        {"usb:0403:6001", {"/dev/ttyUSB0", "/dev/ttyUSB1"}},
        {"USB:0403:6001:B20Q", {"/dev/ttyUSB1"}},
        {"usb:403:6001:A10K", {"/dev/ttyUSB0"}},
        {"usb:2341:43", {"/dev/ttyACM0"}},
        {"usb:0403:6001:a10k", {}},   // serial numbers are told apart by case
        {"usb:0403", {}},
        {"usb:zz:6001", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(devicesWithUsbId(ports, c.match), c.devices) << c.match;
    EXPECT_TRUE(isUsbMatch("usb:0403:6001"));
    EXPECT_FALSE(isUsbMatch("/dev/usb:0"));

    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } patterns[] = {
        {"COM*", "COM12", true}, {"com*", "COM3", true}, {"COM?", "COM12", false},
        {"COM1*", "COM1", true}, {"*3", "COM13", true}, {"COM*", "LPT1", false},
    };
    for (const auto& p : patterns)
        EXPECT_EQ(matchesPattern(p.pattern, p.name), p.matches) << p.pattern << " " << p.name;

    std::vector<PortInfo> unsorted = {usbPort("COM10", "", "", ""), usbPort("COM2", "", "", ""),
                                      usbPort("COM1", "", "", "")};
    sortByDevice(unsorted);
    EXPECT_EQ(unsorted[0].device + unsorted[1].device + unsorted[2].device, "COM1COM2COM10");
}

#ifndef _WIN32
// A sysfs and /dev as Linux lays them out for an FTDI adapter, an Arduino, a
// 16550 UART and a legacy ttyS node with nothing behind it.
class FakeSystem {
public:
    FakeSystem() : root_(fs::temp_directory_path() / ("portlist-" + std::to_string(std::random_device()())))
    {
        const fs::path usb = "devices/pci0000:00/usb1";
        file(sys() / usb / "1-1/idVendor", "0403");
        file(sys() / usb / "1-1/idProduct", "6001");
        file(sys() / usb / "1-1/serial", "A10K");
        file(sys() / usb / "1-1/product", "FT232R USB UART");
        link(sys() / usb / "1-1/1-1:1.0/ttyUSB0/driver", "../../../../../../bus/usb-serial/drivers/ftdi_sio");
        link(sys() / "class/tty/ttyUSB0/device", "../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
        file(sys() / usb / "1-2/idVendor", "2341");
        file(sys() / usb / "1-2/idProduct", "0043");
        file(sys() / usb / "1-2/product", "Arduino Uno");
        link(sys() / usb / "1-2/1-2:1.0/driver", "../../../../../bus/usb/drivers/cdc_acm");
        link(sys() / "class/tty/ttyACM0/device", "../../../devices/pci0000:00/usb1/1-2/1-2:1.0");
        for (const char* tty : {"ttyS0", "ttyS1"}) {
            const std::string pnp = std::string("devices/pnp0/") + (tty[4] == '0' ? "00:01" : "00:02");
            link(sys() / pnp / "driver", "../../../bus/pnp/drivers/serial");
            link(sys() / pnp / "ctrl/driver", "../../../../bus/serial-base/drivers/ctrl");
            link(sys() / pnp / "ctrl/port/driver", "../../../../../bus/serial-base/drivers/port");
            link(sys() / "class/tty" / tty / "device", "../../../" + pnp + "/ctrl/port");
            file(sys() / "class/tty" / tty / "type", tty[4] == '0' ? "4" : "0");
        }
        fs::create_directories(sys() / "class/tty/tty0");
        for (const char* node : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "tty0"})
            file(dev() / node, "");
        link(dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "../../ttyUSB0");
    }
    ~FakeSystem() { fs::remove_all(root_); }

    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }

private:
    static void file(const fs::path& path, const std::string& text)
    {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text << (text.empty() ? "" : "\n");
    }
    static void link(const fs::path& path, const std::string& target)
    {
        fs::create_directories(path.parent_path());
        fs::create_directory_symlink(target, path);
    }

    fs::path root_;
};

TEST(PortList, ListsEveryPortWithWhatTheSystemKnowsOfIt)
{
    const FakeSystem system;
    const std::vector<PortInfo> ports = listSerialPorts({system.sys(), system.dev()});
    std::vector<std::string> lines;
    for (const PortInfo& port : ports)
        lines.push_back(describePort(port));
    const std::string dev = system.dev().string();
    const std::vector<std::string> expected = {
        dev + "/ttyACM0  usb:2341:0043  \"Arduino Uno\"  cdc_acm",
        dev + "/ttyS0  serial",
        dev + "/ttyUSB0  usb:0403:6001:A10K  \"FT232R USB UART\"  ftdi_sio  " + dev +
            "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(devicesWithUsbId(ports, "usb:0403:6001"), std::vector<std::string>{dev + "/ttyUSB0"});
}
#endif

} // namespace
