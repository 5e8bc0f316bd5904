#include "ImageFile.h"

#include <cerrno>
#include <cstring>
#include <memory>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ByteOrder.h"

namespace updatetool {

namespace {

// The application header: the check value at 12 covers bytes 0-11 and 102-103.
struct HeaderField {
    std::size_t offset;
    std::size_t size;
};
constexpr HeaderField kMagicField{0, 4};
constexpr HeaderField kCoveredHead{0, 12};
constexpr HeaderField kCheckValue{12, 4};
constexpr HeaderField kCoveredTail{102, 2};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix)
{
    if (bytes.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (bytes[i] != static_cast<std::uint8_t>(prefix[i]))
            return false;
    }
    return true;
}

} // namespace

std::uint16_t crc16Xmodem(std::span<const std::uint8_t> data, std::uint16_t crc)
{
    for (std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 0x8000)
                crc = static_cast<std::uint16_t>((crc << 1) ^ 0x1021);
            else
                crc = static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::optional<std::uint8_t> detectFileType(std::span<const std::uint8_t> head)
{
    if (head.size() < kMagicField.size)
        return std::nullopt;
    static constexpr std::string_view kMagics[] = {kMagicApplication, kMagicChannel, kMagicBoot};
    for (std::uint8_t type = 0; type < std::size(kMagics); ++type) {
        if (startsWith(head, kMagics[type]))
            return type;
    }
    return std::nullopt;
}

std::FILE* openImageFile(const std::string& path, std::string* reason)
{
    const auto tell = [&](const char* text) {
        if (reason != nullptr)
            *reason = text;
    };
#ifdef _WIN32
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        tell(std::strerror(errno));
    return file;
#else
    // Without O_NONBLOCK a FIFO would block here until some writer came along.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        tell(std::strerror(errno));
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        tell(S_ISDIR(info.st_mode) ? "Is a directory" : "Not a regular file");
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        tell(std::strerror(errno));
        ::close(fd);
    }
    return file;
#endif
}

std::optional<std::string> readFileHead(const std::string& path, std::size_t count, std::string* reason)
{
    std::unique_ptr<std::FILE, FileCloser> file(openImageFile(path, reason));
    if (!file)
        return std::nullopt;
    std::string head(count, '\0');
    const std::size_t got = std::fread(head.data(), 1, count, file.get());
    head.resize(got);
    return head;
}

bool isChannelFileHead(std::span<const std::uint8_t> head)
{
    return startsWith(head, kCompanySignature) || startsWith(head, kMagicChannel);
}

bool applicationHeaderValid(std::span<const std::uint8_t> first104)
{
    if (first104.size() < kApplicationHeaderExtent)
        return false;
    const std::uint16_t headCrc = crc16Xmodem(first104.subspan(kCoveredHead.offset, kCoveredHead.size));
    const std::uint16_t tailCrc = crc16Xmodem(first104.subspan(kCoveredTail.offset, kCoveredTail.size));
    // The 16-bit XOR is compared with the whole 32-bit field, so bytes 12-13 must be zero.
    return readBE32(first104, kCheckValue.offset) == std::uint32_t{static_cast<std::uint16_t>(headCrc ^ tailCrc)};
}

bool checkImageHeader(std::FILE* file, std::uint8_t fileType)
{
    if (file == nullptr)
        return false;
    bool valid = true;
    if (fileType == 0) {
        std::array<std::uint8_t, kApplicationHeaderExtent> first{};
        const std::size_t got = std::fread(first.data(), 1, first.size(), file);
        valid = got == first.size() && applicationHeaderValid(first);
    }
    // The transfer sends the whole file, header included.
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    return valid;
}

} // namespace updatetool
