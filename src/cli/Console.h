#pragma once

// What the transfer commands need of the console, with a side for each platform
// in posix/ and win32/.
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

} // namespace updatetool::cli
