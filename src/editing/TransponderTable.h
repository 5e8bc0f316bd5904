#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace updatetool {

class ChannelDatabase;

// One transponder as the standard tables give it: frequency in kHz, symbol rate in
// symbols per second.
struct TableTransponder {
    enum class Polarization { Horizontal, Vertical, Left, Right };
    std::uint32_t frequencyKHz = 0;
    std::uint32_t symbolRate = 0;
    Polarization polarization = Polarization::Horizontal;
    bool dvbs2 = false;
    int line = 0; // where the entry begins in its file

    bool operator==(const TableTransponder& other) const
    {
        return frequencyKHz == other.frequencyKHz && symbolRate == other.symbolRate
            && polarization == other.polarization && dvbs2 == other.dvbs2;
    }
};

// One satellite's transponders in file order. `position` in tenths of a degree, west
// negative, as satellites.xml writes it; a dvbv5 scan file has none.
struct SatelliteTable {
    std::string name;
    std::optional<int> position;
    std::vector<TableTransponder> transponders;
};

// The two forms other receivers and scanning tools read: the Linux DVB "dvbv5" scan
// file ([CHANNEL] blocks of KEY = VALUE lines) and satellites.xml.
class TransponderTable {
public:
    enum class Format { Dvbv5, SatellitesXml };

    struct ReadResult {
        std::vector<SatelliteTable> satellites; // a scan file gives exactly one
        Format format = Format::Dvbv5;
        std::string error; // "line N: ..." when the text was refused; then no satellite
        bool cantOpen = false;
        bool ok() const { return error.empty(); }
    };
    // Takes either form, told apart by its first non-blank character; anything else, and
    // any entry without frequency, symbol rate or polarisation or with a number that is
    // not one, refuses the whole text.
    static ReadResult read(std::string_view text);
    // The same for a file; `cantOpen` with the system's words when it cannot be read.
    static ReadResult readFile(const std::string& path);

    static std::string writeDvbv5(std::span<const SatelliteTable> satellites);
    static std::string writeSatellitesXml(std::span<const SatelliteTable> satellites);
    // Writes beside `path` and renames over it only when complete; false with the
    // system's words in `reason` when that fails.
    static bool writeFile(const std::string& path, std::string_view content, std::string* reason = nullptr);

    // The database's satellite transponders as such tables: one satellite (its record
    // index) or, with -1, every named satellite that has transponders. The terrestrial
    // slot is never among them: these are satellite tables.
    static std::vector<SatelliteTable> fromDatabase(const ChannelDatabase& database, int satellite = -1);

    // The orbital position a satellite's name ends in ("HOTBIRD 13.0E" -> 130,
    // "THOR 0.8W" -> -8), in tenths of a degree, west negative.
    static std::optional<int> positionFromName(std::string_view name);
};

} // namespace updatetool
