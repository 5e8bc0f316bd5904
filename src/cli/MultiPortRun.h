#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TransferJob.h"

namespace updatetool::cli {

// The ports the user named, with each glob ('/dev/ttyUSB*', on Windows 'COM*')
// and each usb:VID:PID[:SERIAL] replaced by the devices it matches, in order,
// and every device only once (a by-id name and the device it links to are one
// port). Nothing when a glob or USB id matches nothing; error says which.
std::optional<std::vector<std::string>> expandPorts(const std::vector<std::string>& named, std::string& error);

// One tag per port for its file names, in order and all different: the port's
// whole last name ("ttyUSB0" for /dev/ttyUSB0, a by-id name's last part, "COM3"),
// with characters no file name may hold made '_', and a number after the ones
// that would still be the same ("usb-box-1", "usb-box-2").
std::vector<std::string> portFileTags(const std::vector<std::string>& ports);

// A file name for one of several ports: the port's tag goes before the
// extension, "out.img" and "ttyUSB0" make "out-ttyUSB0.img".
std::string withPortName(const std::string& path, const std::string& tag);

// What the result line adds when the box sent packets past the size it announced.
std::string extraBytesNote(const TransferJob& job);

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
// the port. Ctrl-C cancels them all; a box that has not answered within
// giveUpAfterMs (0: never) is given up on alone, as a port failure. Ends with the
// reason lines of the ports that failed on standard error, a table of port,
// result, bytes and seconds on standard output, and returns 0 when every job
// succeeded, else the highest exit status among them.
int runOnPorts(std::vector<PortJob>& jobs, std::uint32_t giveUpAfterMs = 0);

} // namespace updatetool::cli
