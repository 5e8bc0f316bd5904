// The channel commands of the command line: the same database, listing and save
// the channel editor uses, without the windows.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ChannelBlockLayout.h"
#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "ChannelEditCommands.h"
#include "CommandLine.h"
#include "EditorLists.h"
#include "FileLock.h"
#include "ImageFile.h"
#include "OutputFiles.h"
#include "ReferenceOrder.h"
#include "SampleImages.h"
#include "StringTable.h"
#include "TextListing.h"

namespace updatetool::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFileError = 2;
// Not a channel image, or none that can be opened: as send says of an image it cannot use.
constexpr int kExitNotChannelImage = 4;

int usageError(const std::string& why)
{
    return cli::usageError("channels", why);
}

int fileError(unsigned textId, const std::string& path)
{
    std::fprintf(stderr, "%s: %s\n", std::string(loadString(textId)).c_str(), path.c_str());
    return kExitFileError;
}

// Names may hold control bytes (a leading 0x05 selects the box's character table);
// the terminal gets a dot for each.
std::string printable(const RecordName& name)
{
    std::string text;
    for (const char c : name) {
        if (c == '\0')
            break;
        text += static_cast<unsigned char>(c) < 0x20 ? '.' : c;
    }
    return text;
}

// Loads IMAGE the way Channel Edit opens it: the file must start like a channel
// image and hold a whole one. Nothing (and the exit status set) when it cannot be
// used. With a `lock`, the file is locked first, so no other program saves it
// while this one does.
std::unique_ptr<ChannelDatabase> openImage(const std::string& path, int& exitStatus,
                                           channelfile::FileLock* lock = nullptr)
{
    std::string reason;
    const auto head = channelfile::readWholeFile(path, 16, &reason);
    if (!head) {
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", path.c_str(), reason.c_str());
        fileError(ids::kCantOpenFile, path);
        exitStatus = kExitNotChannelImage;
        return nullptr;
    }
    if (!isChannelFileHead(head->bytes())) {
        std::fprintf(stderr, "%s: %s\n", std::string(loadString(ids::kInvalidChannelFile)).c_str(), path.c_str());
        exitStatus = kExitNotChannelImage;
        return nullptr;
    }
    if (lock != nullptr && lock->acquire(path, &reason) == channelfile::FileLock::Result::Busy) {
        std::fprintf(stderr, "updatetool-cli: %s %s; nothing was changed\n", path.c_str(), channelfile::kFileBusyText);
        exitStatus = kExitFileError;
        return nullptr;
    }
    auto database = std::make_unique<ChannelDatabase>();
    database->sourceKind = 'c';
    database->filePath = path;
    database->saveOptions.lock = lock;
    switch (database->load()) {
    case LoadResult::CantOpen:
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", path.c_str(), database->lastLoadReason.c_str());
        fileError(ids::kCantOpenFile, path);
        exitStatus = kExitNotChannelImage;
        return nullptr;
    case LoadResult::TooShort:
        std::fprintf(stderr, "%s: %s: %s\n", std::string(loadString(ids::kInvalidChannelFile)).c_str(), path.c_str(),
                     database->lastLoadReason.c_str());
        exitStatus = kExitNotChannelImage;
        return nullptr;
    default:
        break;
    }
    database->rebuildCountersAndFavorites();
    return database;
}

int runInfo(const std::string& path)
{
    int status = kExitSuccess;
    const auto database = openImage(path, status);
    if (!database)
        return status;
    int named = 0;
    for (const SatelliteRecord& satellite : database->satellites)
        named += satellite.name[0] != '\0' ? 1 : 0;
    std::printf("File: %s\n", path.c_str());
    std::printf("Satellites: %d\n", named);
    for (int index = 0; index < kSatelliteCapacity; ++index) {
        const SatelliteRecord& satellite = database->satellites[static_cast<std::size_t>(index)];
        if (satellite.name[0] == '\0')
            continue;
        std::printf("  %3d  %-16s %3u transponders, %4u channels\n", index, printable(satellite.name).c_str(),
                    satellite.transponderCount, database->satelliteChannelCounts[static_cast<std::size_t>(index)]);
    }
    std::printf("Transponders: %d\n", database->usedTransponderCount());
    std::printf("Stream records: %d\n", database->streamCount);
    std::printf("TV channels: %d\n", database->tvCount);
    std::printf("Radio channels: %d\n", database->radioCount);
    std::printf("Favourites:");
    for (int group = 0; group < kFavoriteGroupCount; ++group)
        std::printf(" %u", database->favorites[static_cast<std::size_t>(group)].count);
    std::printf(" (groups 1-7)\n");
    if (database->channelCount <= 0)
        std::printf("No Channel\n");
    return kExitSuccess;
}

// The exports read IMAGE and write OUTPUT; one that names IMAGE itself (or a link
// to it) is refused before either is touched.
std::optional<int> refuseOutputOverImage(const std::string& path, const std::string& output)
{
    if (const auto clash = outputClash({{output, "OUTPUT " + output}}, {{path, "the channel image"}}))
        return usageError(*clash);
    return std::nullopt;
}

using ExportWriter = bool (*)(const ChannelDatabase&, const std::string&, std::string*);

int runExport(const std::string& path, const std::string& output, ExportWriter write)
{
    if (const auto refused = refuseOutputOverImage(path, output))
        return *refused;
    int status = kExitSuccess;
    const auto database = openImage(path, status);
    if (!database)
        return status;
    // A failed export leaves no partial file: OUTPUT is replaced only when complete.
    std::string reason;
    if (!write(*database, output, &reason)) {
        std::fprintf(stderr, "Could not write \"%s\": %s\n", output.c_str(), reason.c_str());
        return kExitFileError;
    }
    return kExitSuccess;
}

// Saves through the editor's own steps, so the first save keeps IMAGE.bak as the
// editor's does.
int saveImage(ChannelEditCommands& commands, const std::string& path)
{
    if (commands.save())
        return kExitSuccess;
    switch (commands.database().lastSaveError) {
    case SaveError::TooShort:
        std::fprintf(stderr, "%s: %s is shorter than a channel image; left unchanged\n",
                     std::string(loadString(ids::kInvalidChannelFile)).c_str(), path.c_str());
        return kExitNotChannelImage;
    case SaveError::CantOpen:
        return fileError(ids::kCantOpenFile, path);
    case SaveError::TooLarge:
        std::fprintf(stderr, "%s: %s is far larger than a channel image; left unchanged\n",
                     std::string(loadString(ids::kInvalidChannelFile)).c_str(), path.c_str());
        return kExitNotChannelImage;
    case SaveError::BackupFailed:
        std::fprintf(stderr, "updatetool-cli: could not write the backup copy %s; %s left unchanged\n",
                     ChannelEditCommands::backupPathFor(path).c_str(), path.c_str());
        return kExitFileError;
    default:
        std::fprintf(stderr, "updatetool-cli: could not write %s; left unchanged\n", path.c_str());
        return kExitFileError;
    }
}

int runResave(const std::string& path, bool backup)
{
    int status = kExitSuccess;
    channelfile::FileLock lock;
    const auto database = openImage(path, status, &lock);
    if (!database)
        return status;
    ChannelEditCommands commands(*database);
    commands.setBackupOnFirstSave(backup);
    return saveImage(commands, path);
}

int runApplyOrder(const std::string& path, const std::string& referencePath, bool backup)
{
    int status = kExitSuccess;
    channelfile::FileLock lock;
    const auto database = openImage(path, status, &lock);
    if (!database)
        return status;
    const ReferenceFile reference = readReferenceFile(referencePath);
    if (!reference.lists) {
        std::fprintf(stderr, "updatetool-cli: %s\n", reference.error.c_str());
        return reference.cantOpen ? kExitFileError : kExitNotChannelImage;
    }
    ChannelEditCommands commands(*database);
    commands.setBackupOnFirstSave(backup);
    const ListedChannels rows = listedChannels(*database, kFilterAll, 0);
    const ReferenceOrderSummary tv = commands.applyReferenceOrder(rows.tv, reference.lists->tv);
    const ReferenceOrderSummary radio = commands.applyReferenceOrder(rows.radio, reference.lists->radio);
    status = saveImage(commands, path);
    if (status != kExitSuccess)
        return status;
    std::printf("TV: %d matched, %d unmatched, %d ignored\n", tv.matched, tv.unmatched, tv.ignored);
    std::printf("Radio: %d matched, %d unmatched, %d ignored\n", radio.matched, radio.unmatched, radio.ignored);
    return kExitSuccess;
}

} // namespace

int runChannelsCommand(const ChannelsOptions& options)
{
    const std::string_view command = options.subcommand;
    if (command == "info")
        return runInfo(options.image);
    if (command == "export-text")
        return runExport(options.image, options.output, writeChannelListing);
    if (command == "export-csv")
        return runExport(options.image, options.output, writeChannelCsv);
    if (command == "apply-order")
        return runApplyOrder(options.image, options.reference, options.backup);
    if (command == "resave")
        return runResave(options.image, options.backup);
    return usageError("unknown subcommand '" + options.subcommand + "'");
}

int runSamplesCommand(const SamplesOptions& options)
{
    std::string error;
    const auto written = samples::writeSampleImages(options.folder, options.replace, error);
    if (!written) {
        std::fprintf(stderr, "updatetool-cli samples: %s\n", error.c_str());
        return kExitFileError;
    }
    for (const std::string& path : *written)
        std::printf("%s\n", path.c_str());
    return kExitSuccess;
}

} // namespace updatetool::cli
