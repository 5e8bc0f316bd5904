#pragma once

// What the transfer commands need of the console, with a side for each platform
// in posix/ and win32/.
#include <cstddef>
#include <string>
#include <vector>

namespace updatetool::cli {

// While one exists, the first Ctrl-C (on Windows also Ctrl-Break) only raises a
// flag, which the job's polling loop turns into the cancel request: the box then
// still gets its CAN CAN. A second one ends the program at once, should the job
// not react to the first.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    bool interrupted() const;
};

// Standard error is a terminal, so the progress may be one line redrawn in place.
bool stderrIsTerminal();
// How wide that terminal is; 80 when it cannot tell.
std::size_t terminalColumns();
// The device names a shell-style pattern ('/dev/ttyUSB*') matches, sorted; none when
// nothing does or the platform has no such names.
std::vector<std::string> devicesMatching(const std::string& pattern);

} // namespace updatetool::cli
