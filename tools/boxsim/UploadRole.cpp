#include "UploadRole.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "BoxXmodem.h"
#include "SessionLoop.h"

namespace boxsim {

namespace {

using namespace xmodem;

// The box repeats its attention byte this often until the tool answers.
constexpr int kAttentionRepeatMs = 50;
constexpr int kMaxTries = 10;

std::string upperHex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

} // namespace

UploadRole::UploadRole(PtyLink& link, const BoxOptions& options, EventLog& log)
    : link_(link), options_(options), log_(log)
{
}

int UploadRole::run()
{
    std::ifstream file(options_.uploadFile, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "boxsim: cannot read %s\n", options_.uploadFile.c_str());
        return 2;
    }
    data_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());

    if (options_.silent) {
        while (link_.readByte(-1)) {
        }
        return 0;
    }
    runSessions(link_, options_, log_, [this] { return uploadSession() != Outcome::LinkGone; });
    return 0;
}

UploadRole::Outcome UploadRole::uploadSession()
{
    ackIgnored_ = false;
    if (!callTool())
        return Outcome::LinkGone;
    const std::uint32_t size = options_.typedSize.value_or(static_cast<std::uint32_t>(data_.size()));
    if (!typeCommand("QV_UPDATE " + upperHex(size) + "!"))
        return link_.hungUp() ? Outcome::LinkGone : Outcome::Finished;
    if (sendData() && sendEndOfTransmission())
        readFinalAnswer();
    return link_.hungUp() ? Outcome::LinkGone : Outcome::Finished;
}

bool UploadRole::callTool()
{
    log_.write("calling");
    for (;;) {
        // While no one has the device open the last ESC is still waiting there;
        // one is enough, so the tool does not open into a backlog of them.
        if (link_.unreadByTool() == 0 && !link_.writeByte(kEsc) && link_.hungUp())
            return false;
        // Wait a little for the prompt before calling again.
        while (const auto byte = link_.readByte(kAttentionRepeatMs)) {
            if (*byte == '>') {
                log_.write("prompt seen");
                // The tool follows its answer with the prompt of its command loop;
                // let it arrive so it is not taken for an echo.
                while (link_.readByte(kAttentionRepeatMs)) {
                }
                return true;
            }
        }
        if (link_.hungUp())
            return false;
    }
}

bool UploadRole::awaitEcho(std::uint8_t typed)
{
    for (;;) {
        const auto byte = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
        if (!byte) {
            log_.write(std::string("no echo for '") + static_cast<char>(typed) + "'");
            return false;
        }
        if (*byte == typed)
            return true;
        // Line ends and prompts may still be on their way; any other character is wrong.
        if (*byte != '\r' && *byte != '\n' && *byte != '>') {
            log_.write(std::string("echo mismatch: typed '") + static_cast<char>(typed) + "', got " +
                       std::to_string(*byte));
            return false;
        }
    }
}

bool UploadRole::typeCommand(const std::string& command)
{
    log_.write("typing " + command);
    for (const char c : command) {
        const auto typed = static_cast<std::uint8_t>(c);
        if (!link_.writeByte(typed) || !awaitEcho(typed))
            return false;
    }
    link_.writeByte('\r');
    // The tool ends the typed line with CR LF, then answers with another CR LF
    // when it accepts the size, or "?" CR LF when not.
    bool lineEnded = false;
    for (;;) {
        const auto byte = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
        if (!byte) {
            log_.write("no answer to the command");
            return false;
        }
        if (*byte == '?') {
            log_.write("refused");
            return false;
        }
        if (*byte == '\n') {
            if (lineEnded) {
                log_.write("accepted");
                return true;
            }
            lineEnded = true;
        }
    }
}

bool UploadRole::sendData()
{
    std::optional<std::uint8_t> start;
    for (int tries = 0; tries < kMaxTries && !start; ++tries) {
        while (const auto byte = link_.readByte(static_cast<int>(options_.packetTimeoutMs))) {
            if (*byte == kCrcStart || *byte == kNak) {
                start = byte;
                break;
            }
        }
        if (link_.hungUp())
            return false;
    }
    if (!start) {
        log_.write("no start request");
        return false;
    }
    const bool crc = *start == kCrcStart;
    const std::size_t packetSize = crc && options_.upload1k ? 1024 : 128;
    log_.write(std::string("start ") + (crc ? "crc " : "checksum ") + std::to_string(packetSize));

    const std::size_t packets = (data_.size() + packetSize - 1) / packetSize;
    for (std::size_t i = 0; i < packets; ++i) {
        const auto index = static_cast<unsigned>(i + 1);
        if (!sendPacket(index, static_cast<std::uint8_t>(index), packetSize, crc))
            return false;
        if (options_.hangupAfter != 0 && index >= options_.hangupAfter) {
            log_.write("hangup");
            link_.hangUp();
            return false;
        }
    }
    return true;
}

bool UploadRole::sendPacket(unsigned index, std::uint8_t number, std::size_t packetSize, bool crc)
{
    std::vector<std::uint8_t> packet;
    packet.reserve(3 + packetSize + 2);
    packet.push_back(packetSize == 1024 ? kStx : kSoh);
    packet.push_back(number);
    packet.push_back(static_cast<std::uint8_t>(0xFF - number));
    const std::size_t offset = (index - 1) * packetSize;
    const std::size_t count = std::min(packetSize, data_.size() - offset);
    packet.insert(packet.end(), data_.begin() + static_cast<std::ptrdiff_t>(offset),
                  data_.begin() + static_cast<std::ptrdiff_t>(offset + count));
    packet.resize(3 + packetSize, kPad);
    const std::span<const std::uint8_t> payload(packet.data() + 3, packetSize);
    if (crc) {
        const std::uint16_t check = crc16(payload);
        packet.push_back(static_cast<std::uint8_t>(check >> 8));
        packet.push_back(static_cast<std::uint8_t>(check & 0xFF));
    } else {
        packet.push_back(checksum(payload));
    }

    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
        if (attempt == 0 && options_.corruptEvery != 0 && index % options_.corruptEvery == 0) {
            std::vector<std::uint8_t> damaged = packet;
            damaged[3 + packetSize / 2] ^= 0x5A;
            log_.write("packet " + std::to_string(index) + " corrupted");
            link_.write(damaged);
        } else {
            link_.write(packet);
        }
        for (;;) {
            const auto answer = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
            if (!answer) {
                if (link_.hungUp())
                    return false;
                log_.write("packet " + std::to_string(index) + " timeout");
                break;
            }
            if (*answer == kAck) {
                if (options_.dropAck == index && !ackIgnored_) {
                    ackIgnored_ = true;
                    log_.write("ack ignored " + std::to_string(index));
                    // Act as if it never came: wait out the time-out, then send again.
                    continue;
                }
                log_.write("packet " + std::to_string(index) + " acked");
                return true;
            }
            if (*answer == kNak) {
                log_.write("packet " + std::to_string(index) + " nak");
                break;
            }
            if (*answer == kCan) {
                log_.write("cancel received");
                return false;
            }
        }
    }
    log_.write("packet " + std::to_string(index) + " given up");
    link_.write("\x18\x18");
    return false;
}

bool UploadRole::sendEndOfTransmission()
{
    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
        link_.writeByte(kEot);
        for (;;) {
            const auto answer = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
            if (!answer || *answer == kNak)
                break;
            if (*answer == kAck) {
                log_.write("eot acked");
                return true;
            }
            if (*answer == kCan) {
                log_.write("cancel received");
                return false;
            }
        }
        if (link_.hungUp())
            return false;
    }
    log_.write("eot not acked");
    return false;
}

void UploadRole::readFinalAnswer()
{
    std::string line;
    std::string lastLine;
    bool lineStart = true;
    for (;;) {
        const auto byte = link_.readByte(5000);
        if (!byte) {
            log_.write("no final answer");
            return;
        }
        if (*byte == '>' && lineStart) {
            log_.write("final " + (lastLine.empty() ? std::string("none") : lastLine));
            return;
        }
        if (*byte == '\r')
            continue;
        if (*byte == '\n') {
            lastLine = line;
            line.clear();
            lineStart = true;
            continue;
        }
        lineStart = false;
        line.push_back(static_cast<char>(*byte));
    }
}

} // namespace boxsim
