// How the trace reads the bytes of a receive job: when a packet begins, which
// check it carries, what it is told when it goes wrong. The send side is
// checked against boxsim's own record of the wire in the command-line tests.
#include "WireTrace.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace updatetool {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 128 data bytes of 0x11 sum to 0x80.
Bytes checksumPacket(std::uint8_t block, std::uint8_t sum)
{
    Bytes packet(3 + 128 + 1, 0x11);
    packet[0] = 0x01;
    packet[1] = block;
    packet[2] = static_cast<std::uint8_t>(255 - block);
    packet.back() = sum;
    return packet;
}

TEST(WireTrace, ReadsPacketsOnlyOnceAskedAndTellsGoodBadAndCutShort)
{
    const std::string path = (std::filesystem::temp_directory_path() / "wire-trace-test.txt").string();
    {
        WireTrace trace;
        ASSERT_TRUE(trace.open(path, "/dev/ttyUSB3"));
        trace.received(Bytes{0x01, 'A'});   // line noise: nobody asked for packets yet
        trace.sent(Bytes{0x15});            // NAK: checksum mode
        trace.received(checksumPacket(1, 0x80));
        trace.sent(Bytes{0x06});
        trace.received(checksumPacket(2, 0x81));
        trace.sent(Bytes{0x15});
        const Bytes repeat = checksumPacket(2, 0x80);
        trace.received(std::span(repeat).first(50));
        trace.sent(Bytes{0x18, 0x18});
        trace.note("low latency: granted");
    }
    // Without the time column and the answer's delay, which depend on the machine.
    std::vector<std::string> lines;
    std::istringstream text([&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }());
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("#"))
            continue;
        line = std::regex_replace(line.substr(line.find_first_not_of(' ')), std::regex("^[0-9]+  "), "");
        lines.push_back(std::regex_replace(line, std::regex("after [0-9]+ ms"), "after - ms"));
    }
    std::filesystem::remove(path);

    const std::vector<std::string> expected{
        "<-  01 41                                           | <SOH>A",
        "->  15                                              | <NAK>",
        "<-  SOH block 1, 128 bytes, sum 80 good; answer ACK (06) after - ms",
        "<-  SOH block 2, 128 bytes, sum 81 BAD; answer NAK (15) after - ms",
        "<-  SOH block 2, incomplete: 50 of 132 bytes",
        "->  18 18                                           | <CAN><CAN>",
        "##  low latency: granted",
    };
    EXPECT_EQ(lines, expected);
}

} // namespace
} // namespace updatetool
