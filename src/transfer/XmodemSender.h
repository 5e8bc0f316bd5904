#pragma once

#include <cstdint>
#include <cstdio>

#include "SerialPort.h"
#include "TransferJob.h"
#include "XmodemPacket.h"

namespace updatetool {

// Sends a file by XMODEM in the mode the receiver asks for: 1K packets with CRC
// after 'C', 128-byte packets with a sum after NAK. Adds the file bytes of each
// packet to job.bytesDone. On failure job.result says why: 1 cancelled (CAN CAN
// sent), 2 file read error or a file that ended before the size (CAN CAN sent),
// 3 port failure, 6 the receiver sent CAN (or CAN CAN or '?' before it asked to
// start).
class XmodemSender {
public:
    XmodemSender(SerialPort& port, TransferJob& job);

    // Sends `size` bytes from the file's current position: the size the box was
    // told, however the file has grown since.
    bool send(std::FILE* file, std::uint32_t size);
    XmodemMode mode() const { return mode_; }

private:
    enum class Answer { Ack, Again, Cancel, Fail };
    // Waits for the receiver's answer to a packet or to EOT.
    Answer awaitAnswer(bool firstPacket);
    bool waitForStartRequest();
    bool fail(int result);
    void sendCancel();

    SerialPort& port_;
    TransferJob& job_;
    XmodemMode mode_ = XmodemMode::Crc1K;
    XmodemPacket packet_;
};

} // namespace updatetool
