// The channel commands of the command line: the same database, listing and save
// the channel editor uses, without the windows.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>
#include <filesystem>
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
#include "SampleImages.h"
#include "StringTable.h"
#include "TextListing.h"
#include "TransponderTable.h"

namespace updatetool::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFileError = 2;
constexpr int kExitNotChannelImage = 4;
// A transponder table that is refused, or that holds no satellite to take.
// A table file that is neither form, or malformed, is an invalid file like any other.
constexpr int kExitBadTable = 4;
// As diff says it: the two images differ.
constexpr int kExitDiffer = 1;
constexpr int kExitDiffTrouble = 2;

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

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
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
    if (sameFile(image, output)) {
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

// Options and operands of one subcommand: "--name VALUE", "--name=VALUE" and flags.
struct ParsedWords {
    std::vector<std::string> operands;
    std::map<std::string, std::string> values;
    std::string error;
};

ParsedWords parseWords(std::span<char* const> words, std::initializer_list<std::string_view> valued,
                       std::initializer_list<std::string_view> flags)
{
    ParsedWords parsed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (!word.starts_with("--") || word == "--") {
            parsed.operands.emplace_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name(word.substr(0, equals));
        if (std::find(flags.begin(), flags.end(), name) != flags.end() && equals == std::string_view::npos) {
            parsed.values[name] = "1";
        } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
            if (equals != std::string_view::npos) {
                parsed.values[name] = std::string(word.substr(equals + 1));
            } else if (i + 1 < words.size()) {
                // The next word whatever it looks like: "--sat -300" is a western position.
                parsed.values[name] = words[++i];
            } else {
                parsed.error = name + " needs a value";
            }
        } else {
            parsed.error = "unknown option " + std::string(word);
        }
    }
    return parsed;
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
  updatetool-cli channels import-transponders [--no-backup] IMAGE
          --satellite N|NAME FILE [--sat POSITION] [--include-dvbs2]
      Adds the transponders of FILE (a dvbv5 scan file such as
      /usr/share/dvb/dvb-s/Hotbird-13.0E, or a satellites.xml) to satellite N
      (its number in channels info) or NAME, as the transponder dialog's New
      would, and saves IMAGE. POSITION picks a satellites.xml <sat> (tenths of
      a degree, west negative: --sat 130, --sat=-300); without it the only one,
      else the one at the position the satellite's name ends in ("13.0E").
      Frequencies round to MHz and symbol rates to kbaud. Skipped: circular
      polarisation, DVB-S2 (unless --include-dvbs2), out of range, already
      there; entries past a full satellite (128) or table (3072) are left out.
      Prints the counts. Exit 3 when FILE is neither format or is malformed
      (with the line); IMAGE is then left unchanged.
  updatetool-cli channels export-transponders IMAGE OUTPUT
          [--satellite N|NAME] [--format dvbv5|satellites-xml]
      Writes one satellite's (or every satellite's) transponders for other
      receivers and dvbv5-scan: kHz, symbols per second, DVB-S, FEC auto. The
      format defaults to satellites-xml when OUTPUT ends in .xml, else dvbv5.
  updatetool-cli channels diff A B
      Lists what changed from image A to image B: satellites renamed,
      transponders removed, added and changed, channels removed, added,
      renamed, re-tuned, moved (only the fewest moves that explain the new
      order) and with other flags (scrambled, locked, favourites). Exit 0 when
      equal, 1 when they differ, 2 on any trouble (as diff).
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
  (or, for REFERENCE, neither a channel image nor a channel CSV file; for a
  transponder table, neither form or malformed); 64 usage error (an OUTPUT
  that is IMAGE). diff: 0 equal, 1 different, 2 any trouble.
)",
               stdout);
}

int runChannelsCommand(std::span<char* const> args)
{
    if (args.empty())
        return usageError("a subcommand is needed: info, export-text, export-csv, apply-order, resave, "
                          "import-transponders, export-transponders or diff");
    const std::string_view command = args[0];
    if (command == "--help" || command == "-h") {
        printChannelsUsage();
        return kExitSuccess;
    }
    auto operands = args.subspan(1);
    bool backup = true;
    if (command == "import-transponders") {
        const ParsedWords words = parseWords(operands, {"--satellite", "--sat"}, {"--include-dvbs2", "--no-backup"});
        if (!words.error.empty())
            return usageError(words.error);
        if (words.operands.size() != 2 || !words.values.contains("--satellite"))
            return usageError("import-transponders needs IMAGE, --satellite N|NAME and FILE");
        std::optional<int> position;
        if (const auto sat = words.values.find("--sat"); sat != words.values.end()) {
            char* end = nullptr;
            const long value = std::strtol(sat->second.c_str(), &end, 10);
            if (sat->second.empty() || *end != '\0' || value < -1800 || value > 1800)
                return usageError("--sat needs a position in tenths of a degree, such as 130 or -300");
            position = static_cast<int>(value);
        }
        return runImportTransponders(words.operands[0], words.values.at("--satellite"), words.operands[1], position,
                                     words.values.contains("--include-dvbs2"), !words.values.contains("--no-backup"));
    }
    if (command == "export-transponders") {
        const ParsedWords words = parseWords(operands, {"--satellite", "--format"}, {});
        if (!words.error.empty())
            return usageError(words.error);
        if (words.operands.size() != 2)
            return usageError("export-transponders needs IMAGE and OUTPUT");
        const std::string& output = words.operands[1];
        auto format = output.ends_with(".xml") ? TransponderTable::Format::SatellitesXml : TransponderTable::Format::Dvbv5;
        if (const auto chosen = words.values.find("--format"); chosen != words.values.end()) {
            if (chosen->second == "dvbv5")
                format = TransponderTable::Format::Dvbv5;
            else if (chosen->second == "satellites-xml")
                format = TransponderTable::Format::SatellitesXml;
            else
                return usageError("--format is dvbv5 or satellites-xml");
        }
        const auto satellite = words.values.find("--satellite");
        return runExportTransponders(words.operands[0], output,
                                     satellite == words.values.end() ? std::string{} : satellite->second, format);
    }
    if (command == "diff") {
        if (operands.size() != 2) {
            usageError("diff needs A and B");
            return kExitDiffTrouble;
        }
        return runDiff(operands[0], operands[1]);
    }
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
