#include "XmodemSender.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <cstring>

namespace updatetool {

namespace {

using Clock = std::chrono::steady_clock;

// How long a 'C' after the first packet waits for that packet's ACK before it
// counts as the receiver asking for the packet again. The packet takes under
// 0.1 s on the line at 115200 baud; the rest is for a slow receiver.
constexpr auto kStartRequestGrace = std::chrono::milliseconds(1000);

// The '?' of a monitor that refused the update after all.
constexpr std::uint8_t kRejection = '?';

} // namespace

XmodemSender::XmodemSender(SerialPort& port, TransferJob& job) : port_(port), job_(job) {}

bool XmodemSender::fail(int result)
{
    job_.result.store(result);
    return false;
}

void XmodemSender::sendCancel()
{
    port_.writeByte(xmodem::kCan);
    port_.writeByte(xmodem::kCan);
}

bool XmodemSender::waitForStartRequest()
{
    // A receiver that gives up before it starts, or a monitor that refused the
    // update after all, will never ask: waiting on would never end.
    bool cancelSeen = false;
    for (;;) {
        if (job_.cancelRequest.load())
            return fail(kResultCancelled);
        std::uint8_t byte = 0;
        if (!port_.readByte(byte)) {
            if (port_.lost())
                return fail(kResultSerialPortError);
            continue;
        }
        if (byte == xmodem::kCrcRequest) {
            mode_ = XmodemMode::Crc1K;
            return true;
        }
        if (byte == xmodem::kNak) {
            mode_ = XmodemMode::Checksum128;
            return true;
        }
        if ((byte == xmodem::kCan && cancelSeen) || byte == kRejection)
            return fail(kResultTransferFail);
        cancelSeen = byte == xmodem::kCan;
    }
}

XmodemSender::Answer XmodemSender::awaitAnswer(bool firstPacket)
{
    // A 'C' while the first packet awaits its answer may be a receiver that found
    // the packet spoilt and asks again, or a stale 'C' that was queued or crossed
    // the packet on the line, whose ACK then follows. Sending the packet again at
    // once would earn it two ACKs and put the sender one packet ahead, so it goes
    // again only when no answer follows the 'C' within the grace time.
    std::optional<Clock::time_point> repeatAt;
    for (;;) {
        if (job_.cancelRequest.load()) {
            sendCancel();
            fail(kResultCancelled);
            return Answer::Fail;
        }
        std::uint8_t byte = 0;
        if (!port_.readByte(byte)) {
            if (port_.lost()) {
                fail(kResultSerialPortError);
                return Answer::Fail;
            }
            if (repeatAt && Clock::now() >= *repeatAt)
                return Answer::Again;
            continue;
        }
        if (byte == xmodem::kAck)
            return Answer::Ack;
        if (byte == xmodem::kNak)
            return Answer::Again;
        if (byte == xmodem::kCrcRequest && firstPacket && !repeatAt)
            repeatAt = Clock::now() + kStartRequestGrace;
        if (byte == xmodem::kCan) {
            fail(kResultTransferFail);
            return Answer::Cancel;
        }
    }
}

bool XmodemSender::send(std::FILE* file, std::uint32_t size)
{
    if (!port_.setTimeouts(100))
        return fail(kResultSerialPortError);
    if (!waitForStartRequest())
        return false;

    std::uint8_t block = 1;
    bool acknowledged = false;
    std::uint32_t remaining = size;
    while (remaining > 0) {
        const auto payload = packet_.payload(mode_);
        const std::size_t wanted = std::min<std::size_t>(payload.size(), remaining);
        const std::size_t fileBytes = std::fread(payload.data(), 1, wanted, file);
        // A file cut shorter since the box was told its size cannot fill what the
        // box waits for: stop the box rather than leave it waiting.
        if (fileBytes < wanted) {
            job_.imageProblem = std::ferror(file) != 0
                                    ? std::string(std::strerror(errno))
                                    : "the file ends " + std::to_string(size - remaining + fileBytes) +
                                          " bytes in; the box was told " + std::to_string(size) + " bytes";
            sendCancel();
            return fail(kResultImageFileError);
        }
        remaining -= static_cast<std::uint32_t>(fileBytes);
        const auto bytes = packet_.seal(block, fileBytes, mode_);
        job_.bytesDone.fetch_add(static_cast<std::uint32_t>(fileBytes));
        block = static_cast<std::uint8_t>(block + 1);
        for (;;) {
            port_.writeBuffer(bytes);
            const Answer answer = awaitAnswer(!acknowledged);
            if (answer == Answer::Ack)
                break;
            if (answer != Answer::Again)
                return false;
        }
        acknowledged = true;
    }

    for (;;) {
        port_.writeByte(xmodem::kEot);
        const Answer answer = awaitAnswer(false);
        if (answer == Answer::Ack)
            return true;
        if (answer != Answer::Again)
            return false;
    }
}

} // namespace updatetool
