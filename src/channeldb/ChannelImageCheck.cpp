#include "ChannelImageCheck.h"

#include <vector>

#include "ByteOrder.h"
#include "ChannelBlockLayout.h"
#include "Crc16Arc.h"

namespace updatetool {

using namespace channelblock;

namespace {

std::string withThousands(std::size_t value)
{
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[at]);
    }
    return grouped;
}

std::string mismatch(std::string_view what)
{
    std::string text = "the ";
    text.append(what);
    text.append(" does not match its contents");
    return text;
}

} // namespace

std::uint16_t tableCheckCrc(std::span<const std::uint8_t> image, const Area& table)
{
    return crc16Arc(image.subspan(table.offset, table.length));
}

std::uint16_t pieceCheckWord(std::span<const std::uint8_t> image, const Area& piece)
{
    return static_cast<std::uint16_t>(crc16Arc(image.subspan(piece.offset, piece.length)) + kCheckWordAddend);
}

std::string channelImageFileProblem(std::FILE* file)
{
    std::vector<std::uint8_t> image(kImageSize);
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return "it cannot be read";
    image.resize(std::fread(image.data(), 1, image.size(), file));
    std::fseek(file, 0, SEEK_SET);
    return channelImageProblem(image);
}

std::string shortImageReason(std::size_t size)
{
    std::string text = "it has ";
    text.append(withThousands(size));
    text.append(" bytes; a channel image has ");
    text.append(withThousands(kImageSize));
    return text;
}

std::string channelImageProblem(std::span<const std::uint8_t> image)
{
    if (image.size() < kImageSize)
        return shortImageReason(image.size());
    // The same words a save writes: a tag and the CRC of each table, the CRC plus
    // the addend over the area and over each piece of the list area.
    for (const auto& [checkWord, table] : {std::pair{kSatelliteCheckWord, kSatelliteTable},
                                           std::pair{kTransponderCheckWord, kTransponderTable}}) {
        if (readBE16(image, checkWord.offset) != kTableCheckTag
            || readBE16(image, checkWord.offset + 2) != tableCheckCrc(image, table))
            return mismatch(checkWord.name);
    }
    if (readBE16(image, kAreaCheckWord.offset) != pieceCheckWord(image, kAreaCheckRange))
        return mismatch(kAreaCheckWord.name);
    for (const CheckWord& word : kCheckWords) {
        const std::size_t at = kCheckWordTable.offset + 2 * static_cast<std::size_t>(word.word);
        if (readBE16(image, at) != pieceCheckWord(image, word.covered))
            return mismatch(std::string("check word of the ").append(word.covered.name));
    }
    return {};
}

} // namespace updatetool
