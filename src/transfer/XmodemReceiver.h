#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "SerialPort.h"
#include "TransferJob.h"
#include "XmodemPacket.h"

namespace updatetool {

// Receives by XMODEM: asks for 1K/CRC packets with 'C' and falls back to the
// classic checksum mode with NAK when the sender stays silent. Stores packet data
// (fill included) into the buffer, never past its end, and drops packets that come
// after the announced size. Its failures are no result codes: the caller sees
// fewer bytes than announced.
class XmodemReceiver {
public:
    struct Outcome {
        bool succeeded = false;
        std::size_t stored = 0;
        // Data of whole packets that came after the announced size, dropped.
        std::size_t extra = 0;
    };

    XmodemReceiver(SerialPort& port, TransferJob& job);

    Outcome receive(std::uint32_t announcedBytes, std::span<std::uint8_t> buffer);
    XmodemMode mode() const { return mode_; }

private:
    enum class PacketRead { Good, Bad, EndOfTransmission, SenderCancelled, TimedOut, Cancelled, Lost };
    PacketRead readPacket(unsigned budgetMs);
    // One byte within its own time budget.
    PacketRead readWithin(unsigned budgetMs, std::uint8_t& byte);
    void sendCancel();

    SerialPort& port_;
    TransferJob& job_;
    XmodemMode mode_ = XmodemMode::Crc1K;
    // The packet last read: its block number, complement, data and check, in wire order.
    std::array<std::uint8_t, XmodemPacket::kLargestSize> packet_{};
    std::size_t dataLength_ = 0;
};

} // namespace updatetool
