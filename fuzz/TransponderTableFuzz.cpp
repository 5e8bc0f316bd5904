// libFuzzer target: a transponder table from arbitrary text (a scan file or a
// satellites.xml, hand-read) through the import into a sample image, and what is read
// written out again in both forms and read back, which must succeed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "ChannelDatabase.h"
#include "SampleImages.h"
#include "TransponderImport.h"
#include "TransponderTable.h"

using namespace updatetool;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> image = samples::channelImage();
    const auto table = TransponderTable::read(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!table.ok())
        return 0;
    auto database = std::make_unique<ChannelDatabase>();
    database->loadFromBytes(image);
    for (const SatelliteTable& satellite : table.satellites) {
        importTransponders(*database, 5, satellite.transponders, true);
        // What was read is written so that it reads back the same.
        for (const auto& text : {TransponderTable::writeDvbv5({&satellite, 1}), TransponderTable::writeSatellitesXml({&satellite, 1})}) {
            const auto again = TransponderTable::read(text);
            if (!satellite.transponders.empty() && (!again.ok() || again.satellites.back().transponders != satellite.transponders))
                std::abort();
        }
    }
    return 0;
}
