#include "XmodemReceiver.h"

#include <algorithm>

namespace updatetool {

namespace {

constexpr unsigned kStartBudgetMs = 3000;
constexpr unsigned kPacketBudgetMs = 10000;
// Each read that yields nothing counts as this much of a byte's budget.
constexpr unsigned kReadCostMs = 100;
constexpr int kCrcStartAttempts = 4;
constexpr int kChecksumStartAttempts = 10;
constexpr int kSilentWaits = 10;

} // namespace

XmodemReceiver::XmodemReceiver(SerialPort& port, TransferJob& job) : port_(port), job_(job) {}

void XmodemReceiver::sendCancel()
{
    port_.writeByte(xmodem::kCan);
    port_.writeByte(xmodem::kCan);
}

XmodemReceiver::PacketRead XmodemReceiver::readWithin(unsigned budgetMs, std::uint8_t& byte)
{
    for (unsigned spent = 0; spent < budgetMs; spent += kReadCostMs) {
        if (job_.cancelRequest.load())
            return PacketRead::Cancelled;
        if (port_.readByte(byte))
            return PacketRead::Good;
        if (port_.lost())
            return PacketRead::Lost;
    }
    return PacketRead::TimedOut;
}

XmodemReceiver::PacketRead XmodemReceiver::readPacket(unsigned budgetMs)
{
    std::uint8_t header = 0;
    for (;;) {
        const PacketRead read = readWithin(budgetMs, header);
        if (read != PacketRead::Good)
            return read;
        if (header == xmodem::kEot)
            return PacketRead::EndOfTransmission;
        if (header == xmodem::kCan)
            return PacketRead::SenderCancelled;
        if (header == xmodem::kSoh || header == xmodem::kStx)
            break;
    }
    dataLength_ = header == xmodem::kStx ? 1024 : 128;
    // The check follows the receiver's own mode, whatever the header says.
    const std::size_t length = 2 + dataLength_ + XmodemPacket::checkSize(mode_);
    for (std::size_t i = 0; i < length; ++i) {
        const PacketRead read = readWithin(budgetMs, packet_[i]);
        if (read != PacketRead::Good)
            return read;
    }
    const std::span<const std::uint8_t> packet(packet_.data(), length);
    const bool framed = packet[0] + packet[1] == 255;
    const bool checked = XmodemPacket::checkMatches(packet.subspan(2, dataLength_), packet.subspan(2 + dataLength_), mode_);
    return framed && checked ? PacketRead::Good : PacketRead::Bad;
}

XmodemReceiver::Outcome XmodemReceiver::receive(std::uint32_t announcedBytes, std::span<std::uint8_t> buffer)
{
    Outcome outcome;
    mode_ = XmodemMode::Crc1K;
    PacketRead read = PacketRead::TimedOut;
    for (int attempt = 0; attempt < kCrcStartAttempts && read == PacketRead::TimedOut; ++attempt) {
        port_.writeByte(xmodem::kCrcRequest);
        read = readPacket(kStartBudgetMs);
    }
    if (read == PacketRead::TimedOut) {
        mode_ = XmodemMode::Checksum128;
        for (int attempt = 0; attempt < kChecksumStartAttempts && read == PacketRead::TimedOut; ++attempt) {
            port_.writeByte(xmodem::kNak);
            read = readPacket(kPacketBudgetMs);
        }
        if (read == PacketRead::TimedOut) {
            sendCancel();
            return outcome;
        }
    }

    std::uint8_t expected = 1;
    std::uint8_t previous = 1;
    for (;;) {
        switch (read) {
        case PacketRead::EndOfTransmission:
            port_.writeByte(xmodem::kAck);
            outcome.succeeded = true;
            return outcome;
        case PacketRead::SenderCancelled:
        case PacketRead::Lost:
            return outcome;
        case PacketRead::Cancelled:
            sendCancel();
            return outcome;
        case PacketRead::Bad:
            port_.writeByte(xmodem::kNak);
            break;
        case PacketRead::Good: {
            const std::uint8_t block = packet_[0];
            if (block == expected) {
                // More data than the buffer holds ends the reception rather than
                // running past its end. Some boxes send a whole packet beyond the
                // size they announced: once that size has arrived, what follows is
                // acknowledged and dropped, counted against the buffer all the same.
                if (buffer.size() - outcome.stored - outcome.extra < dataLength_) {
                    sendCancel();
                    return outcome;
                }
                if (outcome.stored >= announcedBytes) {
                    outcome.extra += dataLength_;
                } else {
                    std::copy_n(packet_.begin() + 2, dataLength_, buffer.begin() + static_cast<std::ptrdiff_t>(outcome.stored));
                    outcome.stored += dataLength_;
                }
                // Progress counts stored data up to the announced size, so the
                // window's range is never overrun by the last packet's fill.
                job_.bytesDone.store(static_cast<std::uint32_t>(std::min<std::size_t>(outcome.stored, announcedBytes)));
                port_.writeByte(xmodem::kAck);
                previous = block;
                expected = static_cast<std::uint8_t>(block + 1);
            } else if (block == previous) {
                // Our ACK was lost and the sender repeats the packet: take it once only.
                port_.writeByte(xmodem::kAck);
            } else {
                sendCancel();
                return outcome;
            }
            break;
        }
        case PacketRead::TimedOut:
            break;
        }

        int silentWaits = 0;
        for (;;) {
            read = readPacket(kPacketBudgetMs);
            if (read != PacketRead::TimedOut)
                break;
            if (++silentWaits == kSilentWaits) {
                sendCancel();
                return outcome;
            }
            port_.writeByte(xmodem::kNak);
        }
    }
}

} // namespace updatetool
