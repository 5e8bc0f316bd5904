// The channel commands of the command line: the same database, listing and save
// the channel editor uses, without the windows.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ChannelBlockLayout.h"
#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "ChannelEditCommands.h"
#include "ChannelImageDiff.h"
#include "CommandLine.h"
#include "EditorLists.h"
#include "FileLock.h"
#include "ImageFile.h"
#include "OutputFiles.h"
#include "ReferenceOrder.h"
#include "ReplacementFile.h"
#include "SampleImages.h"
#include "StringTable.h"
#include "TextListing.h"
#include "TransponderTable.h"

namespace updatetool::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFileError = 2;
// Not a channel image, or none that can be opened: as send says of an image it cannot use.
constexpr int kExitNotChannelImage = 4;
// A transponder table that is refused, or that holds no satellite to take.
// A table file that is neither form, or malformed, is an invalid file like any other.
constexpr int kExitBadTable = 4;
// As diff says it: the two images differ.
constexpr int kExitDiffer = 1;
constexpr int kExitDiffTrouble = 2;

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
    const ChannelDatabase& database = commands.database();
    if (!database.lastSaveReason.empty()) {
        const bool backup = database.lastSaveError == SaveError::BackupFailed;
        std::fprintf(stderr, "updatetool-cli: %s: %s\n",
                     (backup ? ChannelEditCommands::backupPathFor(path) : path).c_str(), database.lastSaveReason.c_str());
    }
    switch (database.lastSaveError) {
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


// The satellite's record index from "N" (as `channels info` numbers them) or its name;
// -1 when the image has no such satellite.
int satelliteIndexOf(const ChannelDatabase& database, std::string_view given)
{
    if (!given.empty() && std::all_of(given.begin(), given.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int index = given.size() <= 3 ? std::stoi(std::string(given)) : -1;
        return index < kSatelliteCapacity ? index : -1;
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (int index = 0; index < kSatelliteCapacity; ++index) {
            const std::string name = printable(database.satellites[static_cast<std::size_t>(index)].name);
            const bool same = pass == 0 ? name == given
                                        : name.size() == given.size()
                                              && std::equal(name.begin(), name.end(), given.begin(), [](char a, char b) {
                                                     return std::tolower(static_cast<unsigned char>(a))
                                                         == std::tolower(static_cast<unsigned char>(b));
                                                 });
            if (!name.empty() && same)
                return index;
        }
    }
    return -1;
}

// The table in `file` to import: the one satellite of a scan file, or the satellites.xml
// <sat> at `position`, else the only one, else the one at the position the satellite's
// name carries.
const SatelliteTable* chooseTable(const TransponderTable::ReadResult& table, std::optional<int> position,
                                  const std::string& satelliteName, const std::string& file, int& status)
{
    if (table.format == TransponderTable::Format::Dvbv5) {
        if (position) {
            status = usageError("--sat chooses a satellite of a satellites.xml; " + file + " is a dvbv5 scan file");
            return nullptr;
        }
        return &table.satellites.front();
    }
    if (!position && table.satellites.size() == 1)
        return &table.satellites.front();
    const std::optional<int> wanted = position ? position : TransponderTable::positionFromName(satelliteName);
    if (wanted) {
        for (const SatelliteTable& satellite : table.satellites) {
            if (satellite.position == wanted)
                return &satellite;
        }
        std::fprintf(stderr, "updatetool-cli: %s has no <sat> at position %d; nothing was changed\n", file.c_str(),
                     *wanted);
    } else {
        std::fprintf(stderr, "updatetool-cli: %s holds %zu satellites; choose one with --sat POSITION; nothing was changed\n",
                     file.c_str(), table.satellites.size());
    }
    status = kExitBadTable;
    return nullptr;
}

int runImportTransponders(const std::string& image, const std::string& satellite, const std::string& file,
                          std::optional<int> position, bool includeDvbs2, bool backup)
{
    int status = kExitSuccess;
    channelfile::FileLock lock;
    const auto database = openImage(image, status, &lock);
    if (!database)
        return status;
    const int index = satelliteIndexOf(*database, satellite);
    if (index < 0)
        return usageError("no satellite " + satellite + " in " + image + " (see channels info)");
    const TransponderTable::ReadResult table = TransponderTable::readFile(file);
    if (table.cantOpen) {
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", file.c_str(), table.error.c_str());
        return kExitFileError;
    }
    if (!table.ok()) {
        std::fprintf(stderr, "updatetool-cli: %s: %s; nothing was changed\n", file.c_str(), table.error.c_str());
        return kExitBadTable;
    }
    const SatelliteTable* chosen =
        chooseTable(table, position, printable(database->satellites[static_cast<std::size_t>(index)].name), file, status);
    if (chosen == nullptr)
        return status;
    ChannelEditCommands commands(*database);
    commands.setBackupOnFirstSave(backup);
    const TransponderImportSummary summary = commands.importTransponders(index, chosen->transponders, includeDvbs2);
    if (!summary.refusal.empty())
        return usageError(summary.refusal);
    if (summary.added > 0) {
        status = saveImage(commands, image);
        if (status != kExitSuccess)
            return status;
    }
    std::printf("%s\n", summary.text().c_str());
    return kExitSuccess;
}

int runExportTransponders(const std::string& image, const std::string& output, const std::string& satellite,
                          TransponderTable::Format format)
{
    int status = kExitSuccess;
    const auto database = openImage(image, status);
    if (!database)
        return status;
    int index = -1;
    if (!satellite.empty()) {
        index = satelliteIndexOf(*database, satellite);
        if (index < 0)
            return usageError("no satellite " + satellite + " in " + image + " (see channels info)");
        if (index == kTerrestrialSatellite)
            return usageError("the terrestrial slot has no place in a DVB-S table");
    }
    if (isSameFile(image, output)) {
        std::fprintf(stderr, "updatetool-cli: OUTPUT is IMAGE itself; nothing was written\n");
        return kExitFileError;
    }
    const std::vector<SatelliteTable> tables = TransponderTable::fromDatabase(*database, index);
    const std::string text = format == TransponderTable::Format::SatellitesXml
                               ? TransponderTable::writeSatellitesXml(tables)
                               : TransponderTable::writeDvbv5(tables);
    std::string reason;
    if (!TransponderTable::writeFile(output, text, &reason)) {
        std::fprintf(stderr, "updatetool-cli: %s: %s\n", output.c_str(), reason.c_str());
        return kExitFileError;
    }
    std::size_t count = 0;
    for (const SatelliteTable& table : tables)
        count += table.transponders.size();
    std::printf("Wrote %zu transponders of %zu satellites to %s\n", count, tables.size(), output.c_str());
    return kExitSuccess;
}

int runDiff(const std::string& first, const std::string& second)
{
    int status = kExitSuccess;
    const auto a = openImage(first, status);
    if (!a)
        return kExitDiffTrouble;
    const auto b = openImage(second, status);
    if (!b)
        return kExitDiffTrouble;
    const std::vector<ChannelDiffLine> lines = ChannelImageDiff::compare(*a, *b);
    for (const ChannelDiffLine& line : lines)
        std::printf("%s\n", line.text.c_str());
    return lines.empty() ? kExitSuccess : kExitDiffer;
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
    if (command == "import-transponders")
        return runImportTransponders(options.image, options.satellite, options.tableFile, options.position,
                                     options.includeDvbs2, options.backup);
    if (command == "export-transponders") {
        auto format = options.output.ends_with(".xml") ? TransponderTable::Format::SatellitesXml
                                                       : TransponderTable::Format::Dvbv5;
        if (options.format == "dvbv5")
            format = TransponderTable::Format::Dvbv5;
        else if (options.format == "satellites-xml")
            format = TransponderTable::Format::SatellitesXml;
        return runExportTransponders(options.image, options.output, options.satellite, format);
    }
    if (command == "diff")
        return runDiff(options.image, options.second);
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
