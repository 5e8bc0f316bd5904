#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Console.h"

using namespace updatetool::cli;

namespace {

int runCommand(int argc, char** argv)
{
    const Invocation invocation = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (invocation.exitStatus) {
        std::fputs(invocation.out.c_str(), stdout);
        std::fputs(invocation.err.c_str(), stderr);
        return *invocation.exitStatus;
    }
    switch (invocation.command) {
    case Invocation::Command::Send:
        return sendImage(invocation.transfer);
    case Invocation::Command::Receive:
        return receiveData(invocation.transfer);
    case Invocation::Command::Erase:
        return eraseApplication(invocation.transfer);
    case Invocation::Command::Channels:
        return runChannelsCommand(invocation.channels);
    case Invocation::Command::Samples:
        return runSamplesCommand(invocation.samples);
    case Invocation::Command::Ports:
        return listPorts();
    case Invocation::Command::None:
        break;
    }
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    ignoreFileSizeSignal();
    const int status = runCommand(argc, argv);
    // A job ended by Ctrl-C, SIGTERM or SIGHUP has cleaned up; the program now
    // ends by that signal, so a shell loop or a service manager sees it.
    if (const int request = endRequest())
        endAsRequested(request);
    return status;
}
