// Ctrl-C as SIGINT.
#include "Console.h"

#include <atomic>
#include <csignal>
#include <glob.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace updatetool::cli {

namespace {

// A signal handler may not touch anything but a flag like this. The signal may be
// taken on the worker thread, so the flag is a lock-free atomic, not a sig_atomic_t.
std::atomic<bool> interruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

struct sigaction previousAction {};

extern "C" void onInterrupt(int)
{
    interruptFlag.store(true);
}

} // namespace

InterruptCatcher::InterruptCatcher()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // The default action comes back after the first signal: the second one ends the program.
    action.sa_flags = SA_RESETHAND;
    interruptFlag.store(false);
    sigaction(SIGINT, &action, &previousAction);
}

InterruptCatcher::~InterruptCatcher()
{
    sigaction(SIGINT, &previousAction, nullptr);
}

bool InterruptCatcher::interrupted() const
{
    return interruptFlag.load();
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

std::size_t terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::vector<std::string> devicesMatching(const std::string& pattern)
{
    std::vector<std::string> devices;
    glob_t matches{};
    if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
        for (std::size_t i = 0; i < matches.gl_pathc; ++i)
            devices.emplace_back(matches.gl_pathv[i]);
    }
    globfree(&matches);
    return devices;
}

} // namespace updatetool::cli
