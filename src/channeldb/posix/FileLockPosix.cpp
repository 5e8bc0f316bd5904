// flock() on the image itself: the lock belongs to the open file, so it goes with
// the descriptor and with the process.
#include "FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace updatetool::channelfile {

namespace {

int toFd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

// Whether `path` still names the file open on `fd`.
bool pathNamesFile(const std::string& path, int fd)
{
    struct stat named {};
    struct stat held {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev
           && named.st_ino == held.st_ino;
}

int lockWithoutWaiting(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

} // namespace

FileLock::Result FileLock::acquire(const std::string& path, std::string* reason)
{
    release();
    // A few rounds are enough: each one means another program saved in between.
    for (int attempt = 0; attempt < 8; ++attempt) {
        // Read-only and non-blocking: the lock needs no write access, and a FIFO
        // must not hang the program.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (reason != nullptr)
                *reason = std::strerror(errno);
            return Result::Failed;
        }
        const int error = lockWithoutWaiting(fd);
        if (error == EWOULDBLOCK) {
            ::close(fd);
            return Result::Busy;
        }
        if (error != 0) {
            // A file system without locks: nothing to guard against, nothing to hold.
            ::close(fd);
            return Result::Locked;
        }
        if (pathNamesFile(path, fd)) {
            handle_ = fd;
            return Result::Locked;
        }
        ::close(fd);
    }
    return Result::Busy;
}

void FileLock::release()
{
    if (handle_ != kNone)
        ::close(toFd(handle_));
    handle_ = kNone;
}

bool FileLock::prepareReplacement(const std::string& newFilePath)
{
    abandonReplacement();
    if (!held())
        return true;
    const int fd = ::open(newFilePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (lockWithoutWaiting(fd) != 0) {
        ::close(fd);
        return false;
    }
    replacement_ = fd;
    return true;
}

void FileLock::abandonReplacement()
{
    if (replacement_ != kNone)
        ::close(toFd(replacement_));
    replacement_ = kNone;
}

} // namespace updatetool::channelfile
