#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "SerialPort.h"
#include "TransferJob.h"

namespace updatetool {

class ReplyLines;

// The text exchanges with the box's boot monitor, in both roles: as the box's
// controller (send and erase jobs) and in the monitor's own role (receive job).
// Each exchange returns success or failure; a failure has set job.result.
// None has an overall time limit: each waits for the expected bytes until the
// job's cancel request is set (result 1) or the device goes away (result 3).
class TargetProtocol {
public:
    static constexpr std::uint8_t kAttention = 0x1B;
    static constexpr std::uint8_t kPrompt = '>';
    static constexpr std::uint8_t kRejection = '?';
    static constexpr std::size_t kIdentLineLength = 16;
    static constexpr std::size_t kReplyLineLength = 32;
    static constexpr std::size_t kEraseLineLetters = 63;

    TargetProtocol(SerialPort& port, TransferJob& job);

    // Controller role.
    bool attention();
    bool identify();
    bool announceUpdate(std::uint32_t totalBytes);
    bool awaitCompletion();
    bool restart();
    bool eraseAll();

    // Monitor role.
    bool awaitAttention();
    // Prompts and reads command lines until the box asks for an acceptable
    // "QV_UPDATE"; the size becomes job.totalBytes.
    bool commandLoop();
    // "Done" CR LF '>' when written, else "Abort" CR LF '>'.
    void finalAnswer(bool written);

    // "QV_UPDATE 11170!" CR LF for 70,000 bytes.
    static std::string updateCommand(std::uint32_t totalBytes);

private:
    enum class Read { Byte, Nothing, Cancelled, Lost };
    // One read between two looks at the cancel request.
    Read next(std::uint8_t& byte);
    bool fail(int result);
    // The line settings and time-outs around the attention exchange, in either role.
    bool beginCalling();
    bool endCalling();
    // Ends a wait that cannot go on; false for a read that only timed out.
    bool waitEnded(Read read);
    // Reads reply lines up to the prompt that ends them; false when the wait ended.
    bool readReply(ReplyLines& lines, std::string_view finalLine);
    void send(std::string_view text);

    SerialPort& port_;
    TransferJob& job_;
};

} // namespace updatetool
