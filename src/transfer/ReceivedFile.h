#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ReplacementFile.h"

namespace updatetool {

// The file the receive job makes: the company signature, then the announced
// number of received bytes. It is written beside OUTPUT and takes OUTPUT's place
// only on commit(), so a reception that fails, comes up short or is cancelled
// leaves an existing OUTPUT as it was and no partial file. Every step reports
// failure instead of throwing.
class ReceivedFile {
public:
    // Makes the temporary file; false when it cannot be made (a missing folder, no
    // permission), with the reason in error().
    bool create(const std::string& path);
    // Writes the signature and the data, flushes them to the disk and puts the
    // file in OUTPUT's place.
    bool commit(std::span<const std::uint8_t> data);
    // Drops what was made; OUTPUT stays as it was.
    void discard() { file_.discard(); }
    const std::string& error() const { return file_.error(); }

private:
    ReplacementFile file_;
};

} // namespace updatetool
