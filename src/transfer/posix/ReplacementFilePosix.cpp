// The POSIX side of ReplacementFile: a descriptor on a temporary file beside the
// target, fsync, and a rename over the target.
#include "ReplacementFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "PathNames.h"

namespace updatetool {

namespace {

// Several jobs of one process may make their temporary files in one folder at once.
std::atomic<unsigned> temporaryCount{0};

int fdOf(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

} // namespace

void ReplacementFile::fail()
{
    if (error_.empty())
        error_ = std::system_category().message(errno);
    failed_ = true;
}

void ReplacementFile::closeHandle()
{
    if (handle_ != kNoHandle)
        ::close(fdOf(handle_));
    handle_ = kNoHandle;
}

bool ReplacementFile::open(const std::string& target)
{
    discard();
    error_.clear();
    failed_ = false;
    target_ = target;
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        errno = EISDIR;
        fail();
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) {
            fail();
            return false;
        }
        handle_ = fd;
        return true;
    }
    // A rename needs only the folder's permission: a file the user could not
    // write in place must not be replaced by one either.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        fail();
        return false;
    }
    // Replace the file a symbolic link points to, not the link itself.
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(target.c_str(), resolved) != nullptr)
            target_ = resolved;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = folderOf(target_) + "/." + nameOf(target_) + ".part-" + std::to_string(::getpid()) + "-" +
                     std::to_string(temporaryCount.fetch_add(1));
        const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            handle_ = fd;
            break;
        }
        if (errno != EEXIST) {
            temporary_.clear();
            fail();
            return false;
        }
    }
    if (handle_ == kNoHandle) {
        temporary_.clear();
        fail();
        return false;
    }
    // A replaced file keeps who may read it.
    if (exists)
        ::fchmod(fdOf(handle_), existing.st_mode & 07777);
    return true;
}

bool ReplacementFile::write(std::span<const std::uint8_t> bytes)
{
    if (handle_ == kNoHandle || failed_)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fdOf(handle_), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            fail();
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool ReplacementFile::write(std::string_view text)
{
    return write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool ReplacementFile::commit()
{
    if (handle_ == kNoHandle || failed_) {
        discard();
        return false;
    }
    // A device or FIFO has nothing to sync; fsync says EINVAL there.
    const bool inPlace = temporary_.empty();
    if (!inPlace && ::fsync(fdOf(handle_)) != 0) {
        fail();
        discard();
        return false;
    }
    const int fd = fdOf(handle_);
    handle_ = kNoHandle;
    if (::close(fd) != 0) {
        fail();
        discard();
        return false;
    }
    if (inPlace)
        return true;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail();
        discard();
        return false;
    }
    temporary_.clear();
    // Make the rename itself durable; a folder that cannot be synced still holds
    // the complete new file, so this is no failure.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void ReplacementFile::discard()
{
    closeHandle();
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool isSameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace updatetool
