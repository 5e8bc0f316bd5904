// Load, save and listing of a full channel image (7000 TV + 2000 radio channels),
// each against plain file I/O of the same 851,984 bytes measured in the same run; then
// the editor's list steps (undo, redo, sort, reference order) with the load as the
// baseline, the undo history's memory, and the transponder tables and the compare of
// two images, also against the load.
// Usage: channeldb_bench [FOLDER]  (temporary files go to FOLDER, default ".";
// use a folder on a real disk for the flushed figures).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "ChannelDatabase.h"
#include "ChannelEditCommands.h"
#include "ChannelImageDiff.h"
#include "EditorLists.h"
#include "ReferenceOrder.h"
#include "SampleImages.h"
#include "TextListing.h"
#include "TransponderTable.h"

using namespace updatetool;
using Clock = std::chrono::steady_clock;

namespace {

// Median wall time in microseconds over `rounds` runs.
double medianMicros(int rounds, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<std::size_t>(rounds / 2)];
}

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "channeldb_bench: %s failed\n", what);
        std::exit(1);
    }
}

void rawRead(const std::string& path, std::vector<std::uint8_t>& buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    check(fd >= 0, "open for reading");
    check(::read(fd, buffer.data(), buffer.size()) == static_cast<ssize_t>(buffer.size()), "read");
    ::close(fd);
}

void rawWrite(const std::string& path, const std::vector<std::uint8_t>& bytes, bool sync)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "open for writing");
    check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write");
    if (sync)
        check(::fsync(fd) == 0, "fsync");
    check(::close(fd) == 0, "close");
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path parent = argc > 1 ? argv[1] : ".";
    std::string pattern = (parent / "channeldb-bench-XXXXXX").string();
    check(::mkdtemp(pattern.data()) != nullptr, "creating the temporary folder");
    const std::filesystem::path folder = pattern;
    const std::string imagePath = (folder / "channels-full.img").string();
    const std::string rawPath = (folder / "raw.img").string();

    const std::vector<std::uint8_t> image = samples::fullChannelImage();
    rawWrite(imagePath, image, false);
    std::vector<std::uint8_t> buffer(image.size());

    auto database = std::make_unique<ChannelDatabase>();
    database->filePath = imagePath;
    check(database->load() == LoadResult::Loaded, "load");
    database->rebuildCountersAndFavorites();

    constexpr int kRounds = 101;
    constexpr int kSyncRounds = 15;
    const double readUs = medianMicros(kRounds, [&] { rawRead(imagePath, buffer); });
    const double loadUs = medianMicros(kRounds, [&] { database->load(); });
    const double writeUs = medianMicros(kRounds, [&] { rawWrite(rawPath, image, false); });
    database->saveOptions.sync = false;
    const double saveUs = medianMicros(kRounds, [&] { check(database->save(), "save"); });
    const double writeSyncUs = medianMicros(kSyncRounds, [&] { rawWrite(rawPath, image, true); });
    database->saveOptions.sync = true;
    const double saveSyncUs = medianMicros(kSyncRounds, [&] { check(database->save(), "save"); });
    std::size_t listingBytes = 0;
    const double listingUs = medianMicros(kRounds, [&] { listingBytes = channelListingText(*database).size(); });
    const std::string listingPath = (folder / "listing.txt").string();
    const double listingFileUs = medianMicros(kRounds, [&] { check(writeChannelListing(*database, listingPath), "listing"); });

    // The editor's steps, each through the undo history as the window takes them.
    database->load();
    database->rebuildCountersAndFavorites();
    const ReferenceLists reference = referenceListsOf(*database);
    ChannelEditCommands commands(*database);
    const ListedChannels rows = listedChannels(*database, kFilterAll, 0);
    std::vector<int> block(1000);
    for (int k = 0; k < 1000; ++k)
        block[static_cast<std::size_t>(k)] = 1000 + k;
    commands.moveSelectedRows(rows.tv, block, 5000);
    const double undoUs = medianMicros(kRounds, [&] {
        check(commands.undo(), "undo");
        check(commands.redo(), "redo");
    });
    std::vector<double> undoOnly, redoOnly;
    for (int i = 0; i < kRounds; ++i) {
        undoOnly.push_back(medianMicros(1, [&] { commands.undo(); }));
        redoOnly.push_back(medianMicros(1, [&] { commands.redo(); }));
    }
    std::nth_element(undoOnly.begin(), undoOnly.begin() + kRounds / 2, undoOnly.end());
    std::nth_element(redoOnly.begin(), redoOnly.begin() + kRounds / 2, redoOnly.end());
    const double moveUs = medianMicros(kRounds, [&] { commands.moveSelectedRows(rows.tv, block, 5000); });
    bool byName = true;
    const double sortUs = medianMicros(kRounds, [&] {
        commands.sortRows(rows.tv, {}, byName ? ChannelDatabase::SortKey::Name : ChannelDatabase::SortKey::ServiceId);
        byName = !byName;
    });
    std::vector<double> applyTimes;
    ReferenceOrderSummary summary;
    for (int i = 0; i < kRounds; ++i) {
        commands.sortRows(rows.tv, {}, ChannelDatabase::SortKey::Name);
        commands.sortRows(rows.radio, {}, ChannelDatabase::SortKey::Name);
        applyTimes.push_back(medianMicros(1, [&] {
            summary = commands.applyReferenceOrder(rows.tv, reference.tv);
            commands.applyReferenceOrder(rows.radio, reference.radio);
        }));
    }
    std::nth_element(applyTimes.begin(), applyTimes.begin() + kRounds / 2, applyTimes.end());
    check(summary.matched == 7000, "matching every TV channel");

    // A fresh history: 200 steps, each a block of 1000 rows moved to another place.
    ChannelEditCommands fresh(*database);
    std::size_t changedSlots = 0;
    for (int step = 0; step < 200; ++step) {
        const int first = (step * 37) % 6000;
        for (int k = 0; k < 1000; ++k)
            block[static_cast<std::size_t>(k)] = first + k;
        const auto before = std::make_unique<ChannelDatabase>(*database);
        fresh.moveSelectedRows(rows.tv, block, (first + 3000) % 7000);
        for (int slot = 0; slot < kChannelSlots; ++slot)
            changedSlots += before->channels[static_cast<std::size_t>(slot)] == database->channels[static_cast<std::size_t>(slot)] ? 0 : 1;
    }
    const double historyMb = static_cast<double>(fresh.history().bytesHeld()) / (1024.0 * 1024.0);

    // Transponder tables: the largest scan file Debian installs, read and imported as one
    // recorded step (and undone between rounds), and every satellite written as a
    // satellites.xml; then the compare of two full images that differ all over.
    std::string largestTable;
    std::uintmax_t largestSize = 0;
    std::error_code noTables;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/dvb/dvb-s", noTables)) {
        if (entry.is_regular_file() && entry.file_size() > largestSize) {
            largestSize = entry.file_size();
            largestTable = entry.path().string();
        }
    }
    database->load();
    database->rebuildCountersAndFavorites();
    ChannelEditCommands tables(*database);
    double importUs = -1;
    TransponderImportSummary imported;
    if (!largestTable.empty()) {
        importUs = medianMicros(kRounds, [&] {
            const auto table = TransponderTable::readFile(largestTable);
            check(table.ok(), "reading the scan table");
            imported = tables.importTransponders(60, table.satellites[0].transponders, true);
            check(imported.added > 0, "importing the scan table");
            check(tables.undo(), "undo of the import");
        });
    }
    // The scan file's satellite written back as a scan file.
    double exportScanUs = -1;
    std::size_t scanBytes = 0;
    const std::string scanPath = (folder / "scan").string();
    if (!largestTable.empty()) {
        const auto table = TransponderTable::readFile(largestTable);
        tables.importTransponders(60, table.satellites[0].transponders, true);
        exportScanUs = medianMicros(kRounds, [&] {
            const std::string text = TransponderTable::writeDvbv5(TransponderTable::fromDatabase(*database, 60));
            scanBytes = text.size();
            check(TransponderTable::writeFile(scanPath, text), "writing the scan file");
        });
        check(tables.undo(), "undo of the import");
    }
    const std::string xmlPath = (folder / "satellites.xml").string();
    std::size_t exportedBytes = 0;
    const double exportUs = medianMicros(kRounds, [&] {
        const std::string text = TransponderTable::writeSatellitesXml(TransponderTable::fromDatabase(*database));
        exportedBytes = text.size();
        check(TransponderTable::writeFile(xmlPath, text), "writing satellites.xml");
    });
    auto changed = std::make_unique<ChannelDatabase>(*database);
    changed->moveSelectedRows(rows.tv, block, 5000);
    changed->deleteChannelsAt(std::vector{10, 20, 7500});
    for (int slot = 100; slot < 7000; slot += 500)
        changed->channels[static_cast<std::size_t>(slot)].name[0] ^= 0x20;
    std::size_t diffLines = 0;
    const double diffUs = medianMicros(kRounds, [&] { diffLines = ChannelImageDiff::compare(*database, *changed).size(); });

    std::filesystem::remove_all(folder);

    std::printf("Full channel image: %zu bytes, %d TV + %d radio channels; median of %d runs (%d when flushed)\n",
                image.size(), database->tvCount, database->radioCount, kRounds, kSyncRounds);
    std::printf("  %-34s %9.0f us\n", "raw read", readUs);
    std::printf("  %-34s %9.0f us   %.2fx raw read\n", "load", loadUs, loadUs / readUs);
    std::printf("  %-34s %9.0f us\n", "raw write, no fsync", writeUs);
    std::printf("  %-34s %9.0f us   %.2fx raw write\n", "save, no fsync", saveUs, saveUs / writeUs);
    std::printf("  %-34s %9.0f us\n", "raw write + fsync", writeSyncUs);
    std::printf("  %-34s %9.0f us   %.2fx raw write + fsync\n", "save + fsync", saveSyncUs, saveSyncUs / writeSyncUs);
    std::printf("  %-34s %9.0f us   (%zu bytes, 9002 lines; goal < 20000 us)\n", "listing text", listingUs, listingBytes);
    std::printf("  %-34s %9.0f us\n", "listing written to a file", listingFileUs);
    std::printf("Editor steps on the full image (baseline: load %.0f us; goal < 100000 us each)\n", loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "1,000-row move, recorded", moveUs, moveUs / loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "undo of that move", undoOnly[kRounds / 2], undoOnly[kRounds / 2] / loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "redo of that move", redoOnly[kRounds / 2], redoOnly[kRounds / 2] / loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "undo + redo", undoUs, undoUs / loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "sort 7,000 rows, recorded", sortUs, sortUs / loadUs);
    std::printf("  %-34s %9.0f us   %.2fx load\n", "apply order, 7000 TV + 2000 radio", applyTimes[kRounds / 2],
                applyTimes[kRounds / 2] / loadUs);
    std::printf("  %-34s %9.1f MB   (200 steps, %zu slots changed in all; goal < 50 MB)\n",
                "undo history after 200 moves", historyMb, changedSlots);
    std::printf("Transponder tables and compare on the full image (baseline: load %.0f us; goal < 50000 us each)\n",
                loadUs);
    if (importUs >= 0)
        std::printf("  %-34s %9.0f us   %.2fx load   (%s, %d added, %d left out)\n", "read + import largest scan file",
                    importUs, importUs / loadUs, std::filesystem::path(largestTable).filename().c_str(), imported.added,
                    imported.leftOut);
    else
        std::printf("  %-34s   skipped: /usr/share/dvb/dvb-s is missing (dtv-scan-tables)\n", "import largest scan file");
    if (exportScanUs >= 0)
        std::printf("  %-34s %9.0f us   %.2fx load   (128 transponders, %zu bytes)\n", "export it again as a scan file",
                    exportScanUs, exportScanUs / loadUs, scanBytes);
    std::printf("  %-34s %9.0f us   %.2fx load   (1200 transponders, %zu bytes)\n", "export satellites.xml",
                exportUs, exportUs / loadUs, exportedBytes);
    std::printf("  %-34s %9.0f us   %.2fx load   (%zu lines)\n", "diff of two full images", diffUs, diffUs / loadUs,
                diffLines);
    return 0;
}
