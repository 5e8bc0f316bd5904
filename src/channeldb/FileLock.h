#pragma once

#include <cstdint>
#include <string>

namespace updatetool::channelfile {

// An advisory lock on a channel image, held for as long as one program edits it, so
// that a second editor or command refuses instead of saving over the first one's work.
// Other programs may still read the file. The lock is the system's (flock on Linux,
// LockFileEx on Windows): it never outlives the process that holds it.
class FileLock {
public:
    enum class Result {
        Locked, // this object now holds the lock on the file the path names
        Busy,   // another program holds it
        Failed, // the file could not be opened; `reason` says why
    };

    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Takes the lock on the file `path` names, without waiting. A save by another
    // program replaces the file by renaming a new one into place, so a lock taken on
    // the old file would guard nothing: once locked, the path is checked to still
    // name the locked file, and the lock is taken again on the new one when not.
    Result acquire(const std::string& path, std::string* reason = nullptr);
    void release();
    bool held() const { return handle_ != kNone; }

    // A save of the held file renames a new file over it. The new file is locked
    // before the rename (prepare), so that no other program can take it in between;
    // after the rename the lock moves to it (commit), or stays where it was (abandon).
    bool prepareReplacement(const std::string& newFilePath);
    void commitReplacement();
    void abandonReplacement();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
    std::intptr_t replacement_ = kNone;
    std::string path_; // the path last locked, to take the lock again after a failed rename
};

// The words for a file another program holds, for the editor and the command line alike.
inline constexpr const char* kFileBusyText = "is being edited by another program";

} // namespace updatetool::channelfile
