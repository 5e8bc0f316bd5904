#include <cstdio>

#include "CommandLine.h"

namespace updatetool::cli {

void printChannelsUsage() {}

int runChannelsCommand(std::span<char* const>)
{
    std::fputs("updatetool-cli: channel commands are not built yet\n", stderr);
    return kExitUsage;
}

int runSamplesCommand(std::span<char* const>)
{
    std::fputs("updatetool-cli: samples are not built yet\n", stderr);
    return kExitUsage;
}

} // namespace updatetool::cli
