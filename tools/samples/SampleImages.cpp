#include "SampleImages.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <span>

#include "ByteOrder.h"
#include "ChannelBlockLayout.h"
#include "Crc16Arc.h"
#include "ImageFile.h"
#include "ReplacementFile.h"

namespace updatetool::samples {

using namespace channelblock;

namespace {

// Erased flash reads 0xFF: every byte the box never wrote.
constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint32_t kStreamRefBase = 0xBFEC0000;
constexpr std::uint32_t kEditorChannelMark = 0xBFEC5DE4;
constexpr int kTerrestrial = 127;

// A small fixed-seed generator: the same "random" carried bytes on every run.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }

private:
    std::uint32_t state_;
};

struct SatellitePlan {
    int index;
    std::string_view name;
    int transponders;
    std::uint16_t networkId;
};

struct ChannelPlan {
    std::vector<SatellitePlan> satellites;
    int tvChannels;
    int radioChannels;
    int favoriteEvery; // one channel in this many joins a favourite group
    bool numberedNames;
};

struct Transponder {
    int satellite;
    std::uint16_t frequency;
    std::uint16_t symbolRate;
    int polarity;
    int priority;
    int modeBits;
    bool marked;
    std::uint16_t networkId;
};

void putName(std::span<std::uint8_t> field, std::string_view name)
{
    std::fill(field.begin(), field.end(), 0);
    std::copy_n(name.begin(), std::min(name.size(), field.size()), field.begin());
}

std::vector<Transponder> planTransponders(const ChannelPlan& plan)
{
    static constexpr std::array<std::uint16_t, 4> kSymbolRates{22000, 27500, 29900, 30000};
    std::vector<Transponder> transponders;
    for (const SatellitePlan& satellite : plan.satellites) {
        for (int k = 0; k < satellite.transponders; ++k) {
            Transponder t{};
            t.satellite = satellite.index;
            t.networkId = satellite.networkId;
            t.marked = (k % 3) == 1;
            if (satellite.index == kTerrestrial) {
                const int channel = 21 + 4 * k;
                t.symbolRate = static_cast<std::uint16_t>(channel);
                // 100 kHz units; the first one sits 500 kHz above its channel centre.
                t.frequency = static_cast<std::uint16_t>((306 + 8 * channel) * 10 + (k == 0 ? 5 : 0));
                t.priority = (k + 2) % 3; // Auto, HP, LP, Auto ...
                t.modeBits = 6;
            } else {
                t.frequency = static_cast<std::uint16_t>(10714 + (k * 37 + satellite.index * 11) % 2000);
                t.symbolRate = kSymbolRates[static_cast<std::size_t>(k) % kSymbolRates.size()];
                t.polarity = k % 2;
                t.modeBits = k % 8;
            }
            transponders.push_back(t);
        }
    }
    return transponders;
}

std::string channelName(const ChannelPlan& plan, bool radio, int number)
{
    static constexpr std::array<std::string_view, 12> kTvStems{
        "News 24", "Sport", "Cinema", "Kids", "Docu", "Music TV",
        "Shop", "Travel", "Weather", "Series", "Culture", "Regional"};
    static constexpr std::array<std::string_view, 6> kRadioStems{
        "Radio Pop", "Radio Jazz", "Classic FM", "Talk", "Radio Rock", "Folk"};
    if (plan.numberedNames)
        return (radio ? "Radio " : "TV ") + std::to_string(number + 1);
    if (!radio && number == 2)
        return "\x05Kanal Sieben"; // a name that carries a character-table byte
    const auto stems = radio ? std::span<const std::string_view>(kRadioStems) : std::span<const std::string_view>(kTvStems);
    return std::string(stems[static_cast<std::size_t>(number) % stems.size()]) + " "
         + std::to_string(number / static_cast<int>(stems.size()) + 1);
}

std::uint16_t fileFlagWord(const ChannelPlan& plan, bool radio, int number)
{
    std::uint16_t word = 0;
    if (radio)
        word |= 1u << 15;
    if (number % 7 == 3)
        word |= 1u << 0; // scrambled
    if (number % 11 == 5)
        word |= 1u << 3; // locked
    if (number % 17 == 0)
        word |= 1u << 13; // carried bits the box uses for itself
    if (number % 19 == 4)
        word |= 1u << 2;
    if (number % 29 == 6)
        word |= 1u << 11;
    if (number % plan.favoriteEvery == 0) {
        const int group = (number / plan.favoriteEvery + (radio ? 3 : 0)) % 7 + 1;
        word |= static_cast<std::uint16_t>(1u << (3 + group)); // file bits 4-10: groups 1-7
    }
    return word;
}

void writeChannel(std::span<std::uint8_t> record, const ChannelPlan& plan, bool radio, int number,
                  int transponder, Lcg& random)
{
    const std::uint16_t serviceId = static_cast<std::uint16_t>((radio ? 0x4000 : 0x0100) + number);
    const std::uint16_t videoPid = radio ? 0x1FFF : static_cast<std::uint16_t>(0x0100 + (number % 0x0E00));
    const std::uint16_t audioPid = static_cast<std::uint16_t>(0x0101 + (number % 0x0E00) + (radio ? 0x1000 : 0));
    writeBE16(record, channelrec::kServiceId, serviceId);
    writeBE16(record, channelrec::kVideoPid, videoPid);
    writeBE16(record, channelrec::kAudioPid, audioPid);
    writeBE16(record, channelrec::kKindAndExtraPid, static_cast<std::uint16_t>((1u << 14) | ((audioPid + 1u) & 0x3FFF)));
    writeBE16(record, channelrec::kWord8, radio ? 0x1FFF : static_cast<std::uint16_t>(videoPid + 0x20));
    writeBE16(record, channelrec::kPcrPid, radio ? audioPid : videoPid);
    for (std::size_t i = 0; i < 4; ++i)
        record[channelrec::kRaw12 + i] = random.byte();
    const std::uint16_t marks = static_cast<std::uint16_t>(((number % 13 == 0) ? 0x8000 : 0)
                                                           | ((number % 9 == 0) ? 0x4000 : 0)
                                                           | (random.next() & 0x3FFF));
    writeBE16(record, channelrec::kMarksAndValue14, marks);
    record[channelrec::kByte18] = random.byte();
    record[channelrec::kByte19] = random.byte();
    writeBE16(record, channelrec::kFlagWord, fileFlagWord(plan, radio, number));
    record[channelrec::kByte22] = random.byte();
    record[channelrec::kByte23] = random.byte();
    writeBE32(record, channelrec::kStreamRef, kStreamRefBase + 20u * static_cast<std::uint32_t>(transponder));
    // Two TV channels look added by the editor, so the free service id search has work.
    const bool editorAdded = !radio && !plan.numberedNames && (number == 4 || number == 9);
    if (editorAdded)
        writeBE16(record, channelrec::kServiceId, number == 4 ? 0xFFFE : 0xFFFD);
    writeBE32(record, channelrec::kWord28, editorAdded ? kEditorChannelMark : random.next());
    putName(record.subspan(channelrec::kName, channelrec::kNameLength), channelName(plan, radio, number));
}

std::vector<std::uint8_t> buildChannelImage(const ChannelPlan& plan, std::string_view header)
{
    std::vector<std::uint8_t> bytes(kImageSize, kErased);
    const std::span<std::uint8_t> image(bytes);
    Lcg random(0x5EED1234u + static_cast<std::uint32_t>(plan.tvChannels));

    std::copy(header.begin(), header.end(), image.begin());
    if (header.size() < kFileHeader.length) {
        static constexpr std::array<std::uint8_t, 12> kHeaderRest{'0', '2', '0', '1', 0x20, 0x24, 0x03, 0x15, 0, 0, 0, 0};
        std::copy(kHeaderRest.begin(), kHeaderRest.end(), image.begin() + 4);
    }

    const std::vector<Transponder> transponders = planTransponders(plan);
    const int used = static_cast<int>(transponders.size());

    // Stream records: one per transponder, in the same order; the record after the last
    // stays erased and ends the table.
    const auto streamTable = image.subspan(kStreamTable.offset, kStreamTable.length);
    for (int index = 0; index < used && index < 1200; ++index) {
        const Transponder& t = transponders[static_cast<std::size_t>(index)];
        const auto record = streamTable.subspan(static_cast<std::size_t>(index) * streamrec::kSize, streamrec::kSize);
        writeBE16(record, streamrec::kWord0, t.networkId);
        writeBE16(record, streamrec::kWord1, static_cast<std::uint16_t>(1000 + index));
        writeBE16(record, streamrec::kWord2, random.next() & 0xFFFF);
        writeBE16(record, streamrec::kWord3, random.next() & 0xFFFF);
        writeBE32(record, streamrec::kLong, random.next());
        writeBE16(record, streamrec::kFrequency, t.frequency);
        writeBE16(record, streamrec::kSymbolRate, t.symbolRate);
        record[streamrec::kFlags] = static_cast<std::uint8_t>(0x80 | (t.polarity << 6) | 0x10 | (index % 16));
        record[streamrec::kByte1] = random.byte();
        record[streamrec::kByte2] = random.byte();
        record[streamrec::kSatellite] = static_cast<std::uint8_t>(t.satellite);
    }

    // Channels: the TV run from slot 0, the radio run from slot 7000.
    const auto channelTable = image.subspan(kChannelTable.offset, kChannelTable.length);
    std::vector<std::uint32_t> order; // stream references in channel order
    std::array<std::vector<std::uint16_t>, 7> groups;
    const auto addChannel = [&](bool radio, int number, int slot, int transponder) {
        const auto record = channelTable.subspan(static_cast<std::size_t>(slot) * channelrec::kSize, channelrec::kSize);
        writeChannel(record, plan, radio, number, transponder, random);
        order.push_back(readBE32(record, channelrec::kStreamRef));
        const std::uint16_t flagWord = readBE16(record, channelrec::kFlagWord);
        for (int group = 0; group < 7; ++group) {
            if (flagWord & (1u << (4 + group)))
                groups[static_cast<std::size_t>(group)].push_back(
                    static_cast<std::uint16_t>(radio ? (number | 0x8000) : number));
        }
    };
    for (int number = 0; number < plan.tvChannels; ++number)
        addChannel(false, number, number, number % used);
    for (int number = 0; number < plan.radioChannels; ++number)
        addChannel(true, number, 7000 + number, (number * 3 + 1) % used);

    // List-area pieces the box keeps for itself.
    for (const Area& piece : {kListPiece1, kListPiece2, kListPiece3, kListPiece4}) {
        for (std::size_t i = 0; i < piece.length; ++i)
            image[piece.offset + i] = random.byte();
    }

    const auto refList = image.subspan(kStreamRefList.offset, kStreamRefList.length);
    std::fill(refList.begin(), refList.end(), 0);
    std::vector<std::uint32_t> refs;
    for (const std::uint32_t ref : order) {
        if (std::find(refs.begin(), refs.end(), ref) == refs.end())
            refs.push_back(ref);
    }
    writeBE32(refList, 0, static_cast<std::uint32_t>(refs.size()) << 16);
    for (std::size_t i = 0; i < refs.size(); ++i)
        writeBE32(refList, 4 + 4 * i, refs[i]);

    const auto favoriteArea = image.subspan(kFavoriteGroups.offset, kFavoriteGroups.length);
    std::fill(favoriteArea.begin(), favoriteArea.end(), 0);
    for (std::size_t group = 0; group < 7; ++group) {
        const auto& members = groups[group];
        const std::size_t count = std::min<std::size_t>(members.size(), 150);
        writeBE32(favoriteArea, 4 * group, static_cast<std::uint32_t>(count));
        for (std::size_t m = 0; m < count; ++m)
            writeBE16(favoriteArea, 28 + 300 * group + 2 * m, members[m]);
    }

    // Check-word table and its backup copy.
    const auto checkWord = [&](const Area& piece) {
        return static_cast<std::uint16_t>(crc16Arc(std::span<const std::uint8_t>(image).subspan(piece.offset, piece.length)) + 0x5A5A);
    };
    const auto checkTable = image.subspan(kCheckWordTable.offset, kCheckWordTable.length);
    const std::array<std::uint16_t, 10> words{
        checkWord(kListPiece1), checkWord(kListPiece2), 0xFFFF, checkWord(kListPiece3), checkWord(kListPiece4),
        checkWord(kStreamRefList), checkWord(kFavoriteGroups), 0xFFFF, 0xFFFF, 0xFFFF};
    for (std::size_t i = 0; i < words.size(); ++i)
        writeBE16(checkTable, 2 * i, words[i]);
    std::copy_n(image.begin() + kCheckWordTable.offset, kBackupArea.length, image.begin() + kBackupArea.offset);

    // Satellites: every record carries its number; unused ones have no name.
    const auto satelliteTable = image.subspan(kSatelliteTable.offset, kSatelliteTable.length);
    for (int index = 0; index < 128; ++index) {
        const auto record = satelliteTable.subspan(static_cast<std::size_t>(index) * satelliterec::kSize, satelliterec::kSize);
        std::fill(record.begin(), record.end(), 0);
        record[satelliterec::kNumber] = static_cast<std::uint8_t>(index);
        const auto planned = std::find_if(plan.satellites.begin(), plan.satellites.end(),
                                          [&](const SatellitePlan& s) { return s.index == index; });
        if (planned == plan.satellites.end())
            continue;
        putName(record.subspan(satelliterec::kName, 16), planned->name);
        const std::uint16_t opaqueA = static_cast<std::uint16_t>(0x0100 * (index % 7 + 1) + index);
        record[satelliterec::kOpaqueAHighCopy] = static_cast<std::uint8_t>(opaqueA >> 8);
        writeBE16(record, satelliterec::kOpaqueA, opaqueA);
        record[satelliterec::kOpaqueB] = static_cast<std::uint8_t>(index * 3);
        record[satelliterec::kOpaqueC] = 0x11;
        writeBE16(record, satelliterec::kOpaqueD, static_cast<std::uint16_t>(0xA000 + index));
        std::uint16_t count = 0;
        for (int t = 0; t < used && count < 128; ++t) {
            if (transponders[static_cast<std::size_t>(t)].satellite == index)
                writeBE16(record, satelliterec::kTransponderIndex + 2u * count++, static_cast<std::uint16_t>(t));
        }
        writeBE16(record, satelliterec::kTransponderCount, count);
    }
    writeBE16(image, kSatelliteCheckWord.offset, 0xA5A5);
    writeBE16(image, kSatelliteCheckWord.offset + 2, crc16Arc(satelliteTable));

    const auto transponderTable = image.subspan(kTransponderTable.offset, kTransponderTable.length);
    for (int index = 0; index < used; ++index) {
        const Transponder& t = transponders[static_cast<std::size_t>(index)];
        const auto record = transponderTable.subspan(static_cast<std::size_t>(index) * transponderrec::kSize, transponderrec::kSize);
        record[transponderrec::kSatellite] = static_cast<std::uint8_t>(t.satellite);
        record[transponderrec::kMarkCopy] = t.marked ? 0xFF : 0x00;
        writeBE16(record, transponderrec::kFrequency, t.frequency);
        writeBE16(record, transponderrec::kSymbolRate, t.symbolRate);
        record[transponderrec::kFlags] = static_cast<std::uint8_t>((t.polarity << 7) | ((t.priority & 1) << 6)
                                                                   | (t.modeBits << 3) | (((t.priority >> 1) & 1) << 2));
        record[transponderrec::kMark] = t.marked ? 0xFF : 0x00;
    }
    writeBE16(image, kTransponderCheckWord.offset, 0xA5A5);
    writeBE16(image, kTransponderCheckWord.offset + 2, crc16Arc(transponderTable));

    writeBE16(image, kAreaCheckWord.offset,
              static_cast<std::uint16_t>(crc16Arc(std::span<const std::uint8_t>(image).subspan(0x0B0010, 65534)) + 0x5A5A));
    return bytes;
}

ChannelPlan demoPlan()
{
    return ChannelPlan{
        {{0, "ASTRA 19.2E", 8, 1}, {1, "HOTBIRD 13.0E", 8, 318}, {2, "EUTELSAT 7.0E", 5, 126},
         {3, "TURKSAT 42.0E", 5, 66}, {4, "THOR 0.8W", 4, 70}, {127, "Terrestrial", 4, 8468}},
        240, 60, 5, false};
}

std::vector<std::uint8_t> filledImage(std::string_view magic, std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    Lcg random(seed);
    for (auto& byte : bytes)
        byte = random.byte();
    std::copy(magic.begin(), magic.end(), bytes.begin());
    return bytes;
}

} // namespace

std::vector<std::uint8_t> channelImage()
{
    return buildChannelImage(demoPlan(), "QVCH");
}

std::vector<std::uint8_t> receivedChannelImage()
{
    return buildChannelImage(demoPlan(), "VORN LUMEN CORP ");
}

std::vector<std::uint8_t> fullChannelImage()
{
    ChannelPlan plan{{}, 7000, 2000, 60, true};
    // 40 satellites of 30 transponders: 1200 transponders and a full stream table.
    static constexpr std::array<std::string_view, 40> kNames{
        "SAT 01", "SAT 02", "SAT 03", "SAT 04", "SAT 05", "SAT 06", "SAT 07", "SAT 08", "SAT 09", "SAT 10",
        "SAT 11", "SAT 12", "SAT 13", "SAT 14", "SAT 15", "SAT 16", "SAT 17", "SAT 18", "SAT 19", "SAT 20",
        "SAT 21", "SAT 22", "SAT 23", "SAT 24", "SAT 25", "SAT 26", "SAT 27", "SAT 28", "SAT 29", "SAT 30",
        "SAT 31", "SAT 32", "SAT 33", "SAT 34", "SAT 35", "SAT 36", "SAT 37", "SAT 38", "SAT 39", "SAT 40"};
    for (int index = 0; index < 40; ++index)
        plan.satellites.push_back({index, kNames[static_cast<std::size_t>(index)], 30, static_cast<std::uint16_t>(index + 1)});
    return buildChannelImage(plan, "QVCH");
}

std::vector<std::uint8_t> applicationImage()
{
    // 200,000 bytes: many full transfer blocks and a short last one.
    std::vector<std::uint8_t> bytes = filledImage("VORN", 200000, 0xA991u);
    const std::span<std::uint8_t> image(bytes);
    const std::uint16_t check = static_cast<std::uint16_t>(crc16Xmodem(image.subspan(0, 12))
                                                           ^ crc16Xmodem(image.subspan(102, 2)));
    writeBE32(image, 12, check);
    return bytes;
}

std::vector<std::uint8_t> bootImage()
{
    return filledImage("QVBT", 65536 + 300, 0xB007u);
}

const std::vector<SampleFile>& sampleFiles()
{
    static const std::vector<SampleFile> files{
        {"app.img", &applicationImage},
        {"channels.img", &channelImage},
        {"channels-full.img", &fullChannelImage},
        {"channels-received.img", &receivedChannelImage},
        {"boot.img", &bootImage},
    };
    return files;
}

std::optional<std::vector<std::string>> writeSampleImages(const std::string& folder, bool replace,
                                                          std::string& error)
{
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        error = "could not make " + folder + ": " + made.message();
        return std::nullopt;
    }
    auto pathOf = [&](const SampleFile& file) { return (std::filesystem::path(folder) / file.name).string(); };
    // A real image of the same name must not turn into a demo one that passes every check.
    if (!replace) {
        for (const SampleFile& file : sampleFiles()) {
            std::error_code unknown;
            if (std::filesystem::symlink_status(pathOf(file), unknown).type() != std::filesystem::file_type::not_found) {
                error = pathOf(file) + " already exists; nothing was written (--force replaces it)";
                return std::nullopt;
            }
        }
    }
    std::vector<std::string> written;
    for (const SampleFile& file : sampleFiles()) {
        const std::vector<std::uint8_t> bytes = file.make();
        std::string reason;
        if (!ReplacementFile::writeWhole(pathOf(file), {reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                                         &reason)) {
            error = "could not write " + pathOf(file) + ": " + reason;
            return std::nullopt;
        }
        written.push_back(pathOf(file));
    }
    return written;
}

} // namespace updatetool::samples
