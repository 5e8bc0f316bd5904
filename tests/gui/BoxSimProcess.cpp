#include "BoxSimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace updatetool::test {

namespace {

bool waitForExit(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

std::string BoxSimProcess::executable()
{
    return UPDATETOOL_BOXSIM_PATH;
}

BoxSimProcess::~BoxSimProcess()
{
    stop();
}

bool BoxSimProcess::start(const std::vector<std::string>& options)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> words{executable()};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    output_ = pipeFds[0];
    if (pid_ < 0)
        return false;

    // The first line is the device path.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{output_, POLLIN, 0};
        if (poll(&poller, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(output_, &c, 1) != 1)
            break;
        if (c == '\n') {
            devicePath_ = line;
            return !devicePath_.empty();
        }
        line += c;
    }
    stop();
    return false;
}

void BoxSimProcess::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!waitForExit(pid_, std::chrono::seconds(3))) {
            kill(pid_, SIGKILL);
            waitForExit(pid_, std::chrono::seconds(3));
        }
        pid_ = -1;
    }
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
}

} // namespace updatetool::test
