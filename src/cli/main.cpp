#include <cstdio>
#include <cstring>
#include <string_view>

#include "CommandLine.h"
#include "Console.h"

using namespace updatetool::cli;

namespace {

void printUsage()
{
    std::fputs("Usage: updatetool-cli COMMAND [OPTIONS] ...\n\n", stdout);
    printTransferUsage();
    printChannelsUsage();
    std::fputs("\nExit status: 0 success, 64 usage error; other values as each command says.\n", stdout);
}

int runCommand(int argc, char** argv)
{
    if (argc < 2) {
        printUsage();
        return kExitUsage;
    }
    const std::string_view command = argv[1];
    const std::span<char* const> rest(argv + 2, static_cast<std::size_t>(argc - 2));
    if (command == "--help" || command == "-h" || command == "help") {
        printUsage();
        return 0;
    }
    if (command == "send" || command == "receive" || command == "erase")
        return runTransferCommand(command, rest);
    if (command == "channels")
        return runChannelsCommand(rest);
    if (command == "samples")
        return runSamplesCommand(rest);
    std::fprintf(stderr, "updatetool-cli: unknown command '%s' (try --help)\n", argv[1]);
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
