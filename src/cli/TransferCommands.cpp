#include <cstdio>

#include "CommandLine.h"

namespace updatetool::cli {

void printTransferUsage() {}

int runTransferCommand(std::string_view, std::span<char* const>)
{
    std::fputs("updatetool-cli: transfer commands are not built yet\n", stderr);
    return kExitUsage;
}

} // namespace updatetool::cli
