// The Windows side of the port list: SetupAPI knows every present port with its
// friendly name, hardware id and driver service; the registry's SERIALCOMM adds
// ports that no device installer made (Wine's, a virtual port driver's).
#include "PortList.h"

#include <algorithm>
#include <cctype>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

namespace updatetool::cli {

namespace {

std::string registryProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property)
{
    char buffer[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - 1, nullptr))
        return {};
    return buffer;   // a multi-string's first entry, which is the most specific id
}

std::string portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    char name[256] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool read = ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                      ERROR_SUCCESS && type == REG_SZ;
    ::RegCloseKey(key);
    return read ? std::string(name) : std::string();
}

// "USB\VID_0403&PID_6001\A12345" or "USB\VID_0403&PID_6001&REV_0600": the ids in lower case.
void addUsbIds(const std::string& hardwareId, const std::string& instanceId, PortInfo& port)
{
    auto hexAfter = [&](const std::string& text, const char* tag) {
        const std::size_t at = text.find(tag);
        if (at == std::string::npos || at + 8 > text.size())
            return std::string();
        std::string id = text.substr(at + 4, 4);
        for (char& c : id)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return id;
    };
    port.vendorId = hexAfter(hardwareId, "VID_");
    port.productId = hexAfter(hardwareId, "PID_");
    if (port.vendorId.empty() || port.productId.empty()) {
        port.vendorId.clear();
        port.productId.clear();
        return;
    }
    // The instance id's last part is the serial number when the adapter has one;
    // Windows makes up one with '&' in it when it has none.
    const std::size_t slash = instanceId.rfind('\\');
    if (slash != std::string::npos && instanceId.find('&', slash) == std::string::npos)
        port.serial = instanceId.substr(slash + 1);
}

void addSetupApiPorts(std::vector<PortInfo>& ports)
{
    const HDEVINFO devices = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        PortInfo port;
        port.device = portNameOf(devices, device);
        // The class also holds printer ports (LPT1).
        if (!port.device.starts_with("COM"))
            continue;
        port.product = registryProperty(devices, device, SPDRP_FRIENDLYNAME);
        port.driver = registryProperty(devices, device, SPDRP_SERVICE);
        char instanceId[512] = {};
        ::SetupDiGetDeviceInstanceIdA(devices, &device, instanceId, sizeof instanceId - 1, nullptr);
        addUsbIds(registryProperty(devices, device, SPDRP_HARDWAREID), instanceId, port);
        ports.push_back(port);
    }
    ::SetupDiDestroyDeviceInfoList(devices);
}

void addSerialCommPorts(std::vector<PortInfo>& ports)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char valueName[256] = {};
        char data[256] = {};
        DWORD nameSize = sizeof valueName - 1;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        if (::RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize) != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        const std::string device = data;
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const PortInfo& p) { return p.device == device; });
        if (!known) {
            PortInfo port;
            port.device = device;
            port.driver = valueName;   // the kernel device behind it, such as \Device\Serial0
            ports.push_back(port);
        }
    }
    ::RegCloseKey(key);
}

} // namespace

std::vector<PortInfo> listSerialPorts(const PortRoots&)
{
    std::vector<PortInfo> ports;
    addSetupApiPorts(ports);
    addSerialCommPorts(ports);
    sortByDevice(ports);
    return ports;
}

} // namespace updatetool::cli
