#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace boxsim {

enum class Role { Monitor, Upload };

// Everything the command line can set. Zero in a fault option means "off".
struct BoxOptions {
    Role role = Role::Monitor;
    std::string linkPath;
    std::string savePath;
    std::string logPath;
    std::string wireLogPath;
    std::string uploadFile;
    unsigned sessions = 0;            // 0: serve until killed
    bool checksumMode = false;        // monitor answers QV_UPDATE with NAK instead of 'C'
    bool upload1k = true;             // upload role: 1K packets when the receiver asks with 'C'
    std::optional<std::uint32_t> typedSize;  // upload role: size typed instead of the file's
    bool refuse = false;
    bool abort = false;
    bool silent = false;
    bool wrongBaud = false;           // answer the attention byte with bytes that are no prompt
    unsigned corruptEvery = 0;
    unsigned dropAck = 0;
    unsigned hangupAfter = 0;
    unsigned baud = 0;                // 0: unthrottled
    unsigned turnaroundMs = 0;        // hold every answer this long, as a USB adapter's latency timer does
    unsigned identLines = 2;
    unsigned eraseMs = 0;
    unsigned packetTimeoutMs = 1000;
};

enum class ParseResult { Run, Help, Error };

// Fills options from argv (without the program name). On Error, error says why.
ParseResult parseOptions(std::span<char* const> args, BoxOptions& options, std::string& error);
void printHelp();

} // namespace boxsim
