#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TransferJob.h"

namespace updatetool::cli {

// The ports the user named, with each glob ('/dev/ttyUSB*') replaced by the
// devices it matches, in order, and every device only once (a by-id name and
// the device it links to are one port). Nothing when a glob matches nothing;
// error says which.
std::optional<std::vector<std::string>> expandPorts(const std::vector<std::string>& named, std::string& error);

// A file name for one of several ports: the port's own name goes before the
// extension, "out.img" and "/dev/ttyUSB0" make "out-ttyUSB0.img".
std::string withPortName(const std::string& path, const std::string& port);

// The exit status one finished job stands for: 0 success, 1 cancelled, 5 a
// receive that ended short, 2 a received file that could not be written,
// else the job's result.
int jobExitStatus(const TransferJob& job, int result);

// One job of a run over several ports.
struct PortJob {
    std::string port;
    std::unique_ptr<TransferJob> job;
};

// Runs every job at once, each on its own worker, and polls them together:
// on a terminal one live line per port, otherwise plain lines that begin with
// the port. Ctrl-C cancels them all. Ends with a table of port, result, bytes
// and seconds on standard output, and returns 0 when every job succeeded,
// else the highest exit status among them.
int runOnPorts(std::vector<PortJob>& jobs);

} // namespace updatetool::cli
