#pragma once

#include <span>
#include <string_view>

namespace updatetool::cli {

// Exit status for a command line that makes no sense.
inline constexpr int kExitUsage = 64;
// A receive job that ended with fewer bytes than the box announced.
inline constexpr int kExitReceiveShort = 5;

// "send", "receive", "erase": args are the words after the command.
int runTransferCommand(std::string_view command, std::span<char* const> args);
// "channels ...": args are the words after "channels".
int runChannelsCommand(std::span<char* const> args);
// "samples DIR": writes the demo images.
int runSamplesCommand(std::span<char* const> args);

void printTransferUsage();
void printChannelsUsage();

} // namespace updatetool::cli
