#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace updatetool::test {

// A running boxsim: the simulated box on a pseudo-terminal. Killed and reaped
// when it goes out of scope, so no test leaves one behind.
class BoxSimProcess {
public:
    BoxSimProcess() = default;
    ~BoxSimProcess();
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    // Starts boxsim with these options and waits (at most 10 s) for the device
    // path it prints first. False when it did not start.
    bool start(const std::vector<std::string>& options);
    const std::string& devicePath() const { return devicePath_; }
    // Ends it now (SIGTERM, then SIGKILL) and waits for it.
    void stop();

    static std::string executable();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string devicePath_;
};

} // namespace updatetool::test
