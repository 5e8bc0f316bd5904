// The compare of two channel images: each kind of change shows as its own line, and
// nothing that merely follows from it does.
#include "ChannelTestSupport.h"

#include <cstring>
#include <functional>

#include "ChannelImageDiff.h"
#include "EditorLists.h"

using namespace updatetool;
using namespace updatetool::test;

namespace {

void setName(RecordName& name, const char* text)
{
    name = {};
    std::strncpy(name.data(), text, name.size() - 1);
}

ChannelRecord& tvRow(ChannelDatabase& database, int row)
{
    return database.channels[database.channelOrder[listedChannels(database, kFilterAll, 0).tv[static_cast<std::size_t>(row)]]];
}

TEST(ChannelImageDiff, ListsEachChangeOnceAndOnlyTheFewestMoves)
{
    const struct {
        const char* what;
        std::function<void(ChannelDatabase&)> change;
        std::vector<std::string> lines; // each line starts so, in this order
    } cases[] = {
        {"nothing", [](ChannelDatabase&) {}, {}},
        {"one channel dragged down: the ones it passed are not listed",
         [](ChannelDatabase& d) { d.moveRow(listedChannels(d, kFilterAll, 0).tv, 2, 10); },
         {"TV moved: \"Kanal Sieben\" (Ch. ID 258) from 3 to 10"}},
        {"two channels swapped: one move explains it",
         [](ChannelDatabase& d) { d.moveRow(listedChannels(d, kFilterAll, 0).radio, 0, 2); },
         {"Radio moved: \"Radio Pop 1\" (Ch. ID 16384) from 1 to 2"}},
        {"deleted: removed, and the later ones are not moved",
         [](ChannelDatabase& d) { d.deleteChannelsAt(std::vector{5}); },
         {"TV removed: 6 \"Music TV 1\" (Ch. ID 261, ASTRA 19.2E 10899 HOR 27500)"}},
        {"renamed", [](ChannelDatabase& d) { setName(tvRow(d, 0).name, "News 25"); },
         {"TV renamed: 1 \"News 24 1\" to \"News 25\" (Ch. ID 256, ASTRA 19.2E 10714 VER 22000)"}},
        {"flags", [](ChannelDatabase& d) { tvRow(d, 1).flags ^= channelflag::kScrambled | channelflag::favorite(3); },
         {"TV flags: 2 \"Sport 1\" (Ch. ID 257) scrambled off to on, favourites none to 3"}},
        {"re-tuned", [](ChannelDatabase& d) { tvRow(d, 0).streamRef = tvRow(d, 200).streamRef; },
         {"TV re-tuned: 1 \"News 24 1\" (Ch. ID 256) from ASTRA 19.2E 10714 VER 22000 to Terrestrial CH21 474.5"}},
        {"added", [](ChannelDatabase& d) {
             ChannelDatabase::ChannelValues values;
             values.transponder = tvRow(d, 0).transponder;
             values.satellite = tvRow(d, 0).satellite;
             setName(values.name, "New One");
             values.serviceId = 4321;
             int position = -1;
             d.insertChannel(false, values, position);
         },
         {"TV added: 241 \"New One\" (Ch. ID 4321, ASTRA 19.2E 10714 VER 22000)"}},
        {"transponders", [](ChannelDatabase& d) {
             d.currentSatellite = 1;
             int index = -1;
             d.insertTransponder({1, 12345, 27500, 1, 0}, index);
             d.transponders[d.satellites[2].transponderIndex[0]].symbolRate += 1;
             d.removeTransponder(d.satellites[3].transponderIndex[0]);
         },
         {"Transponder changed: EUTELSAT 7.0E ", "Transponder removed: TURKSAT 42.0E ",
          "Transponder added: HOTBIRD 13.0E 12345 HOR 27500"}},
        {"satellite renamed", [](ChannelDatabase& d) { setName(d.satellites[2].name, "EUTELSAT 7E"); },
         {"Satellite 2 renamed: \"EUTELSAT 7.0E\" to \"EUTELSAT 7E\""}},
    };
    const auto first = loaded(demoImage());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto second = loaded(demoImage());
        c.change(*second);
        const std::vector<ChannelDiffLine> lines = ChannelImageDiff::compare(*first, *second);
        std::string all;
        for (const ChannelDiffLine& line : lines)
            all += line.text + "\n";
        ASSERT_EQ(lines.size(), c.lines.size()) << all;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i].text.starts_with(c.lines[i])) << lines[i].text;
            // A line about a channel still there leads to it in the second image's lists.
            const bool channelThere = lines[i].text.starts_with("TV ") || lines[i].text.starts_with("Radio ");
            if (channelThere && lines[i].kind != ChannelDiffLine::Kind::ChannelRemoved) {
                ASSERT_GE(lines[i].positionInSecond, 0);
                const RecordName& name = second->channels[second->channelOrder[lines[i].positionInSecond]].name;
                const std::string shown(name.data() + (name[0] == 0x05 ? 1 : 0));
                EXPECT_NE(lines[i].text.find("\"" + shown + "\" (Ch. ID"), std::string::npos);
            }
        }
    }
}

} // namespace
