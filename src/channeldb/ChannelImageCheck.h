#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "ChannelBlockLayout.h"

// Whether a file's bytes are a whole channel image with every check word right,
// before it is sent to a box or edited: a damaged list sent to the box replaces
// the box's own.
namespace updatetool {

// The check words as a save writes them and a check reads them: the CRC of a table
// (behind the 0xA5A5 tag), and the CRC plus 0x5A5A of a piece of the list area or of
// the area check range.
std::uint16_t tableCheckCrc(std::span<const std::uint8_t> image, const channelblock::Area& table);
std::uint16_t pieceCheckWord(std::span<const std::uint8_t> image, const channelblock::Area& piece);

// Empty when `image` holds a whole channel image (more bytes after it are fine)
// whose check words all match; otherwise what is wrong, in words for the user.
std::string channelImageProblem(std::span<const std::uint8_t> image);

// The same for an open file (read from its start); the read position is left at 0.
// Fits TransferJob::channelImageCheck.
std::string channelImageFileProblem(std::FILE* file);

// "it has N bytes; a channel image has 851,984", for a file that is too short.
std::string shortImageReason(std::size_t size);

} // namespace updatetool
