// LockFileEx on one byte far past any image's end: the lock then keeps a second
// editor out without stopping anyone from reading the file.
#include "FileLock.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "win32/WindowsText.h"

namespace updatetool::channelfile {

namespace {

HANDLE toHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE openShared(const std::string& path)
{
    return ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lockWithoutWaiting(HANDLE file, DWORD& error)
{
    OVERLAPPED pastTheEnd {};
    pastTheEnd.Offset = 0xFFFFFFFE;
    pastTheEnd.OffsetHigh = 0x7FFFFFFF;
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &pastTheEnd))
        return true;
    error = ::GetLastError();
    return false;
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first {};
    BY_HANDLE_FILE_INFORMATION second {};
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second)
           && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber
           && first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

} // namespace

FileLock::Result FileLock::acquire(const std::string& path, std::string* reason)
{
    release();
    path_ = path;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const HANDLE file = openShared(path);
        if (file == INVALID_HANDLE_VALUE) {
            if (reason != nullptr)
                *reason = systemMessage(::GetLastError());
            return Result::Failed;
        }
        DWORD error = 0;
        if (!lockWithoutWaiting(file, error)) {
            ::CloseHandle(file);
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
                return Result::Busy;
            return Result::Locked; // no locks on this file system: nothing to hold
        }
        const HANDLE again = openShared(path);
        const bool same = again != INVALID_HANDLE_VALUE && sameFile(file, again);
        if (again != INVALID_HANDLE_VALUE)
            ::CloseHandle(again);
        if (same) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            return Result::Locked;
        }
        ::CloseHandle(file);
    }
    return Result::Busy;
}

void FileLock::release()
{
    if (handle_ != kNone)
        ::CloseHandle(toHandle(handle_));
    handle_ = kNone;
}

// Windows will not rename over a file this process holds open, so the old file's
// lock is let go just before the rename, once the new file is locked.
bool FileLock::prepareReplacement(const std::string& newFilePath)
{
    abandonReplacement();
    if (!held())
        return true;
    const HANDLE file = openShared(newFilePath);
    DWORD error = 0;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (!lockWithoutWaiting(file, error)) {
        ::CloseHandle(file);
        return false;
    }
    replacement_ = reinterpret_cast<std::intptr_t>(file);
    release();
    return true;
}

void FileLock::abandonReplacement()
{
    if (replacement_ == kNone)
        return;
    ::CloseHandle(toHandle(replacement_));
    replacement_ = kNone;
    // The old file keeps its name: hold it again.
    if (!path_.empty())
        acquire(path_);
}

} // namespace updatetool::channelfile
