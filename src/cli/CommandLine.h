#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace updatetool::cli {

// Exit status for a command line that makes no sense.
inline constexpr int kExitUsage = 64;
// A receive job that ended with fewer bytes than the box announced.
inline constexpr int kExitReceiveShort = 5;

// What "send", "receive" and "erase" were given.
struct TransferOptions {
    // Every --port in order; COM1 when none is given.
    std::vector<std::string> ports;
    // IMAGE for send, OUTPUT for receive.
    std::string file;
    std::string tracePath;
    bool autoRestart = true;
    // Stop calling a box that has not answered after this long; 0: never.
    std::uint32_t giveUpAfterMs = 0;
};

// What "channels SUBCOMMAND" was given: its operands by name (IMAGE, OUTPUT,
// REFERENCE, ...) and its flags.
struct ChannelsOptions {
    std::string subcommand;
    std::string image;          // IMAGE, or A for diff
    std::string output;
    std::string reference;
    std::string second;         // B for diff
    std::string tableFile;      // the transponder table import-transponders reads
    std::string satellite;      // N or NAME, empty for every satellite
    std::optional<int> position;   // --sat: a satellites.xml position in tenths of a degree
    bool includeDvbs2 = false;
    std::string format;         // "dvbv5", "satellites-xml", or empty: by OUTPUT's extension
    bool backup = true;
};

struct SamplesOptions {
    std::string folder;
    bool replace = false;
};

// The command line, parsed. When exitStatus is set the program prints `out` on
// standard output and `err` on standard error and ends with it (help, version,
// a usage error); otherwise it runs `command`.
struct Invocation {
    enum class Command { None, Send, Receive, Erase, Channels, Samples, Ports };
    Command command = Command::None;
    TransferOptions transfer;
    ChannelsOptions channels;
    SamplesOptions samples;
    std::optional<int> exitStatus;
    std::string out;
    std::string err;
};

// args are the words after the program's name.
Invocation parseCommandLine(const std::vector<std::string>& args);

int sendImage(const TransferOptions& options);
int receiveData(const TransferOptions& options);
int eraseApplication(const TransferOptions& options);
int runChannelsCommand(const ChannelsOptions& options);
int runSamplesCommand(const SamplesOptions& options);
int listPorts();

// A usage error found after parsing ("unknown port 'COM9'"), said the way the
// parser says its own; returns kExitUsage.
int usageError(const std::string& command, const std::string& why);

} // namespace updatetool::cli
