#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace updatetool {

// The line editor of the monitor role: what the box types reaches us one byte at a
// time, and we echo it the way a terminal monitor would.
class MonitorLineEditor {
public:
    static constexpr std::size_t kMaxLength = 63;

    // Takes one typed byte and appends what goes back on the line to echo (the
    // character itself, BS blank BS for a backspace, CR LF when the line ends).
    // True when the byte ended the line.
    bool feed(std::uint8_t byte, std::string& echo);
    const std::string& line() const { return line_; }
    void clear() { line_.clear(); }

    enum class Verdict { NotUpdate, SizeAccepted, SizeRefused };
    struct Command {
        Verdict verdict = Verdict::NotUpdate;
        std::uint32_t size = 0;
    };
    // What the monitor makes of a finished (upper-cased) line.
    static Command interpret(std::string_view line);

private:
    std::string line_;
};

} // namespace updatetool
