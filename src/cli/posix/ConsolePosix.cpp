// Ctrl-C as SIGINT, and SIGTERM and SIGHUP like it.
#include "Console.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <pthread.h>
#include <glob.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace updatetool::cli {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A signal handler may not touch anything but a flag like this. The signal may be
// taken on the worker thread, so the flag is a lock-free atomic, not a sig_atomic_t.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction previousActions[std::size(kEndSignals)] {};
// Written before the handler is installed, only read by it.
bool caught[std::size(kEndSignals)] = {};

extern "C" void onEndSignal(int signal)
{
    int none = 0;
    caughtSignal.compare_exchange_strong(none, signal);
    // From now on any of them ends the program at once, should the job hang.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
        if (caught[i])
            sigaction(kEndSignals[i], &fallback, nullptr);
}

} // namespace

InterruptCatcher::InterruptCatcher()
{
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndSignals)
        sigaddset(&action.sa_mask, signal);
    caughtSignal.store(0);
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i) {
        sigaction(kEndSignals[i], nullptr, &previousActions[i]);
        // A signal the program was started to ignore (nohup, a background job) stays ignored.
        caught[i] = previousActions[i].sa_handler != SIG_IGN;
        if (caught[i])
            sigaction(kEndSignals[i], &action, nullptr);
    }
}

InterruptCatcher::~InterruptCatcher()
{
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
        sigaction(kEndSignals[i], &previousActions[i], nullptr);
}

bool InterruptCatcher::interrupted() const
{
    return caughtSignal.load() != 0;
}

int endRequest()
{
    return caughtSignal.load();
}

void endAsRequested(int request)
{
    std::fflush(nullptr);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(request, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, request);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(request);
    // Not reached with the default action of these signals; the status a shell would show, should it be.
    std::_Exit(128 + request);
}

void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
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
