#pragma once

// What the transfer commands need of the console, with a side for each platform
// in posix/ and win32/.
#include <cstddef>
#include <string>
#include <vector>

namespace updatetool::cli {

// While one exists, the first Ctrl-C, SIGTERM or SIGHUP (on Windows Ctrl-C,
// Ctrl-Break or the console window closing) only raises a flag, which the job's
// polling loop turns into the cancel request: the box then still gets its CAN CAN
// and the job removes its unfinished output. A second one ends the program at
// once, should the job not react to the first. Once the job has ended, the
// program ends as the signal asked (endAsRequested).
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    bool interrupted() const;
};

// The signal (on Windows the console event, plus one) a catcher took since the
// program started; 0 when none.
int endRequest();
// Ends the program as the request would have without a catcher, now that the job
// has cleaned up: on POSIX the same signal raised again with its default action,
// so a shell reports 128+N (130 for Ctrl-C) and a loop of commands stops; on
// Windows the exit status of a program ended by Ctrl-C.
[[noreturn]] void endAsRequested(int request);
// A file-size limit (ulimit -f) then fails a write with an error the command
// reports, instead of killing the program with a temporary file left behind.
void ignoreFileSizeSignal();

// Standard error is a terminal, so the progress may be one line redrawn in place.
bool stderrIsTerminal();
// How wide that terminal is; 80 when it cannot tell.
std::size_t terminalColumns();
// The device names a shell-style pattern matches, sorted: '/dev/ttyUSB*' on
// POSIX, 'COM*' against the present COM ports on Windows. None when nothing does.
std::vector<std::string> devicesMatching(const std::string& pattern);

} // namespace updatetool::cli
