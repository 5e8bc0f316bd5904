#include "MonitorRole.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "BoxXmodem.h"
#include "SessionLoop.h"

namespace boxsim {

namespace {

using namespace xmodem;

constexpr std::size_t kMaxLineLength = 63;
// The tool sends ESC every 31 ms until it sees the prompt; a second ESC that
// crossed our prompt on the line must not earn a second one.
constexpr std::int64_t kRepeatPromptAfterNs = 150'000'000;
// How long the box waits for QV_RESTART after an update before it calls the session over.
constexpr int kRestartWaitMs = 1000;
constexpr int kMaxSilentWaits = 10;

std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string firstWord(const std::string& line, std::size_t& rest)
{
    const std::size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos) {
        rest = line.size();
        return {};
    }
    const std::size_t end = line.find(' ', begin);
    rest = end == std::string::npos ? line.size() : end;
    return line.substr(begin, rest - begin);
}

// The size after "QV_UPDATE": leading hex digits, ended by the '!' mark or anything else.
std::optional<std::uint32_t> parseSize(const std::string& word)
{
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (const char c : word) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<unsigned>(digit);
        if (++digits > 8)
            return std::nullopt;
    }
    if (digits == 0 || value == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

} // namespace

MonitorRole::MonitorRole(PtyLink& link, const BoxOptions& options, EventLog& log)
    : link_(link), options_(options), log_(log)
{
}

int MonitorRole::run()
{
    if (options_.silent) {
        ignoreEverything();
        return 0;
    }
    if (options_.wrongBaud) {
        answerGarbled();
        return 0;
    }
    runSessions(link_, options_, log_, [this] { return serveSession() != SessionEnd::LinkGone; });
    return 0;
}

void MonitorRole::ignoreEverything()
{
    bool attentionSeen = false;
    std::int64_t lastAttentionNs = 0;
    while (const auto byte = link_.readByte(-1)) {
        if (*byte == kEsc && !attentionSeen) {
            attentionSeen = true;
            lastAttentionNs = monotonicNs();
            log_.write("attention ignored");
        } else if (*byte == kEsc) {
            // The gap since the last one is the caller's read time-out, for tests that measure it.
            const std::int64_t now = monotonicNs();
            log_.write("attention again after " + std::to_string((now - lastAttentionNs) / 1000) + " us");
            lastAttentionNs = now;
        } else if (*byte == kCan) {
            log_.write("cancel received");
        }
    }
}

void MonitorRole::answerGarbled()
{
    // A prompt sent at another line rate arrives as a few framing-error bytes;
    // these never contain '>' (nor the XMODEM headers).
    static constexpr std::uint8_t kGarbled[] = {0xE0, 0x80, 0xF8, 0x00, 0xFC};
    bool logged = false;
    while (const auto byte = link_.readByte(-1)) {
        if (*byte != kEsc)
            continue;
        if (!logged) {
            logged = true;
            log_.write("attention garbled");
        }
        link_.write(std::span<const std::uint8_t>(kGarbled));
    }
}

void MonitorRole::answerAttention()
{
    log_.write("attention");
    link_.write(">");
    lastPromptNs_ = monotonicNs();
}

MonitorRole::SessionEnd MonitorRole::serveSession()
{
    updateOver_ = false;
    if (!attentionPending_) {
        // Before the attention byte the monitor is not listening yet: everything else is lost.
        for (;;) {
            const auto byte = link_.readByte(-1);
            if (!byte)
                return SessionEnd::LinkGone;
            if (*byte == kEsc)
                break;
        }
    }
    attentionPending_ = false;
    answerAttention();

    for (;;) {
        std::string line;
        const LineEnd end = readCommandLine(line, updateOver_ ? kRestartWaitMs : -1);
        if (end == LineEnd::LinkGone)
            return SessionEnd::LinkGone;
        if (end == LineEnd::Timeout)
            return SessionEnd::Finished;
        if (end == LineEnd::Attention) {
            if (updateOver_) {
                attentionPending_ = true;
                return SessionEnd::Finished;
            }
            answerAttention();
            continue;
        }

        std::size_t rest = 0;
        const std::string command = firstWord(line, rest);
        if (command.empty()) {
            link_.write(">");
            continue;
        }
        log_.write("command " + line);
        if (command == "QV_IDENT") {
            identify();
        } else if (command == "QV_UPDATE") {
            update(line.substr(rest));
            if (link_.hungUp())
                return SessionEnd::LinkGone;
        } else if (command == "QV_RESTART") {
            return SessionEnd::Finished;
        } else if (command == "QV_ERASEALL") {
            eraseAll();
            return SessionEnd::Finished;
        } else {
            link_.write("?\r\n>");
        }
    }
}

MonitorRole::LineEnd MonitorRole::readCommandLine(std::string& line, int firstByteTimeoutMs)
{
    int timeoutMs = firstByteTimeoutMs;
    for (;;) {
        const auto byte = link_.readByte(timeoutMs);
        if (!byte)
            return link_.hungUp() ? LineEnd::LinkGone : LineEnd::Timeout;
        timeoutMs = -1;
        const std::uint8_t c = *byte;
        if (c == '\r') {
            link_.write("\r\n");
            return LineEnd::Line;
        }
        if (c == 0x08 || c == 0x7F) {
            if (!line.empty()) {
                line.pop_back();
                link_.write("\b \b");
            }
            continue;
        }
        if (c == kEsc) {
            if (line.empty() && monotonicNs() - lastPromptNs_ > kRepeatPromptAfterNs)
                return LineEnd::Attention;
            continue;
        }
        if (c < 0x20 || c > 0x7E) {
            if (line.empty())
                timeoutMs = firstByteTimeoutMs;
            continue;
        }
        if (line.size() < kMaxLineLength) {
            line.push_back(static_cast<char>(c));
            link_.writeByte(c);
        }
    }
}

void MonitorRole::identify()
{
    static constexpr const char* kIdentLines[] = {
        "STB Boot Monitor 1.07",
        "Flash 8 MB, SDRAM 32 MB",
        "Loader build 2004-03-18",
        "Serial 0000-4711",
    };
    for (unsigned i = 0; i < options_.identLines; ++i)
        link_.write(std::string(kIdentLines[i % std::size(kIdentLines)]) + "\r\n");
    link_.write(">");
}

void MonitorRole::update(const std::string& arguments)
{
    std::size_t rest = 0;
    const std::string sizeWord = firstWord(arguments, rest);
    const auto size = parseSize(sizeWord);
    if (options_.refuse || !size) {
        log_.write(options_.refuse ? "refused (--refuse)" : "refused (bad size)");
        link_.write("?\r\n>");
        return;
    }
    log_.write("accepted " + std::to_string(*size));
    link_.write("Ready for " + std::to_string(*size) + " bytes\r\n");

    std::vector<std::uint8_t> data;
    const bool received = receiveImage(*size, data);
    if (link_.hungUp())
        return;
    if (received)
        saveImage(data);
    const bool done = received && !options_.abort;
    log_.write(done ? "reply Done" : "reply Abort");
    link_.write(done ? "Writing flash\r\nDone\r\n>" : "Writing flash\r\nAbort\r\n>");
    updateOver_ = true;
}

void MonitorRole::eraseAll()
{
    link_.write("Erasing application area\r\n");
    if (options_.eraseMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.eraseMs));
    log_.write("reply Done");
    link_.write("Done\r\n>");
}

bool MonitorRole::readPacketBody(std::uint8_t header, std::vector<std::uint8_t>& packet)
{
    const std::size_t dataSize = header == kStx ? 1024 : 128;
    const std::size_t checkSize = options_.checksumMode ? 1 : 2;
    packet.assign(2 + dataSize + checkSize, 0);
    for (auto& byte : packet) {
        const auto next = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
        if (!next)
            return false;
        byte = *next;
    }
    return true;
}

bool MonitorRole::receiveImage(std::uint32_t size, std::vector<std::uint8_t>& data)
{
    const std::uint8_t startRequest = options_.checksumMode ? kNak : kCrcStart;
    log_.write(options_.checksumMode ? "start checksum" : "start crc");
    link_.writeByte(startRequest);

    std::uint8_t expected = 1;
    std::uint8_t previous = 0;
    unsigned accepted = 0;      // packets stored, in order
    unsigned injectedFor = 0;   // the packet already refused once by --corrupt-every
    bool ackDropped = false;
    int silentWaits = 0;
    std::size_t fillErrors = 0;
    std::vector<std::uint8_t> packet;

    for (;;) {
        const auto header = link_.readByte(static_cast<int>(options_.packetTimeoutMs));
        if (!header) {
            if (link_.hungUp())
                return false;
            if (++silentWaits >= kMaxSilentWaits) {
                log_.write("timeout");
                link_.write("\x18\x18");
                return false;
            }
            link_.writeByte(accepted == 0 ? startRequest : kNak);
            continue;
        }
        if (*header == kEot) {
            link_.writeByte(kAck);
            log_.write("eot after " + std::to_string(accepted) + " packets, " + std::to_string(data.size()) +
                       " bytes");
            if (data.size() < size)
                log_.write("short " + std::to_string(data.size()) + " of " + std::to_string(size));
            if (fillErrors > 0)
                log_.write("bad fill " + std::to_string(fillErrors));
            return data.size() >= size;
        }
        if (*header == kCan) {
            log_.write("cancel received");
            return false;
        }
        if (*header != kSoh && *header != kStx)
            continue;
        silentWaits = 0;
        if (!readPacketBody(*header, packet)) {
            if (link_.hungUp())
                return false;
            log_.write("packet short");
            link_.discardInput();
            link_.writeByte(kNak);
            continue;
        }
        const std::uint8_t number = packet[0];
        const std::span<const std::uint8_t> payload(packet.data() + 2, *header == kStx ? 1024 : 128);
        bool good = static_cast<std::uint8_t>(number + packet[1]) == 0xFF;
        if (options_.checksumMode)
            good = good && packet.back() == checksum(payload);
        else
            good = good && ((packet[packet.size() - 2] << 8) | packet.back()) == crc16(payload);
        if (!good) {
            log_.write("packet bad");
            link_.writeByte(kNak);
            continue;
        }
        if (number == expected) {
            const unsigned index = accepted + 1;
            if (options_.corruptEvery != 0 && index % options_.corruptEvery == 0 && injectedFor != index) {
                injectedFor = index;
                log_.write("packet " + std::to_string(index) + " nak (injected)");
                link_.writeByte(kNak);
                continue;
            }
            if (data.size() >= size) {
                log_.write("overrun: packet " + std::to_string(index) + " beyond the announced size");
                link_.write("\x18\x18");
                return false;
            }
            // Keep only the announced bytes; the rest of the last packet must be fill.
            const std::size_t useful = std::min<std::size_t>(payload.size(), size - data.size());
            data.insert(data.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(useful));
            for (std::size_t i = useful; i < payload.size(); ++i)
                fillErrors += payload[i] != kPad;
            accepted = index;
            previous = number;
            expected = static_cast<std::uint8_t>(number + 1);
            log_.write("packet " + std::to_string(index) + " ok " + std::to_string(payload.size()));
            if (options_.hangupAfter != 0 && accepted >= options_.hangupAfter) {
                log_.write("hangup");
                link_.hangUp();
                return false;
            }
            if (options_.dropAck == index && !ackDropped) {
                ackDropped = true;
                log_.write("ack dropped " + std::to_string(index));
                continue;
            }
            link_.writeByte(kAck);
        } else if (accepted > 0 && number == previous) {
            log_.write("packet " + std::to_string(accepted) + " repeat");
            link_.writeByte(kAck);
        } else {
            log_.write("sequence error: got " + std::to_string(number) + ", expected " + std::to_string(expected));
            link_.write("\x18\x18");
            return false;
        }
    }
}

void MonitorRole::saveImage(const std::vector<std::uint8_t>& data)
{
    log_.write("saved " + std::to_string(data.size()));
    if (options_.savePath.empty())
        return;
    std::FILE* file = std::fopen(options_.savePath.c_str(), "wb");
    if (file == nullptr) {
        log_.write("cannot write " + options_.savePath);
        return;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (std::fclose(file) != 0 || !written)
        log_.write("cannot write " + options_.savePath);
}

} // namespace boxsim
