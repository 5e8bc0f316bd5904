#pragma once

#include <span>
#include <string>

#include "TransponderTable.h"

namespace updatetool {

class ChannelDatabase;

// What an import did with each entry of a table, by the first reason that applied.
struct TransponderImportSummary {
    int added = 0;
    int circular = 0;    // LEFT or RIGHT: the box's LNB settings know only H and V
    int dvbs2 = 0;       // DVB-S2, when those were not asked for
    int outOfRange = 0;  // outside what the transponder dialog accepts
    int duplicates = 0;  // already on the satellite, or a repeat within the table
    int leftOut = 0;     // no room: the satellite's list or the table was full
    std::string refusal; // the satellite cannot take satellite transponders; nothing done

    // "Added 12 transponders.", "Skipped 3 circular, ...", "Left out for want of room: 0.",
    // one to a line.
    std::string text() const;
};

// Adds a table's transponders to one satellite, in the table's order, each exactly as
// the transponder dialog's "New" adds it. Frequencies are rounded to the nearest MHz
// and symbol rates to the nearest kbaud (halves upward) before any check. Stops at the
// first entry there is no room for and counts it and every later one as left out.
TransponderImportSummary importTransponders(ChannelDatabase& database, int satellite,
                                            std::span<const TableTransponder> entries, bool includeDvbs2);

} // namespace updatetool
