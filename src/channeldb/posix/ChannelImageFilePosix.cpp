// The POSIX side of ChannelImageFile.h: read and write on descriptors, fsync,
// and a rename over the old file.
#include "ChannelImageFile.h"
#include "FileLock.h"
#include "FileReading.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "posix/PathNames.h"

namespace updatetool::channelfile {

namespace {

// Closes the descriptor it owns; close() errors that matter are checked by hand first.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and says whether the kernel accepted it (a late write error shows here).
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Removes the temporary file unless the rename took it over.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::string path_;
};

void tell(std::string* reason, std::string text)
{
    if (reason != nullptr)
        *reason = std::move(text);
}

// Opens without waiting: a FIFO would otherwise block until a writer comes, and a
// tty until its line is up. Anything but a regular file is refused before a read.
UniqueFd openRegular(const std::string& path, int access, std::string* reason)
{
    UniqueFd fd(::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        tell(reason, std::strerror(errno));
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        tell(reason, std::strerror(errno));
        return UniqueFd();
    }
    if (!S_ISREG(info.st_mode)) {
        tell(reason, S_ISDIR(info.st_mode) ? "Is a directory" : "Not a regular file");
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags != -1)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::optional<FileContent> readAll(const UniqueFd& fd, std::size_t limit, std::string* reason)
{
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    auto content = readGrowing(static_cast<std::size_t>(info.st_size), limit, [&](std::uint8_t* into, std::size_t room) -> long {
        for (;;) {
            const ssize_t got = ::read(fd.get(), into, room);
            if (got >= 0 || errno != EINTR)
                return static_cast<long>(got);
        }
    });
    if (!content)
        tell(reason, std::strerror(errno));
    return content;
}

bool writeAll(int fd, std::span<const std::uint8_t> content, std::size_t failAfter)
{
    std::size_t done = 0;
    while (done < content.size()) {
        if (done >= failAfter) {
            errno = ENOSPC;
            return false;
        }
        const std::size_t chunk = std::min(content.size() - done, failAfter - done);
        const ssize_t put = ::write(fd, content.data() + done, chunk);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

std::optional<FileContent> readWholeFile(const std::string& path, std::size_t limit, std::string* reason)
{
    const UniqueFd fd = openRegular(path, O_RDONLY, reason);
    if (!fd.valid())
        return std::nullopt;
    return readAll(fd, limit, reason);
}

std::optional<FileContent> readFileForUpdate(const std::string& path, std::size_t limit, std::string* reason)
{
    const UniqueFd fd = openRegular(path, O_RDWR, reason);
    if (!fd.valid())
        return std::nullopt;
    return readAll(fd, limit, reason);
}

namespace {

// Writes `content` to a temporary file beside `target`, with the permission bits (and,
// for root, the owner) of `like`, flushes it and renames it to `target`.
bool writeThroughTemporary(const std::string& target, std::span<const std::uint8_t> content,
                           const struct stat& like, const ReplaceOptions& options, std::string* reason)
{
    auto fail = [&] {
        tell(reason, std::strerror(errno));
        return false;
    };
    std::string pattern = folderOf(target) + "/." + nameOf(target) + ".save-XXXXXX";
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.valid())
        return fail();
    TemporaryFile temporary(pattern);

    if (::fchmod(fd.get(), like.st_mode & 07777) != 0)
        return fail();
    if (::geteuid() == 0 && ::fchown(fd.get(), like.st_uid, like.st_gid) != 0) {
        // Ownership is a nicety for root; the content and the mode matter.
    }
    if (!writeAll(fd.get(), content, options.failWriteAfterBytes))
        return fail();
    if (options.sync && ::fsync(fd.get()) != 0)
        return fail();
    if (!fd.close())
        return fail();
    if (options.lock != nullptr && !options.lock->prepareReplacement(temporary.path()))
        return fail();
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        if (options.lock != nullptr)
            options.lock->abandonReplacement();
        return fail();
    }
    temporary.release();
    if (options.lock != nullptr)
        options.lock->commitReplacement();

    if (options.sync) {
        // Make the rename itself durable; a folder that cannot be synced still holds
        // the complete new file, so this is not a failure of the save.
        const UniqueFd folder(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.valid())
            ::fsync(folder.get());
    }
    return true;
}

} // namespace

bool replaceFile(const std::string& path, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason)
{
    // Replace the file a symbolic link points to, not the link itself.
    char resolvedBuffer[PATH_MAX];
    if (::realpath(path.c_str(), resolvedBuffer) == nullptr) {
        tell(reason, std::strerror(errno));
        return false;
    }
    const std::string target = resolvedBuffer;
    struct stat original {};
    if (::stat(target.c_str(), &original) != 0) {
        tell(reason, std::strerror(errno));
        return false;
    }
    return writeThroughTemporary(target, content, original, options, reason);
}

bool writeCopyOf(const std::string& original, const std::string& copyPath, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason)
{
    ReplaceOptions copyOptions = options;
    copyOptions.lock = nullptr; // the lock stays with the file being saved
    struct stat like {};
    if (::stat(original.c_str(), &like) != 0) {
        tell(reason, std::strerror(errno));
        return false;
    }
    return writeThroughTemporary(copyPath, content, like, copyOptions, reason);
}

} // namespace updatetool::channelfile
