#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ImageFile.h"

extern char** environ;

namespace testsupport {

namespace {

std::vector<char*> cStrings(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry)
        env.emplace_back(*entry);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

void killAndReap(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "updatetool-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
        root_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!root_.empty())
        std::filesystem::remove_all(root_, ignored);
}

const char* BoxSimProcess::executable()
{
    return BOXSIM_PATH;
}

BoxSimProcess::~BoxSimProcess()
{
    stop();
}

void BoxSimProcess::stop()
{
    if (pid_ <= 0)
        return;
    // SIGTERM first: boxsim then removes the link it may have made.
    kill(pid_, SIGTERM);
    if (!hasExited(std::chrono::seconds(3)))
        killAndReap(pid_);
}

bool BoxSimProcess::start(const std::vector<std::string>& args)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<std::string> argv{executable()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto argvPointers = cStrings(argv);
    const int spawned = posix_spawn(&pid_, executable(), &actions, nullptr, argvPointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(pipeFds[0]);
        return false;
    }
    // The first line is the device path; give a loaded machine (or a sanitizer
    // build) a few seconds. boxsim prints nothing more, so the pipe can go then.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{pipeFds[0], POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(pipeFds[0], &c, 1) != 1)
            break;
        if (c == '\n') {
            device_ = line;
            break;
        }
        line.push_back(c);
    }
    close(pipeFds[0]);
    if (device_.empty())
        stop();
    return !device_.empty();
}

bool BoxSimProcess::hasExited(std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t done = waitpid(pid_, nullptr, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

pid_t spawnProcess(const std::vector<std::string>& argvIn, const std::vector<std::string>& extraEnv,
                   const std::string& outPath, const std::string& errPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv = argvIn;
    auto argvPointers = cStrings(argv);
    std::vector<std::string> env = environmentWith(extraEnv);
    auto envPointers = cStrings(env);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                         const TempDir& scratch, std::chrono::milliseconds timeout)
{
    ProcessResult result;
    const std::string outPath = scratch.path("process.out");
    const std::string errPath = scratch.path("process.err");
    pid_t pid = spawnProcess(argv, extraEnv, outPath, errPath);
    if (pid < 0)
        return result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (WIFEXITED(status))
                result.exitStatus = WEXITSTATUS(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            killAndReap(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.out = readText(outPath);
    result.err = readText(errPath);
    return result;
}

Bytes randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes makeImage(const std::string& magic, std::size_t size, unsigned seed)
{
    Bytes image = randomBytes(size, seed);
    for (std::size_t i = 0; i < magic.size() && i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(magic[i]);
    if (magic == "VORN" && image.size() >= updatetool::kApplicationHeaderExtent)
        sealApplicationHeader(image);
    return image;
}

void sealApplicationHeader(std::span<std::uint8_t> image)
{
    const std::uint32_t check = updatetool::crc16Xmodem(image.first(12)) ^ updatetool::crc16Xmodem(image.subspan(102, 2));
    image[12] = static_cast<std::uint8_t>(check >> 24);
    image[13] = static_cast<std::uint8_t>(check >> 16);
    image[14] = static_cast<std::uint8_t>(check >> 8);
    image[15] = static_cast<std::uint8_t>(check);
}

void sealApplicationHeader(std::string& image)
{
    sealApplicationHeader(std::span(reinterpret_cast<std::uint8_t*>(image.data()), image.size()));
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool waitForText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (readText(path).find(text) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testsupport
