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
constexpr int kExitNotChannelImage = 4;

int usageError(const std::string& why)
{
    std::fprintf(stderr, "updatetool-cli channels: %s (try updatetool-cli --help)\n", why.c_str());
    return kExitUsage;
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
        exitStatus = fileError(ids::kCantOpenFile, path);
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
        exitStatus = fileError(ids::kCantOpenFile, path);
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

void printChannelsUsage()
{
    std::fputs(R"(Channel commands (work on channel image files, no box needed):
  updatetool-cli channels info IMAGE
      Counts: satellites (with names), transponders, stream records, TV and
      radio channels, favourites.
  updatetool-cli channels export-text IMAGE OUTPUT
      Writes the text listing to OUTPUT as given.
  updatetool-cli channels export-csv IMAGE OUTPUT
      Writes the TV and radio lists to OUTPUT as CSV (RFC 4180, UTF-8, a header
      row: list, number, name, satellite, frequency, polarity, symbol rate,
      video PID, audio PID, PCR PID, Ch. ID, scrambled, locked, favourites).
  updatetool-cli channels apply-order [--no-backup] IMAGE REFERENCE
      Reorders IMAGE's TV and radio lists to follow REFERENCE (another channel
      image, or a CSV file written by export-csv): channels match by name and
      Ch. ID, else by name; unmatched ones keep their order after the matched.
      Saves IMAGE and prints matched, unmatched and ignored counts per list.
  updatetool-cli channels resave [--no-backup] IMAGE
      Loads IMAGE and saves it back with its check words recomputed; nothing is
      edited. The file is replaced only once the new content is complete.
  Saving first copies IMAGE as it was to IMAGE.bak (replacing an older one);
  --no-backup leaves that out. When the copy fails nothing is written.
  The exports write OUTPUT beside itself and put it in place only when it is
  complete: one that fails (a full disk) leaves no partial file and says
  "Could not write" with the reason. An OUTPUT that is IMAGE itself (or a link
  to it) is refused before anything is written.
  updatetool-cli samples [--force] DIR
      Writes the sample images (app.img, channels.img, channels-full.img,
      channels-received.img, boot.img) into DIR. A file of one of those names
      already in DIR is never replaced unless --force is given: the command
      names it and writes nothing.
  resave and apply-order lock IMAGE while they run; one that another program
  (the editor, another command) is editing is left alone.
  Exit status: 2 a file cannot be opened or written, is being edited by another
  program, or samples found a file it would replace; 4 not a whole channel image
  (or, for REFERENCE, neither a channel image nor a channel CSV file); 64 usage
  error (an OUTPUT that is IMAGE).
)",
               stdout);
}

int runChannelsCommand(std::span<char* const> args)
{
    if (args.empty())
        return usageError("a subcommand is needed: info, export-text, export-csv, apply-order or resave");
    const std::string_view command = args[0];
    if (command == "--help" || command == "-h") {
        printChannelsUsage();
        return kExitSuccess;
    }
    auto operands = args.subspan(1);
    bool backup = true;
    if ((command == "resave" || command == "apply-order") && !operands.empty()
        && std::string_view(operands[0]) == "--no-backup") {
        backup = false;
        operands = operands.subspan(1);
    }
    if (command == "info") {
        if (operands.size() != 1)
            return usageError("info needs IMAGE");
        return runInfo(operands[0]);
    }
    if (command == "export-text") {
        if (operands.size() != 2)
            return usageError("export-text needs IMAGE and OUTPUT");
        return runExport(operands[0], operands[1], writeChannelListing);
    }
    if (command == "export-csv") {
        if (operands.size() != 2)
            return usageError("export-csv needs IMAGE and OUTPUT");
        return runExport(operands[0], operands[1], writeChannelCsv);
    }
    if (command == "apply-order") {
        if (operands.size() != 2)
            return usageError("apply-order needs IMAGE and REFERENCE");
        return runApplyOrder(operands[0], operands[1], backup);
    }
    if (command == "resave") {
        if (operands.size() != 1)
            return usageError("resave needs IMAGE");
        return runResave(operands[0], backup);
    }
    return usageError("unknown subcommand '" + std::string(command) + "'");
}

int runSamplesCommand(std::span<char* const> args)
{
    bool replace = false;
    if (!args.empty() && std::string_view(args[0]) == "--force") {
        replace = true;
        args = args.subspan(1);
    }
    if (args.size() != 1 || std::string_view(args[0]).starts_with("-")) {
        std::fputs("updatetool-cli samples: DIR is needed (try updatetool-cli --help)\n", stderr);
        return kExitUsage;
    }
    std::string error;
    const auto written = samples::writeSampleImages(args[0], replace, error);
    if (!written) {
        std::fprintf(stderr, "updatetool-cli samples: %s\n", error.c_str());
        return kExitFileError;
    }
    for (const std::string& path : *written)
        std::printf("%s\n", path.c_str());
    return kExitSuccess;
}

} // namespace updatetool::cli
