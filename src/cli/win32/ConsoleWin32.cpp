// Ctrl-C, Ctrl-Break and the closing console window through the console's control handler.
#include "Console.h"
#include "PortList.h"

#include <atomic>
#include <cstdio>
#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace updatetool::cli {

namespace {

// The console calls the handler on a thread of its own, so the flag is atomic:
// the console event plus one, 0 while none came.
std::atomic<int> caughtEvent{0};

BOOL WINAPI onControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    int none = 0;
    const bool first = caughtEvent.compare_exchange_strong(none, static_cast<int>(event) + 1);
    if (event == CTRL_CLOSE_EVENT) {
        // The system ends the process when this returns (or some seconds later):
        // wait here while the job cancels, and endAsRequested ends the process.
        ::Sleep(INFINITE);
        return TRUE;
    }
    // The second one goes on to the default handler, which ends the program.
    return first ? TRUE : FALSE;
}

} // namespace

InterruptCatcher::InterruptCatcher()
{
    caughtEvent.store(0);
    ::SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptCatcher::~InterruptCatcher()
{
    ::SetConsoleCtrlHandler(onControl, FALSE);
}

bool InterruptCatcher::interrupted() const
{
    return caughtEvent.load() != 0;
}

int endRequest()
{
    return caughtEvent.load();
}

void endAsRequested(int)
{
    std::fflush(nullptr);
    // What a console program ended by Ctrl-C returns.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

// Windows has no file-size signal: a write beyond a quota simply fails.
void ignoreFileSizeSignal() {}

bool stderrIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

std::size_t terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    return 80;
}

// Windows names its ports COM1, COM2, ...: a pattern ('COM*') matches the
// present ones by name.
std::vector<std::string> devicesMatching(const std::string& pattern)
{
    std::vector<std::string> devices;
    for (const PortInfo& port : listSerialPorts())
        if (matchesPattern(pattern, port.device))
            devices.push_back(port.device);
    return devices;
}

} // namespace updatetool::cli
