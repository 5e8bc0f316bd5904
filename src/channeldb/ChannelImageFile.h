#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>

// Whole-file reads and the replace-by-rename that keeps a channel image intact when a
// save goes wrong half way.
namespace updatetool::channelfile {

// A file's bytes in a buffer that is not cleared first: loading a channel image
// should cost little more than reading it.
struct FileContent {
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t size = 0;
    std::span<std::uint8_t> bytes() { return {buffer.get(), size}; }
    std::span<const std::uint8_t> bytes() const { return {buffer.get(), size}; }
};

// The file's bytes (at most `limit` of them), or nothing when it cannot be opened or read;
// `reason` then gets the system's words for why. Only a regular file is read: a FIFO, a
// device or a folder is refused without waiting on it.
std::optional<FileContent> readWholeFile(const std::string& path,
                                         std::size_t limit = std::numeric_limits<std::size_t>::max(),
                                         std::string* reason = nullptr);

// Like readWholeFile, but only for a file this process may also write: a save must
// not replace a file the user could not have written in place.
std::optional<FileContent> readFileForUpdate(const std::string& path,
                                             std::size_t limit = std::numeric_limits<std::size_t>::max(),
                                             std::string* reason = nullptr);

class FileLock;

struct ReplaceOptions {
    // Flush the new content and the folder entry to the disk before reporting success.
    bool sync = true;
    // Fault injection for tests: the temporary file's write fails once this many bytes
    // are written, the way a full disk would.
    std::size_t failWriteAfterBytes = std::numeric_limits<std::size_t>::max();
    // The lock held on the file being replaced: it moves to the new file with the rename.
    FileLock* lock = nullptr;
};

// Writes `content` to a temporary file beside `path`, flushes it and renames it over
// `path`, keeping the original's permission bits. On any failure the temporary file is
// removed, `path` is untouched and the result is false, with the system's words for
// why in `reason`.
bool replaceFile(const std::string& path, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason = nullptr);

// Writes `content` to `copyPath` the same way, with the permission bits of `original`:
// a file already at `copyPath` is replaced only by a complete copy.
bool writeCopyOf(const std::string& original, const std::string& copyPath, std::span<const std::uint8_t> content,
                 const ReplaceOptions& options, std::string* reason = nullptr);

} // namespace updatetool::channelfile
