#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>

#include "ChannelImageFile.h"

namespace updatetool::channelfile {

// Reads a file whole, up to `limit` bytes, through `readChunk(destination, room)`,
// which answers the bytes it read, 0 at the end, or a negative value on an error.
// `sizeHint` is the size the file had when opened; one byte more than it shows at
// once whether the file grew meanwhile, and the buffer grows if it did.
template <typename ReadChunk>
std::optional<FileContent> readGrowing(std::size_t sizeHint, std::size_t limit, ReadChunk readChunk)
{
    FileContent content;
    std::size_t capacity = std::min(sizeHint, limit);
    if (capacity < limit)
        ++capacity;
    content.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    while (content.size < limit) {
        if (content.size == capacity) {
            const std::size_t larger = std::min(capacity + capacity / 2 + 65536, limit);
            auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(larger);
            std::copy_n(content.buffer.get(), content.size, grown.get());
            content.buffer = std::move(grown);
            capacity = larger;
        }
        const long got = readChunk(content.buffer.get() + content.size, capacity - content.size);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        content.size += static_cast<std::size_t>(got);
    }
    return content;
}

} // namespace updatetool::channelfile
