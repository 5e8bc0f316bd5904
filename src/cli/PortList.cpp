#include "PortList.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace updatetool::cli {

namespace {

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower(x) == lower(y);
           });
}

std::vector<std::string_view> splitColons(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos)
            return parts;
        start = colon + 1;
    }
}

// The name without its trailing digits, and their value.
std::pair<std::string_view, unsigned long> nameAndNumber(std::string_view device)
{
    std::size_t digits = device.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(device[digits - 1])) != 0)
        --digits;
    unsigned long number = 0;
    for (std::size_t i = digits; i < device.size() && i < digits + 9; ++i)
        number = number * 10 + static_cast<unsigned long>(device[i] - '0');
    return {device.substr(0, digits), number};
}

// "0403", "403" and "0x0403" are one id.
bool sameHexId(std::string_view a, std::string_view b)
{
    auto value = [](std::string_view text) -> long {
        if (text.starts_with("0x") || text.starts_with("0X"))
            text.remove_prefix(2);
        if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
            return -1;
        return std::stol(std::string(text), nullptr, 16);
    };
    const long left = value(a);
    return left >= 0 && left == value(b);
}

} // namespace

void sortByDevice(std::vector<PortInfo>& ports)
{
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return nameAndNumber(a.device) < nameAndNumber(b.device);
    });
}

std::string describePort(const PortInfo& port)
{
    std::string line = port.device;
    if (!port.vendorId.empty()) {
        line += "  usb:" + port.vendorId + ":" + port.productId;
        if (!port.serial.empty())
            line += ":" + port.serial;
    }
    if (!port.product.empty())
        line += "  \"" + port.product + "\"";
    if (!port.driver.empty())
        line += "  " + port.driver;
    if (!port.byId.empty())
        line += "  " + port.byId;
    return line;
}

bool isUsbMatch(std::string_view name)
{
    return name.size() > 4 && sameIgnoringCase(name.substr(0, 4), "usb:");
}

std::vector<std::string> devicesWithUsbId(const std::vector<PortInfo>& ports, std::string_view match)
{
    const std::vector<std::string_view> parts = splitColons(match.substr(4));
    std::vector<std::string> devices;
    if (parts.size() < 2)
        return devices;
    // The serial number may itself hold colons.
    const std::string_view serial =
        parts.size() > 2 ? match.substr(4 + parts[0].size() + 1 + parts[1].size() + 1) : std::string_view();
    for (const PortInfo& port : ports) {
        if (port.vendorId.empty() || !sameHexId(port.vendorId, parts[0]) || !sameHexId(port.productId, parts[1]))
            continue;
        if (!serial.empty() && port.serial != serial)
            continue;
        devices.push_back(port.device);
    }
    return devices;
}

bool matchesPattern(std::string_view pattern, std::string_view name)
{
    // Iterative wildcard match: on a mismatch after a '*', let the star take one more character.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace updatetool::cli
