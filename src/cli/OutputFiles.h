#pragma once

#include <optional>
#include <string>
#include <vector>

namespace updatetool::cli {

// A file a command names, with the words that say which one it is ("the trace
// trace.txt", "OUTPUT got.img").
struct NamedFile {
    std::string path;
    std::string role;
};

// Why these outputs cannot be written, said before any of them is opened: two of
// them are one file, or one is an input (same device and inode, so a link counts
// too; for files that do not exist yet, the same absolute name). Nothing when
// every output is a file of its own.
std::optional<std::string> outputClash(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs);

} // namespace updatetool::cli
