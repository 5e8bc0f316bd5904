#include "WireTrace.h"

#include <ctime>

#include "XmodemPacket.h"

namespace updatetool {

namespace {

constexpr std::size_t kBytesPerLine = 16;
// Bytes further apart than this are shown on lines of their own, so the time
// stamps tell the pauses on the line.
constexpr std::uint32_t kRunGapMs = 2;

constexpr std::string_view kSentMark = "->";
constexpr std::string_view kReceivedMark = "<-";
constexpr std::string_view kNoteMark = "##";

std::string_view controlName(std::uint8_t byte)
{
    switch (byte) {
    case xmodem::kSoh: return "SOH";
    case xmodem::kStx: return "STX";
    case xmodem::kEot: return "EOT";
    case xmodem::kAck: return "ACK";
    case 0x08: return "BS";
    case xmodem::kNak: return "NAK";
    case xmodem::kCan: return "CAN";
    case 0x1B: return "ESC";
    default: return {};
    }
}

std::string hex(std::uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

// How a byte reads in the text column: printable as it is, CR and LF escaped,
// control bytes by name.
std::string asText(std::uint8_t byte)
{
    if (byte == '\r')
        return "\\r";
    if (byte == '\n')
        return "\\n";
    if (byte >= 0x20 && byte <= 0x7E)
        return std::string(1, static_cast<char>(byte));
    const std::string_view name = controlName(byte);
    std::string text(1, '<');
    text.append(name.empty() ? hex(byte) : std::string(name));
    text.push_back('>');
    return text;
}

// "ACK (06)", "'C' (43)", "(E6)": the answer's name for a person, its value for a program.
std::string answerText(std::uint8_t byte)
{
    std::string text(controlName(byte));
    if (text.empty() && byte >= 0x20 && byte <= 0x7E) {
        text.push_back('\'');
        text.push_back(static_cast<char>(byte));
        text.push_back('\'');
    }
    if (!text.empty())
        text.push_back(' ');
    text.push_back('(');
    text.append(hex(byte));
    text.push_back(')');
    return text;
}

} // namespace

WireTrace::WireTrace() = default;

WireTrace::~WireTrace()
{
    close();
}

bool WireTrace::open(const std::string& path, std::string_view portName)
{
    close();
    file_.reset(std::fopen(path.c_str(), "w"));
    if (!file_)
        return false;
    opened_ = std::chrono::steady_clock::now();
    const std::time_t now = std::time(nullptr);
    char when[32] = "";
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::fprintf(file_.get(),
                 "# Wire trace of %.*s, opened %s\n"
                 "# Milliseconds since then; \"->\" sent to the box, \"<-\" received from it;\n"
                 "# one line per XMODEM packet with the answer it got; \"##\" notes.\n",
                 static_cast<int>(portName.size()), portName.data(), when);
    std::fflush(file_.get());
    return true;
}

void WireTrace::close()
{
    if (!file_)
        return;
    if (packet_) {
        writePacket(*packet_, packetDirection_, "no answer");
        packet_.reset();
    }
    flushRun();
    file_.reset();
}

std::uint32_t WireTrace::nowMs() const
{
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - opened_).count());
}

void WireTrace::sent(std::span<const std::uint8_t> bytes)
{
    if (!file_)
        return;
    const std::uint32_t now = nowMs();
    for (const std::uint8_t byte : bytes)
        take(Direction::Sent, byte, now);
}

void WireTrace::received(std::span<const std::uint8_t> bytes)
{
    if (!file_)
        return;
    const std::uint32_t now = nowMs();
    for (const std::uint8_t byte : bytes)
        take(Direction::Received, byte, now);
}

void WireTrace::note(std::string_view text)
{
    if (!file_)
        return;
    flushRun();
    writeLine(nowMs(), kNoteMark, text);
}

bool WireTrace::answerPacket(Direction direction, std::uint8_t byte, std::uint32_t now)
{
    if (direction == packetDirection_) {
        if (!packet_->complete()) {
            packet_->bytes.push_back(byte);
            packet_->endMs = now;
            return true;
        }
        // The sender goes on without having heard an answer.
        writePacket(*packet_, packetDirection_, "no answer");
        packet_.reset();
        return false;
    }
    if (!packet_->complete()) {
        // The other side spoke before the packet was whole (a CAN, a NAK of a
        // receiver that gave up on it): show what came, then that byte as it is.
        writePacket(*packet_, packetDirection_, {});
        packet_.reset();
        return false;
    }
    writePacket(*packet_, packetDirection_,
                "answer " + answerText(byte) + " after " + std::to_string(now - packet_->endMs) + " ms");
    packet_.reset();
    if (byte == xmodem::kCan) {
        packetsAsked_[0] = packetsAsked_[1] = false;
        modeLatched_[0] = modeLatched_[1] = false;
    }
    return true;
}

void WireTrace::take(Direction direction, std::uint8_t byte, std::uint32_t now)
{
    if (packet_ && answerPacket(direction, byte, now))
        return;
    const int side = static_cast<int>(direction);
    const int otherSide = 1 - side;

    if (packetsAsked_[side] && (byte == xmodem::kSoh || byte == xmodem::kStx)) {
        flushRun();
        // The start request that came last decides the check for the whole transfer.
        modeLatched_[side] = true;
        const std::size_t dataSize = byte == xmodem::kStx ? 1024 : 128;
        packet_ = std::make_unique<Packet>();
        packet_->expected = XmodemPacket::kDataOffset + dataSize + (crcMode_[side] ? 2 : 1);
        packet_->bytes.push_back(byte);
        packet_->startMs = packet_->endMs = now;
        packetDirection_ = direction;
        return;
    }
    if (!modeLatched_[otherSide] && (byte == xmodem::kCrcRequest || byte == xmodem::kNak)) {
        packetsAsked_[otherSide] = true;
        crcMode_[otherSide] = byte == xmodem::kCrcRequest;
    }
    if ((byte == xmodem::kEot && packetsAsked_[side]) || byte == xmodem::kCan) {
        packetsAsked_[side] = modeLatched_[side] = false;
        if (byte == xmodem::kCan)
            packetsAsked_[otherSide] = modeLatched_[otherSide] = false;
    }

    if (!run_.empty() && (direction != runDirection_ || run_.size() >= kBytesPerLine ||
                          now - runLastMs_ > kRunGapMs || run_.back() == '\n'))
        flushRun();
    if (run_.empty()) {
        runDirection_ = direction;
        runStartMs_ = now;
    }
    run_.push_back(byte);
    runLastMs_ = now;
}

void WireTrace::writePacket(const Packet& packet, Direction direction, std::string_view outcome)
{
    const std::vector<std::uint8_t>& bytes = packet.bytes;
    std::string text = std::string(controlName(bytes[0]));
    if (bytes.size() > XmodemPacket::kBlockOffset)
        text += " block " + std::to_string(bytes[XmodemPacket::kBlockOffset]);
    if (bytes.size() > XmodemPacket::kComplementOffset &&
        static_cast<std::uint8_t>(bytes[XmodemPacket::kBlockOffset] + bytes[XmodemPacket::kComplementOffset]) != 0xFF)
        text += " (complement " + hex(bytes[XmodemPacket::kComplementOffset]) + ", wrong)";
    if (!packet.complete()) {
        text += ", incomplete: " + std::to_string(bytes.size()) + " of " + std::to_string(packet.expected) + " bytes";
    } else {
        const std::size_t dataSize = bytes[0] == xmodem::kStx ? 1024 : 128;
        const bool crc = bytes.size() - XmodemPacket::kDataOffset - dataSize == 2;
        const std::span<const std::uint8_t> data(bytes.data() + XmodemPacket::kDataOffset, dataSize);
        const std::span<const std::uint8_t> check(bytes.data() + XmodemPacket::kDataOffset + dataSize, crc ? 2 : 1);
        const bool good = XmodemPacket::checkMatches(data, check, crc ? XmodemMode::Crc1K : XmodemMode::Checksum128);
        text += ", " + std::to_string(dataSize) + " bytes, " + (crc ? "CRC " : "sum ");
        for (const std::uint8_t byte : check)
            text += hex(byte);
        text += good ? " good" : " BAD";
    }
    if (!outcome.empty())
        text += "; " + std::string(outcome);
    writeLine(packet.startMs, direction == Direction::Sent ? kSentMark : kReceivedMark, text);
}

void WireTrace::flushRun()
{
    if (run_.empty())
        return;
    std::string hexColumn;
    std::string textColumn;
    for (const std::uint8_t byte : run_) {
        if (!hexColumn.empty())
            hexColumn += ' ';
        hexColumn += hex(byte);
        textColumn += asText(byte);
    }
    hexColumn.resize(kBytesPerLine * 3 - 1, ' ');
    writeLine(runStartMs_, runDirection_ == Direction::Sent ? kSentMark : kReceivedMark,
              hexColumn + " | " + textColumn);
    run_.clear();
}

void WireTrace::writeLine(std::uint32_t ms, std::string_view direction, std::string_view text)
{
    std::fprintf(file_.get(), "%8u  %.*s  %.*s\n", static_cast<unsigned>(ms), static_cast<int>(direction.size()),
                 direction.data(), static_cast<int>(text.size()), text.data());
    // Flushed line by line, so the trace can be followed while the job runs.
    std::fflush(file_.get());
}

} // namespace updatetool
