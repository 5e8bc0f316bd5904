#include "InterruptWatch.h"

#include <atomic>
#include <csignal>

namespace updatetool::cli {

namespace {

// A signal handler may touch nothing but a flag like this. The signal may be
// taken on a worker thread, so it is a lock-free atomic, not a sig_atomic_t.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

struct sigaction previousAction {};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

} // namespace

InterruptWatch::InterruptWatch()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    interrupted.store(false);
    sigaction(SIGINT, &action, &previousAction);
}

InterruptWatch::~InterruptWatch()
{
    sigaction(SIGINT, &previousAction, nullptr);
}

bool InterruptWatch::requested() const
{
    return interrupted.load();
}

} // namespace updatetool::cli
