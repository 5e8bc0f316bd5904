#include "TransponderImport.h"

#include <set>
#include <tuple>

#include "ChannelDatabase.h"

namespace updatetool {

namespace {

// The transponder dialog's ranges for a satellite transponder.
constexpr std::uint32_t kLowestMHz = 3500;
constexpr std::uint32_t kHighestMHz = 12750;
constexpr std::uint32_t kLowestKbaud = 2000;
constexpr std::uint32_t kHighestKbaud = 45000;

std::uint32_t roundedThousandths(std::uint32_t value)
{
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(value) + 500) / 1000);
}

} // namespace

std::string TransponderImportSummary::text() const
{
    if (!refusal.empty())
        return refusal;
    // Three short lines, so each fits a terminal of 80 columns and a message box.
    return "Added " + std::to_string(added) + (added == 1 ? " transponder.\n" : " transponders.\n") + "Skipped "
        + std::to_string(circular) + " circular, " + std::to_string(dvbs2) + " DVB-S2, "
        + std::to_string(outOfRange) + " out of range, " + std::to_string(duplicates) + " already there.\n"
        + "Left out for want of room: " + std::to_string(leftOut) + ".";
}

TransponderImportSummary importTransponders(ChannelDatabase& database, int satellite,
                                            std::span<const TableTransponder> entries, bool includeDvbs2)
{
    TransponderImportSummary summary;
    if (satellite < 0 || satellite >= kSatelliteCapacity || satellite == kTerrestrialSatellite) {
        summary.refusal = "Satellite transponders go to a satellite, not to the terrestrial slot";
        return summary;
    }
    // "New" adds to the editor's current satellite; the import borrows that for the run.
    const int currentBefore = database.currentSatellite;
    database.currentSatellite = satellite;
    const SatelliteRecord& owner = database.satellites[static_cast<std::size_t>(satellite)];
    // The table scan of the duplicate search ends at the first unused record; a repeat
    // within the file must count as a duplicate wherever its twin was stored.
    std::set<std::tuple<std::uint16_t, std::uint16_t, std::uint8_t>> added;

    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TableTransponder& entry = entries[i];
        using Polarization = TableTransponder::Polarization;
        if (entry.polarization == Polarization::Left || entry.polarization == Polarization::Right) {
            ++summary.circular;
            continue;
        }
        if (entry.dvbs2 && !includeDvbs2) {
            ++summary.dvbs2;
            continue;
        }
        const std::uint32_t mhz = roundedThousandths(entry.frequencyKHz);
        const std::uint32_t kbaud = roundedThousandths(entry.symbolRate);
        if (mhz < kLowestMHz || mhz > kHighestMHz || kbaud < kLowestKbaud || kbaud > kHighestKbaud) {
            ++summary.outOfRange;
            continue;
        }
        ChannelDatabase::TransponderValues values;
        values.satellite = static_cast<std::uint8_t>(satellite);
        values.frequency = static_cast<std::uint16_t>(mhz);
        values.symbolRate = static_cast<std::uint16_t>(kbaud);
        values.polarity = entry.polarization == Polarization::Horizontal ? 1 : 0;
        const auto key = std::make_tuple(values.frequency, values.symbolRate, values.polarity);
        if (added.contains(key)
            || database.findDuplicateTransponder(values.satellite, values.frequency, values.symbolRate,
                                                 values.polarity) >= 0) {
            ++summary.duplicates;
            continue;
        }
        int index = -1;
        const bool room = owner.transponderCount < kTranspondersPerSatellite && database.findFreeTransponder() >= 0;
        const auto result = room ? database.insertTransponder(values, index) : ChannelDatabase::EditResult::NoFreeRecord;
        if (result == ChannelDatabase::EditResult::Duplicate) {
            ++summary.duplicates;
            continue;
        }
        if (result != ChannelDatabase::EditResult::Stored) {
            summary.leftOut = static_cast<int>(entries.size() - i);
            break;
        }
        added.insert(key);
        ++summary.added;
    }
    database.currentSatellite = currentBefore;
    return summary;
}

} // namespace updatetool
