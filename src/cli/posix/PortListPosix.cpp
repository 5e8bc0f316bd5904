// The Linux side of the port list: sysfs says which terminals have hardware
// behind them and what it is; udev's by-id links give the stable names.
#include "PortList.h"

#include <fstream>
#include <system_error>

namespace updatetool::cli {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, or "" when there is none.
std::string attribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The driver that serves the device: newer kernels put a generic "port" layer
// (bus serial-base) between a tty and the driver that knows the hardware, so
// that layer is looked through.
std::string driverOf(const fs::path& deviceDir)
{
    std::error_code error;
    fs::path folder = fs::canonical(deviceDir, error);
    if (error)
        return {};
    for (int depth = 0; depth < 4 && folder.has_relative_path(); ++depth, folder = folder.parent_path()) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(folder / "driver", linkError);
        if (linkError)
            continue;
        if (target.parent_path().parent_path().filename() != "serial-base")
            return target.filename().string();
    }
    return {};
}

// A legacy 8250 port that nothing is wired to still has its ttyS node; its
// "type" of 0 says there is no UART behind it.
bool isRealPort(const fs::path& ttyClass, const std::string& driver)
{
    if (driver != "serial8250" && driver != "serial")
        return true;
    const std::string type = attribute(ttyClass / "type");
    return !type.empty() && type != "0";
}

// The USB device a tty belongs to: the nearest folder above its interface that
// has idVendor.
void addUsbDetails(const fs::path& deviceDir, PortInfo& port)
{
    std::error_code error;
    fs::path folder = fs::canonical(deviceDir, error);
    if (error)
        return;
    for (int depth = 0; depth < 4 && folder.has_relative_path(); ++depth, folder = folder.parent_path()) {
        if (!fs::exists(folder / "idVendor", error))
            continue;
        port.vendorId = attribute(folder / "idVendor");
        port.productId = attribute(folder / "idProduct");
        port.serial = attribute(folder / "serial");
        port.product = attribute(folder / "product");
        return;
    }
}

} // namespace

std::vector<PortInfo> listSerialPorts(const PortRoots& roots)
{
    std::vector<PortInfo> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(roots.sys / "class" / "tty", error)) {
        const fs::path ttyClass = entry.path();
        const fs::path deviceDir = ttyClass / "device";
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!fs::exists(deviceDir, error))
            continue;
        const std::string name = ttyClass.filename().string();
        PortInfo port;
        port.device = (roots.dev / name).string();
        port.driver = driverOf(deviceDir);
        if (!isRealPort(ttyClass, port.driver))
            continue;
        addUsbDetails(deviceDir, port);
        ports.push_back(port);
    }
    // udev's stable names, matched to their devices by what they link to.
    for (const fs::directory_entry& link : fs::directory_iterator(roots.dev / "serial" / "by-id", error)) {
        std::error_code linkError;
        const fs::path target = fs::canonical(link.path(), linkError);
        if (linkError)
            continue;
        for (PortInfo& port : ports) {
            if (fs::path(port.device).filename() == target.filename() && port.byId.empty())
                port.byId = link.path().string();
        }
    }
    sortByDevice(ports);
    return ports;
}

} // namespace updatetool::cli
