// The Windows side of ReplacementFile: a handle on a temporary file beside the
// target, FlushFileBuffers, and one MoveFileEx over the target.
#include "ReplacementFile.h"

#include <algorithm>
#include <atomic>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "WindowsText.h"

namespace updatetool {

namespace {

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::atomic<unsigned> temporaryCount{0};

} // namespace

void ReplacementFile::fail()
{
    if (error_.empty())
        error_ = systemMessage(::GetLastError());
    failed_ = true;
}

void ReplacementFile::closeHandle()
{
    if (handle_ != kNoHandle)
        ::CloseHandle(handleOf(handle_));
    handle_ = kNoHandle;
}

bool ReplacementFile::open(const std::string& target)
{
    discard();
    error_.clear();
    failed_ = false;
    target_ = target;
    const std::wstring wideTarget = widen(target);
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_DIRECTORY);
        fail();
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        fail();
        return false;
    }
    // A device name (NUL, CON) is written in place: there is no file to replace.
    const HANDLE existing = ::CreateFileW(wideTarget.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        if (::GetFileType(existing) != FILE_TYPE_DISK) {
            handle_ = reinterpret_cast<std::intptr_t>(existing);
            return true;
        }
        ::CloseHandle(existing);
    }
    for (int attempt = 0; attempt < 100 && handle_ == kNoHandle; ++attempt) {
        temporary_ = target + ".part-" + std::to_string(::GetCurrentProcessId()) + "-" +
                     std::to_string(temporaryCount.fetch_add(1));
        const HANDLE file = ::CreateFileW(widen(temporary_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
        } else if (::GetLastError() != ERROR_FILE_EXISTS) {
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
    return true;
}

bool ReplacementFile::write(std::span<const std::uint8_t> bytes)
{
    if (handle_ == kNoHandle || failed_)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
        DWORD put = 0;
        if (!::WriteFile(handleOf(handle_), bytes.data() + done, chunk, &put, nullptr) || put == 0) {
            if (put == 0 && ::GetLastError() == ERROR_SUCCESS)
                ::SetLastError(ERROR_DISK_FULL);
            fail();
            return false;
        }
        done += put;
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
    const bool inPlace = temporary_.empty();
    if (!inPlace && !::FlushFileBuffers(handleOf(handle_))) {
        fail();
        discard();
        return false;
    }
    const HANDLE file = handleOf(handle_);
    handle_ = kNoHandle;
    if (!::CloseHandle(file)) {
        fail();
        discard();
        return false;
    }
    if (inPlace)
        return true;
    // One rename that replaces the old file, so the name always holds a complete file.
    if (!::MoveFileExW(widen(temporary_).c_str(), widen(target_).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail();
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void ReplacementFile::discard()
{
    closeHandle();
    if (!temporary_.empty())
        ::DeleteFileW(widen(temporary_).c_str());
    temporary_.clear();
}

namespace {

bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    // Backup semantics lets a folder be opened too; no access is needed to read the identity.
    const HANDLE file = ::CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    return known;
}

} // namespace

bool isSameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return fileIdentity(first, a) && fileIdentity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace updatetool
