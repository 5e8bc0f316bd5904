#include "BoxOptions.h"

#include <charconv>
#include <cstdio>
#include <string_view>

namespace boxsim {

namespace {

bool parseNumber(std::string_view text, unsigned& value, int base = 10)
{
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

ParseResult parseOptions(std::span<char* const> args, BoxOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view name = args[i];
        if (name == "--help" || name == "-h")
            return ParseResult::Help;

        // Flags without a value.
        if (name == "--refuse") { options.refuse = true; continue; }
        if (name == "--abort") { options.abort = true; continue; }
        if (name == "--silent") { options.silent = true; continue; }
        if (name == "--wrong-baud") { options.wrongBaud = true; continue; }

        if (i + 1 >= args.size()) {
            error = std::string(name) + " needs a value (or is unknown)";
            return ParseResult::Error;
        }
        const std::string_view value = args[++i];
        unsigned number = 0;
        const bool numeric = parseNumber(value, number);
        auto needNumber = [&](unsigned& field) {
            if (!numeric) {
                error = std::string(name) + ": not a number: " + std::string(value);
                return false;
            }
            field = number;
            return true;
        };

        if (name == "--role") {
            if (value == "monitor") options.role = Role::Monitor;
            else if (value == "upload") options.role = Role::Upload;
            else { error = "--role: monitor or upload"; return ParseResult::Error; }
        } else if (name == "--mode") {
            if (value == "crc") options.checksumMode = false;
            else if (value == "checksum") options.checksumMode = true;
            else { error = "--mode: crc or checksum"; return ParseResult::Error; }
        } else if (name == "--xmodem") {
            if (value == "1k") options.upload1k = true;
            else if (value == "128") options.upload1k = false;
            else { error = "--xmodem: 1k or 128"; return ParseResult::Error; }
        } else if (name == "--link") {
            options.linkPath = value;
        } else if (name == "--save") {
            options.savePath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--wire-log") {
            options.wireLogPath = value;
        } else if (name == "--file") {
            options.uploadFile = value;
        } else if (name == "--type-size") {
            unsigned size = 0;
            if (!parseNumber(value, size, 16)) { error = "--type-size: hexadecimal number"; return ParseResult::Error; }
            options.typedSize = size;
        } else if (name == "--sessions") {
            if (!needNumber(options.sessions)) return ParseResult::Error;
        } else if (name == "--corrupt-every") {
            if (!needNumber(options.corruptEvery)) return ParseResult::Error;
        } else if (name == "--drop-ack") {
            if (!needNumber(options.dropAck)) return ParseResult::Error;
        } else if (name == "--hangup-after") {
            if (!needNumber(options.hangupAfter)) return ParseResult::Error;
        } else if (name == "--baud") {
            if (!needNumber(options.baud)) return ParseResult::Error;
        } else if (name == "--turnaround-ms") {
            if (!needNumber(options.turnaroundMs)) return ParseResult::Error;
        } else if (name == "--ident-lines") {
            if (!needNumber(options.identLines)) return ParseResult::Error;
        } else if (name == "--erase-ms") {
            if (!needNumber(options.eraseMs)) return ParseResult::Error;
        } else if (name == "--packet-timeout") {
            if (!needNumber(options.packetTimeoutMs) || options.packetTimeoutMs == 0) {
                error = "--packet-timeout: milliseconds above 0";
                return ParseResult::Error;
            }
        } else {
            error = "unknown option " + std::string(name);
            return ParseResult::Error;
        }
    }
    if (options.role == Role::Upload && options.uploadFile.empty()) {
        error = "--role upload needs --file FILE";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

void printHelp()
{
    std::fputs(R"(Usage: boxsim [OPTIONS]

Plays a set-top box's boot monitor on a pseudo-terminal, so the update tool can be
tested without a box. The first line of standard output is the terminal's device
path (open it as the serial port). Sessions are served one after another until
boxsim is killed or --sessions are done; then it exits 0.

Roles:
  --role monitor      (default) the box takes commands: answers ESC with '>',
                      "QV_IDENT", "QV_UPDATE <hex>!" (then receives by XMODEM),
                      "QV_RESTART", "QV_ERASEALL".
  --role upload       the box uploads --file to the tool's receive job: sends ESC
                      until '>', types "QV_UPDATE <hex>!" and checks the echo,
                      sends the file by XMODEM, then reads "Done" or "Abort".

General:
  --link PATH         also make a symbolic link PATH to the terminal device
  --sessions N        exit 0 after N sessions (default: serve until killed)
  --log FILE          write one line per event (commands, packets, faults)
  --wire-log FILE     write every byte on the line, one line per read or write:
                      "tool" and the hex bytes that came in, "box" and those
                      that went out
  --baud B            throttle both directions to B/10 bytes per second
                      (0 = unthrottled, the default)
  --turnaround-ms MS  hold every answer MS milliseconds before the tool sees it,
                      as a USB serial adapter's latency timer does (default 0)
  --packet-timeout MS how long the box waits for a packet or an answer before it
                      NAKs or sends again (default 1000)

Monitor role:
  --save FILE         write the received data (the announced size, no fill) to
                      FILE after every transfer, replacing it
  --mode crc|checksum start the transfer with 'C' (1K CRC, default) or NAK
                      (128-byte checksum)
  --ident-lines N     identification lines for QV_IDENT (default 2)
  --erase-ms MS       how long QV_ERASEALL takes (default 0)

Upload role:
  --file FILE         the data to upload (required)
  --xmodem 1k|128     packet size when the receiver asks with 'C' (default 1k);
                      a NAK start always gets 128-byte checksum packets
  --type-size HEX     type this size instead of the file's (refusal tests)

Faults:
  --refuse            answer "?" to QV_UPDATE
  --abort             report "Abort" instead of "Done" after the transfer
  --silent            never answer anything; log the gap between the ESCs
  --wrong-baud        answer the attention byte with the bytes a box at another
                      line rate would seem to send: never a prompt
  --corrupt-every N   upload: corrupt one byte of every Nth packet sent (the
                      repeat is sent intact); monitor: NAK every Nth packet on
                      its first arrival as if it were corrupted
  --drop-ack N        monitor: do not ACK packet N (its repeat is ACKed);
                      upload: ignore the ACK of packet N and send it again
  --hangup-after N    close the terminal after N packets and exit
)",
               stdout);
}

} // namespace boxsim
