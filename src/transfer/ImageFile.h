#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace updatetool {

inline constexpr std::string_view kMagicApplication = "VORN";
inline constexpr std::string_view kMagicChannel = "QVCH";
inline constexpr std::string_view kMagicBoot = "QVBT";
// Begins every received file; 15 characters and a trailing blank.
inline constexpr std::string_view kCompanySignature = "VORN LUMEN CORP ";
inline constexpr std::size_t kHeaderSize = 16;
// The header check reads up to offset 104; a shorter application image is invalid.
inline constexpr std::size_t kApplicationHeaderExtent = 104;

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
std::uint16_t crc16Xmodem(std::span<const std::uint8_t> data, std::uint16_t crc = 0);

// File type index (0 application, 1 channel, 2 boot) from the first bytes of a
// file, or nothing when they hold none of the three magics.
std::optional<std::uint8_t> detectFileType(std::span<const std::uint8_t> head);
// Opens an image for reading without waiting on it: a FIFO, a device or a folder is
// refused (nothing, and `reason` says why) instead of hanging the job.
std::FILE* openImageFile(const std::string& path, std::string* reason = nullptr);
// Reads the first 16 bytes of a file. Nothing when the file cannot be opened (and
// `reason` says why); a shorter file gives fewer bytes.
std::optional<std::string> readFileHead(const std::string& path, std::size_t count = kHeaderSize,
                                        std::string* reason = nullptr);
// Channel Edit accepts a file that starts with the company signature or with "QVCH".
bool isChannelFileHead(std::span<const std::uint8_t> head);

// Header check of an application image over the first 104 bytes.
bool applicationHeaderValid(std::span<const std::uint8_t> first104);
// Header check of an open file for the file type; only type 0 is checked.
// Leaves the read position at offset 0.
bool checkImageHeader(std::FILE* file, std::uint8_t fileType);

} // namespace updatetool
