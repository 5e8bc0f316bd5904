#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// Whether a file's bytes are a whole channel image with every check word right,
// before it is sent to a box or edited: a damaged list sent to the box replaces
// the box's own.
namespace updatetool {

// Empty when `image` holds a whole channel image (more bytes after it are fine)
// whose check words all match; otherwise what is wrong, in words for the user.
std::string channelImageProblem(std::span<const std::uint8_t> image);

// The same for an open file (read from its start); the read position is left at 0.
// Fits TransferJob::channelImageCheck.
std::string channelImageFileProblem(std::FILE* file);

// "it has N bytes; a channel image has 851,984", for a file that is too short.
std::string shortImageReason(std::size_t size);

} // namespace updatetool
