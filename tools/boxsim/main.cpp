// boxsim: a simulated set-top box boot monitor on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <unistd.h>

#include "BoxOptions.h"
#include "EventLog.h"
#include "MonitorRole.h"
#include "PtyLink.h"
#include "UploadRole.h"

namespace {

// The link to remove when boxsim is killed; a fixed buffer because the signal
// handler may only call async-signal-safe functions.
char linkToRemove[4096];

extern "C" void removeLinkAndExit(int)
{
    if (linkToRemove[0] != '\0')
        unlink(linkToRemove);
    _exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace boxsim;
    BoxOptions options;
    std::string error;
    switch (parseOptions(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)), options, error)) {
    case ParseResult::Help:
        printHelp();
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "boxsim: %s (try --help)\n", error.c_str());
        return 64;
    case ParseResult::Run:
        break;
    }

    EventLog log;
    if (!log.open(options.logPath)) {
        std::fprintf(stderr, "boxsim: cannot write %s\n", options.logPath.c_str());
        return 2;
    }
    PtyLink link;
    if (!link.open(options.baud, options.turnaroundMs, error)) {
        std::fprintf(stderr, "boxsim: %s\n", error.c_str());
        return 2;
    }
    if (!options.wireLogPath.empty() && !link.logWireTo(options.wireLogPath)) {
        std::fprintf(stderr, "boxsim: cannot write %s\n", options.wireLogPath.c_str());
        return 2;
    }
    if (!options.linkPath.empty()) {
        if (options.linkPath.size() >= sizeof linkToRemove) {
            std::fputs("boxsim: --link path too long\n", stderr);
            return 64;
        }
        unlink(options.linkPath.c_str());
        if (symlink(link.slavePath().c_str(), options.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "boxsim: cannot link %s: %s\n", options.linkPath.c_str(), std::strerror(errno));
            return 2;
        }
        std::strcpy(linkToRemove, options.linkPath.c_str());
    }
    std::signal(SIGTERM, removeLinkAndExit);
    std::signal(SIGINT, removeLinkAndExit);
    std::signal(SIGHUP, removeLinkAndExit);
    std::signal(SIGPIPE, SIG_IGN);

    // Tests and scripts read the device path from the first line.
    std::printf("%s\n", link.slavePath().c_str());
    std::fflush(stdout);

    int status = 0;
    if (options.role == Role::Upload)
        status = UploadRole(link, options, log).run();
    else
        status = MonitorRole(link, options, log).run();
    if (linkToRemove[0] != '\0')
        unlink(linkToRemove);
    return status;
}
