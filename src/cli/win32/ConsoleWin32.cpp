// Ctrl-C and Ctrl-Break through the console's control handler.
#include "Console.h"

#include <atomic>
#include <cstdio>
#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace updatetool::cli {

namespace {

// The console calls the handler on a thread of its own, so the flag is atomic.
std::atomic<bool> interruptFlag{false};

BOOL WINAPI onControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    // The second one goes on to the default handler, which ends the program.
    if (interruptFlag.exchange(true))
        return FALSE;
    return TRUE;
}

} // namespace

InterruptCatcher::InterruptCatcher()
{
    interruptFlag.store(false);
    ::SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptCatcher::~InterruptCatcher()
{
    ::SetConsoleCtrlHandler(onControl, FALSE);
}

bool InterruptCatcher::interrupted() const
{
    return interruptFlag.load();
}

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

// Windows names its ports COM1, COM2, ...: there are no device paths to match.
std::vector<std::string> devicesMatching(const std::string&)
{
    return {};
}

} // namespace updatetool::cli
