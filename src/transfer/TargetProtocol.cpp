#include "TargetProtocol.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "MonitorLineEditor.h"

namespace updatetool {

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;

bool isLetter(std::uint8_t byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

} // namespace

// Collects reply lines: CR is ignored, LF ends a line, and a line keeps only its
// first few characters (the rest is read and dropped).
class ReplyLines {
public:
    explicit ReplyLines(std::size_t keep) : keep_(keep) {}

    // False for a prompt at the start of a line, which may end the reply; it is
    // not stored, so a late prompt that more text follows leaves no trace.
    bool take(std::uint8_t byte)
    {
        if (byte == TargetProtocol::kPrompt && atLineStart_)
            return false;
        if (byte == kCarriageReturn)
            return true;
        if (byte == kLineFeed) {
            lastLine_ = current_;
            haveLine_ = true;
            current_.clear();
            atLineStart_ = true;
            return true;
        }
        if (current_.size() < keep_)
            current_ += static_cast<char>(byte);
        atLineStart_ = false;
        return true;
    }
    bool haveLine() const { return haveLine_; }
    const std::string& lastLine() const { return lastLine_; }

private:
    std::size_t keep_;
    std::string current_;
    std::string lastLine_;
    bool haveLine_ = false;
    bool atLineStart_ = true;
};

TargetProtocol::TargetProtocol(SerialPort& port, TransferJob& job) : port_(port), job_(job) {}

std::string TargetProtocol::updateCommand(std::uint32_t totalBytes)
{
    char size[16];
    std::snprintf(size, sizeof size, "%X", static_cast<unsigned>(totalBytes));
    return std::string("QV_UPDATE ") + size + "!\r\n";
}

TargetProtocol::Read TargetProtocol::next(std::uint8_t& byte)
{
    if (job_.cancelRequest.load())
        return Read::Cancelled;
    if (port_.readByte(byte))
        return Read::Byte;
    // A vanished device fails every read at once; waiting on would spin forever.
    return port_.lost() ? Read::Lost : Read::Nothing;
}

bool TargetProtocol::fail(int result)
{
    job_.result.store(result);
    return false;
}

bool TargetProtocol::waitEnded(Read read)
{
    if (read == Read::Cancelled)
        return !fail(kResultCancelled);
    if (read == Read::Lost)
        return !fail(kResultSerialPortError);
    return false;
}

void TargetProtocol::send(std::string_view text)
{
    // Write results are not checked: a lost byte shows up as a missing reply.
    port_.writeBuffer({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool TargetProtocol::beginCalling()
{
    // A short read time-out while the two sides find each other: one ESC goes out
    // about every 31 ms while the box is silent (it is being reset and only listens
    // for a moment).
    if (!port_.setTimeouts(10) || !port_.applyLineSettings(false))
        return fail(kResultSerialPortError);
    return true;
}

bool TargetProtocol::endCalling()
{
    if (!port_.setTimeouts(100))
        return fail(kResultImageFileError);
    return true;
}

bool TargetProtocol::attention()
{
    if (!beginCalling())
        return false;
    // A boot monitor answers every ESC that reached it, and those sent while the
    // box was starting are answered back to back. Going on only once the line has
    // been quiet for one read time-out after a prompt keeps those late prompts
    // from being taken for the answer to the next command.
    job_.callBytesSeen.store(0);
    job_.callPromptSeen.store(false);
    job_.callSinceTick.store(tickCount());
    job_.callingBox.store(true);
    bool prompted = false;
    for (;;) {
        std::uint8_t byte = 0;
        const Read read = next(byte);
        if (read == Read::Byte) {
            job_.callBytesSeen.fetch_add(1);
            prompted = prompted || byte == kPrompt;
            continue;
        }
        if (waitEnded(read))
            return false;
        if (prompted)
            break;
        port_.writeByte(kAttention);
    }
    // From here the box owes the answer to our first command.
    job_.callSinceTick.store(tickCount());
    job_.callPromptSeen.store(true);
    return endCalling();
}

bool TargetProtocol::readReply(ReplyLines& lines, std::string_view finalLine)
{
    // A prompt at the start of a line ends the reply once the line stays quiet
    // after it, or at once after the line the caller waits for; a prompt that
    // more bytes follow was a late answer to an earlier ESC.
    bool promptPending = false;
    for (;;) {
        std::uint8_t byte = 0;
        const Read read = next(byte);
        if (read != Read::Byte) {
            if (waitEnded(read))
                return false;
            if (promptPending)
                return true;
            continue;
        }
        promptPending = !lines.take(byte);
        if (promptPending && !finalLine.empty() && lines.haveLine() && lines.lastLine() == finalLine)
            return true;
    }
}

bool TargetProtocol::identify()
{
    send("QV_IDENT\r\n");
    // The identification text is read but not interpreted.
    ReplyLines lines(kIdentLineLength);
    if (!readReply(lines, {}))
        return false;
    job_.callingBox.store(false);
    return true;
}

bool TargetProtocol::announceUpdate(std::uint32_t totalBytes)
{
    send(updateCommand(totalBytes));
    // The box echoes the command first; its answer is the line after. A prompt at
    // the start of a line means the box had not read the command yet (it was
    // still answering an earlier ESC), so its echo is still to come.
    bool echoSkipped = false;
    bool atLineStart = true;
    for (;;) {
        std::uint8_t byte = 0;
        const Read read = next(byte);
        if (read != Read::Byte) {
            if (waitEnded(read))
                return false;
            continue;
        }
        if (byte == kPrompt && atLineStart) {
            echoSkipped = false;
            atLineStart = false;
            continue;
        }
        if (byte == kLineFeed) {
            if (echoSkipped)
                return true;
            echoSkipped = true;
            atLineStart = true;
            continue;
        }
        if (byte != kCarriageReturn)
            atLineStart = false;
        if (echoSkipped && byte == kRejection)
            return fail(kResultTransferFail);
    }
}

bool TargetProtocol::awaitCompletion()
{
    ReplyLines lines(kReplyLineLength);
    if (!readReply(lines, "Done"))
        return false;
    return (lines.haveLine() && lines.lastLine() == "Done") || fail(kResultUpdateFail);
}

bool TargetProtocol::restart()
{
    send("QV_RESTART\r\n");
    // Nothing is read back; give the bytes time to leave before the port closes.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return true;
}

bool TargetProtocol::eraseAll()
{
    // An erase may take its time; the box has answered the call.
    job_.callingBox.store(false);
    job_.eraseStarted.store(true);
    send("QV_ERASEALL\r\n");
    // Only the letters of a line count, so "Done!" and "Done." both end the wait,
    // while "Erase Done" does not.
    std::string letters;
    for (;;) {
        std::uint8_t byte = 0;
        const Read read = next(byte);
        if (read != Read::Byte) {
            if (waitEnded(read))
                return false;
            continue;
        }
        if (byte >= 0x20 && byte <= 0x7E) {
            if (isLetter(byte) && letters.size() < kEraseLineLetters)
                letters += static_cast<char>(byte);
            continue;
        }
        if (letters.starts_with("Done"))
            return true;
        letters.clear();
    }
}

bool TargetProtocol::awaitAttention()
{
    if (!beginCalling())
        return false;
    for (;;) {
        std::uint8_t byte = 0;
        const Read read = next(byte);
        if (read == Read::Byte) {
            if (byte == kAttention)
                break;
        } else if (waitEnded(read)) {
            return false;
        }
    }
    send(">\r\n");
    return endCalling();
}

bool TargetProtocol::commandLoop()
{
    for (;;) {
        port_.writeByte(kPrompt);
        MonitorLineEditor editor;
        for (bool ended = false; !ended;) {
            std::uint8_t byte = 0;
            const Read read = next(byte);
            if (read != Read::Byte) {
                if (waitEnded(read))
                    return false;
                continue;
            }
            std::string echo;
            ended = editor.feed(byte, echo);
            if (!echo.empty())
                send(echo);
        }
        const MonitorLineEditor::Command command = MonitorLineEditor::interpret(editor.line());
        if (command.verdict == MonitorLineEditor::Verdict::SizeAccepted) {
            send("\r\n");
            job_.totalBytes.store(command.size);
            return true;
        }
        // A refused size is answered and the monitor prompts again, as after an
        // unknown command; the box may then ask with a size we can take.
        if (command.verdict == MonitorLineEditor::Verdict::SizeRefused)
            send("?\r\n");
    }
}

void TargetProtocol::finalAnswer(bool written)
{
    send(written ? "Done\r\n>" : "Abort\r\n>");
}

} // namespace updatetool
