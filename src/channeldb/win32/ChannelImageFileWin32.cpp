// The Windows side of ChannelImageFile.h: the new content goes to a temporary file
// written through to the disk, which then takes the old file's place in one rename.
#include "ChannelImageFile.h"
#include "FileLock.h"
#include "FileReading.h"

#include <algorithm>
#include <string>
#include <utility>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "win32/WindowsText.h"

namespace updatetool::channelfile {

namespace {

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { close(); }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Closes now and says whether the system accepted it.
    bool close()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// Other programs may go on reading or writing the file, as they may on Linux.
UniqueHandle openExisting(const std::string& path, DWORD access)
{
    return UniqueHandle(::CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void tell(std::string* reason, std::string text)
{
    if (reason != nullptr)
        *reason = std::move(text);
}

std::optional<FileContent> readAll(const UniqueHandle& file, std::size_t limit, std::string* reason)
{
    LARGE_INTEGER size{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        tell(reason, "Not a regular file");
        return std::nullopt;
    }
    if (!::GetFileSizeEx(file.get(), &size)) {
        tell(reason, systemMessage(::GetLastError()));
        return std::nullopt;
    }
    return readGrowing(static_cast<std::size_t>(size.QuadPart), limit, [&](std::uint8_t* into, std::size_t room) -> long {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30));
        if (!::ReadFile(file.get(), into, chunk, &got, nullptr))
            return -1;
        return static_cast<long>(got);
    });
}

bool writeAll(HANDLE file, std::span<const std::uint8_t> content, std::size_t failAfter)
{
    std::size_t done = 0;
    while (done < content.size()) {
        if (done >= failAfter) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        const DWORD chunk = static_cast<DWORD>(std::min({content.size() - done, failAfter - done, std::size_t{1} << 30}));
        DWORD put = 0;
        if (!::WriteFile(file, content.data() + done, chunk, &put, nullptr) || put == 0)
            return false;
        done += put;
    }
    return true;
}

// The new file beside the target, until it takes the target's place: removed, once
// closed, when anything goes wrong before that.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        handle.close();
        if (!path.empty())
            ::DeleteFileW(path.c_str());
    }
    void release() { path.clear(); }

    UniqueHandle handle;
    std::wstring path;
};

// Writes `content` to a new file beside `target` with the attributes `like` (hidden,
// archive, ...; never read-only, or it could not be written), flushes it to the disk
// and renames it over the target.
bool writeThroughTemporary(const std::string& target, std::span<const std::uint8_t> content, DWORD like,
                           const ReplaceOptions& options, std::string* reason)
{
    auto fail = [&] {
        tell(reason, systemMessage(::GetLastError()));
        return false;
    };
    const std::wstring wideTarget = widen(target);
    DWORD attributes = like & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    const DWORD flags = options.sync ? FILE_FLAG_WRITE_THROUGH : 0;
    TemporaryFile temporary;
    std::string suffix;
    // A name nobody else holds: CREATE_NEW refuses one that exists.
    for (unsigned attempt = 0; attempt < 100 && !temporary.handle.valid(); ++attempt) {
        suffix = ".save-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64() + attempt);
        temporary.path = wideTarget + widen(suffix);
        temporary.handle = UniqueHandle(::CreateFileW(temporary.path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                      CREATE_NEW, attributes | flags, nullptr));
        if (!temporary.handle.valid()) {
            const DWORD error = ::GetLastError();
            temporary.path.clear();
            if (error != ERROR_FILE_EXISTS)
                return fail();
        }
    }
    if (!temporary.handle.valid())
        return fail();

    if (!writeAll(temporary.handle.get(), content, options.failWriteAfterBytes))
        return fail();
    if (options.sync && !::FlushFileBuffers(temporary.handle.get()))
        return fail();
    if (!temporary.handle.close())
        return fail();
    // One rename that replaces the old file, so the name always holds a complete
    // file. ReplaceFileW instead moves the old file aside first and puts the new one
    // in its place after, which leaves a moment with neither.
    const DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | (options.sync ? MOVEFILE_WRITE_THROUGH : 0);
    if (options.lock != nullptr && !options.lock->prepareReplacement(target + suffix))
        return fail();
    if (!::MoveFileExW(temporary.path.c_str(), wideTarget.c_str(), moveFlags)) {
        if (options.lock != nullptr)
            options.lock->abandonReplacement();
        return fail();
    }
    temporary.release();
    if (options.lock != nullptr)
        options.lock->commitReplacement();
    return true;
}

} // namespace

std::optional<FileContent> readWholeFile(const std::string& path, std::size_t limit, std::string* reason)
{
    UniqueHandle file = openExisting(path, GENERIC_READ);
    if (!file.valid()) {
        tell(reason, systemMessage(::GetLastError()));
        return std::nullopt;
    }
    return readAll(file, limit, reason);
}

std::optional<FileContent> readFileForUpdate(const std::string& path, std::size_t limit, std::string* reason)
{
    // The read-only attribute is checked by itself: not every file system refuses
    // write access for it (Wine running as root grants it).
    const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        tell(reason, systemMessage(::GetLastError()));
        return std::nullopt;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        tell(reason, systemMessage(ERROR_ACCESS_DENIED));
        return std::nullopt;
    }
    UniqueHandle file = openExisting(path, GENERIC_READ | GENERIC_WRITE);
    if (!file.valid()) {
        tell(reason, systemMessage(::GetLastError()));
        return std::nullopt;
    }
    return readAll(file, limit, reason);
}

bool replaceFile(const std::string& path, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason)
{
    const DWORD original = ::GetFileAttributesW(widen(path).c_str());
    if (original == INVALID_FILE_ATTRIBUTES || (original & FILE_ATTRIBUTE_DIRECTORY)) {
        tell(reason, original == INVALID_FILE_ATTRIBUTES ? systemMessage(::GetLastError()) : "Is a directory");
        return false;
    }
    return writeThroughTemporary(path, content, original, options, reason);
}

bool writeCopyOf(const std::string& original, const std::string& copyPath, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason)
{
    ReplaceOptions copyOptions = options;
    copyOptions.lock = nullptr; // the lock stays with the file being saved
    const DWORD like = ::GetFileAttributesW(widen(original).c_str());
    if (like == INVALID_FILE_ATTRIBUTES) {
        tell(reason, systemMessage(::GetLastError()));
        return false;
    }
    return writeThroughTemporary(copyPath, content, like, copyOptions, reason);
}

} // namespace updatetool::channelfile
