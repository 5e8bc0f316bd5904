#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// Helpers shared by the end-to-end and command-line tests: a boxsim child
// process, a scratch folder, and test images.
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

// boxsim as a child process. The device path is read from its first output
// line; the process is killed and reaped when this object goes.
class BoxSimProcess {
public:
    BoxSimProcess() = default;
    ~BoxSimProcess();
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    bool start(const std::vector<std::string>& args);
    const std::string& device() const { return device_; }
    // True once the process has ended (reaps it); waits up to timeout.
    bool hasExited(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    void stop();

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
Bytes randomBytes(std::size_t size, unsigned seed);
void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
std::string readText(const std::string& path);
// Waits until the file contains the text (boxsim logs as it goes).
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

} // namespace testsupport
