#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace updatetool {

// The file the receive job creates: the company signature, then the announced
// number of received bytes. Every step reports failure instead of throwing; a
// file that could not be created simply fails all its writes. Closes itself.
class ReceivedFile {
public:
    ReceivedFile() = default;
    ~ReceivedFile();
    ReceivedFile(const ReceivedFile&) = delete;
    ReceivedFile& operator=(const ReceivedFile&) = delete;

    // Creates the file, replacing any file of that name.
    bool create(const std::string& path);
    bool writeSignature();
    bool writeData(std::span<const std::uint8_t> bytes);
    // Also reports a write that failed only when the buffered bytes reached the disk.
    bool close();
    bool isOpen() const { return file_ != nullptr; }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

} // namespace updatetool
