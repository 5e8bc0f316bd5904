#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

// Helpers shared by the end-to-end, command-line and window tests: a boxsim
// child process, a scratch folder, and test images. No Qt here, so the
// sanitizer builds (which leave the windows out) can use all of it.
namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// A temporary folder, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return (root_ / name).string(); }

private:
    std::filesystem::path root_;
};

// boxsim, the simulated box on a pseudo-terminal, as a child process. Stopped
// and reaped when this object goes, so no test leaves one behind.
class BoxSimProcess {
public:
    BoxSimProcess() = default;
    ~BoxSimProcess();
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    // Starts boxsim with these options and waits (at most 10 s) for the device
    // path it prints first. False when it did not start.
    bool start(const std::vector<std::string>& args);
    const std::string& device() const { return device_; }
    // True once the process has ended (reaps it); waits up to timeout.
    bool hasExited(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    // Ends it now (SIGTERM, then SIGKILL) and waits for it.
    void stop();

    // The boxsim this build made, by its absolute path.
    static const char* executable();

private:
    pid_t pid_ = -1;
    std::string device_;
};

// Runs a program to its end (killed after the time-out) with its output in files.
struct ProcessResult {
    int exitStatus = -1;      // -1 when it did not end by itself
    std::string out;
    std::string err;
};
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                         const TempDir& scratch, std::chrono::milliseconds timeout);

// Starts a program in the background; returns its pid, or -1.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                   const std::string& outPath, const std::string& errPath);

// An image of the given magic and size, with a valid application header for "VORN".
Bytes makeImage(const std::string& magic, std::size_t size, unsigned seed = 1);
// Writes the application header check: offset 12 holds CRC(bytes 0-11) XOR
// CRC(bytes 102-103), big-endian 32-bit. The image must hold at least 104 bytes.
void sealApplicationHeader(std::span<std::uint8_t> image);
void sealApplicationHeader(std::string& image);
Bytes randomBytes(std::size_t size, unsigned seed);
void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
std::string readText(const std::string& path);
// Waits until the file contains the text (boxsim logs as it goes).
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

} // namespace testsupport
