#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace updatetool {

// An output that takes the place of its target only when it is complete: the bytes
// go to a temporary file beside the target, which commit() flushes to the disk and
// renames over the target in one step. Dropped without commit (a failed write, a
// cut-short reception, an early return), the temporary file is removed and the
// target keeps its old content. A target that exists and is no regular file (a
// device such as /dev/null, a FIFO) cannot be replaced by a rename and holds no
// content to keep, so it is written in place. Every failure keeps the system's
// own words in error().
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    bool open(const std::string& target);
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text);
    // Flushes to the disk and renames over the target; false (and the target
    // untouched) when any of that fails.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

    // The whole of `content` as the target's new content, in the steps above; the
    // reason of a failure goes to `error` when given.
    static bool writeWhole(const std::string& target, std::string_view content, std::string* error = nullptr);

    bool isOpen() const { return handle_ != kNoHandle; }
    const std::string& error() const { return error_; }

private:
    static constexpr std::intptr_t kNoHandle = -1;
    void fail();
    void closeHandle();

    std::intptr_t handle_ = kNoHandle;   // a descriptor, or a Windows handle
    std::string target_;
    std::string temporary_;               // empty when the target is written in place
    std::string error_;
    bool failed_ = false;
};

// Both paths name one existing file (same device and inode, or on Windows the same
// volume and file index), so a symbolic or hard link to an input is caught too.
bool isSameFile(const std::string& first, const std::string& second);

} // namespace updatetool
