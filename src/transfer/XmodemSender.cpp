#include "XmodemSender.h"

namespace updatetool {

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
    }
}

XmodemSender::Answer XmodemSender::awaitAnswer(bool takeStartRequestAsNak)
{
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
            continue;
        }
        if (byte == xmodem::kAck)
            return Answer::Ack;
        if (byte == xmodem::kNak)
            return Answer::Again;
        // A receiver that found the first packet spoilt may ask to start over with
        // 'C' instead of NAK; waiting on would only run into its time-out.
        if (byte == xmodem::kCrcRequest && takeStartRequestAsNak)
            return Answer::Again;
        if (byte == xmodem::kCan) {
            fail(kResultTransferFail);
            return Answer::Cancel;
        }
    }
}

bool XmodemSender::send(std::FILE* file)
{
    if (!port_.setTimeouts(100))
        return fail(kResultSerialPortError);
    if (!waitForStartRequest())
        return false;

    std::uint8_t block = 1;
    bool acknowledged = false;
    for (;;) {
        const auto payload = packet_.payload(mode_);
        const std::size_t fileBytes = std::fread(payload.data(), 1, payload.size(), file);
        if (fileBytes < payload.size() && std::ferror(file)) {
            sendCancel();
            return fail(kResultImageFileError);
        }
        if (fileBytes == 0)
            break;
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
