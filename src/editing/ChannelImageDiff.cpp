#include "ChannelImageDiff.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "ChannelBlockLayout.h"
#include "ChannelDatabase.h"
#include "EditorLists.h"
#include "EditorTexts.h"
#include "ImageFile.h"

namespace updatetool {

namespace {

using Kind = ChannelDiffLine::Kind;

// Where a channel is tuned, as its stream record says: the box reads nothing else.
struct Tuning {
    std::uint8_t satellite = kNoSatellite;
    std::uint16_t frequency = 0;
    std::uint16_t symbolRate = 0;
    std::uint8_t polarity = 0;
    auto operator<=>(const Tuning&) const = default;
};

struct ListedChannel {
    int row = 0;      // 1-based, as the list numbers it
    int position = 0; // channel-order position
    std::string name;
    std::uint16_t serviceId = 0;
    Tuning tuning;
    std::uint16_t flags = 0;
};

std::string printable(std::string_view text)
{
    std::string out;
    for (const char c : text)
        out += static_cast<unsigned char>(c) < 0x20 ? '.' : c;
    return out;
}

std::string satelliteName(const ChannelDatabase& database, int satellite)
{
    if (satellite < 0 || satellite >= kSatelliteCapacity)
        return "satellite " + std::to_string(satellite);
    const std::string name = printable(storedName(database.satellites[static_cast<std::size_t>(satellite)].name));
    return name.empty() ? "satellite " + std::to_string(satellite) : name;
}

// The values the way the transponder list shows them, without its column padding.
std::string tuningValues(std::uint8_t satellite, std::uint16_t frequency, std::uint16_t symbolRate,
                         std::uint8_t polarity, std::uint8_t priority)
{
    char text[64];
    if (satellite == kTerrestrialSatellite)
        std::snprintf(text, sizeof text, "CH%u %s %u.%u", symbolRate, std::string(priorityWord(priority)).c_str(),
                      frequency / 10u, frequency % 10u);
    else
        std::snprintf(text, sizeof text, "%u %s %u", frequency, polarity ? "HOR" : "VER", symbolRate);
    return text;
}

// A stream record carries no terrestrial priority, so a channel's tuning shows none.
std::string tuningText(const ChannelDatabase& database, const Tuning& tuning)
{
    std::string values = tuningValues(tuning.satellite, tuning.frequency, tuning.symbolRate, tuning.polarity, 0);
    if (tuning.satellite == kTerrestrialSatellite)
        values.erase(values.find(" HP"), 3);
    return satelliteName(database, tuning.satellite) + " " + values;
}

std::vector<ListedChannel> channelsOf(const ChannelDatabase& database, const std::vector<std::uint16_t>& positions)
{
    std::vector<ListedChannel> list;
    list.reserve(positions.size());
    for (std::size_t row = 0; row < positions.size(); ++row) {
        const ChannelRecord& channel = database.channels[database.channelOrder[positions[row]]];
        const std::uint32_t stream = ChannelDatabase::streamIndexOf(channel.streamRef);
        ListedChannel listed;
        listed.row = static_cast<int>(row) + 1;
        listed.position = positions[row];
        listed.name = printable(shownChannelName(channel.name));
        listed.serviceId = channel.serviceId;
        listed.tuning = {database.streamSatellite(stream), database.streamFrequency(stream),
                         database.streamSymbolRate(stream), database.streamPolarity(stream)};
        listed.flags = channel.flags;
        list.push_back(std::move(listed));
    }
    return list;
}

std::string favouriteGroups(std::uint16_t flags)
{
    std::string text;
    for (int group = 1; group <= kFavoriteGroupCount; ++group) {
        if (!(flags & channelflag::favorite(group)))
            continue;
        // Appended piece by piece: a "," + string temporary sets off mingw-w64's
        // -Wrestrict false alarm at -O3.
        if (!text.empty())
            text.push_back(',');
        text.append(std::to_string(group));
    }
    return text.empty() ? "none" : text;
}

// Indices (into `values`) of one longest strictly increasing run, by patience sorting.
std::vector<bool> longestIncreasing(const std::vector<int>& values)
{
    std::vector<int> tails;      // index of the smallest tail of a run of each length
    std::vector<int> previous(values.size(), -1);
    for (int i = 0; i < static_cast<int>(values.size()); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), values[static_cast<std::size_t>(i)],
                                         [&](int index, int value) { return values[static_cast<std::size_t>(index)] < value; });
        if (at != tails.begin())
            previous[static_cast<std::size_t>(i)] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> kept(values.size(), false);
    for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = previous[static_cast<std::size_t>(i)])
        kept[static_cast<std::size_t>(i)] = true;
    return kept;
}

class Comparison {
public:
    Comparison(const ChannelDatabase& first, const ChannelDatabase& second) : first_(first), second_(second) {}

    std::vector<ChannelDiffLine> run()
    {
        compareSatellites();
        compareTransponders();
        const ListedChannels a = listedChannels(first_, kFilterAll, 0);
        const ListedChannels b = listedChannels(second_, kFilterAll, 0);
        compareChannels(channelsOf(first_, a.tv), channelsOf(second_, b.tv), false);
        compareChannels(channelsOf(first_, a.radio), channelsOf(second_, b.radio), true);
        return std::move(lines_);
    }

private:
    void add(Kind kind, std::string text, bool radio = false, int position = -1)
    {
        lines_.push_back({kind, radio, position, std::move(text)});
    }

    void compareSatellites()
    {
        for (int s = 0; s < kSatelliteCapacity; ++s) {
            const std::string before = printable(storedName(first_.satellites[static_cast<std::size_t>(s)].name));
            const std::string after = printable(storedName(second_.satellites[static_cast<std::size_t>(s)].name));
            if (before != after)
                add(Kind::SatelliteRenamed,
                    "Satellite " + std::to_string(s) + " renamed: \"" + before + "\" to \"" + after + "\"");
        }
    }

    void compareTransponders()
    {
        using Key = std::tuple<int, std::uint16_t, std::uint16_t, std::uint8_t, std::uint8_t>;
        const auto keyOf = [](const TransponderRecord& t) {
            // A terrestrial transponder's priority is part of what it is; a satellite's is not read.
            const std::uint8_t priority = t.satellite == kTerrestrialSatellite ? t.priority : 0;
            return Key{t.satellite, t.frequency, t.symbolRate, t.polarity, priority};
        };
        const auto listed = [](const ChannelDatabase& database) {
            std::vector<int> indices;
            for (int t = 0; t < kTransponderCapacity; ++t) {
                if (transponderListable(database.transponders[static_cast<std::size_t>(t)], database.satelliteCount))
                    indices.push_back(t);
            }
            return indices;
        };
        const std::vector<int> a = listed(first_);
        const std::vector<int> b = listed(second_);
        std::map<Key, std::vector<int>> inSecond; // still unmatched, in table order
        for (auto it = b.rbegin(); it != b.rend(); ++it)
            inSecond[keyOf(second_.transponders[static_cast<std::size_t>(*it)])].push_back(*it);
        std::set<int> removed; // record indices unmatched in the first image, in table order
        for (const int t : a) {
            auto found = inSecond.find(keyOf(first_.transponders[static_cast<std::size_t>(t)]));
            if (found != inSecond.end() && !found->second.empty())
                found->second.pop_back();
            else
                removed.insert(t);
        }
        std::set<int> added;
        for (const auto& [key, indices] : inSecond) {
            for (const int t : indices)
                added.insert(t);
        }
        const auto text = [](const ChannelDatabase& database, int t) {
            const TransponderRecord& r = database.transponders[static_cast<std::size_t>(t)];
            return satelliteName(database, r.satellite) + " "
                + tuningValues(r.satellite, r.frequency, r.symbolRate, r.polarity, r.priority);
        };
        // A record that holds other values at the same index, on the same satellite, was edited.
        for (auto it = removed.begin(); it != removed.end();) {
            const int t = *it;
            const auto other = added.find(t);
            if (other != added.end()
                && first_.transponders[static_cast<std::size_t>(t)].satellite
                       == second_.transponders[static_cast<std::size_t>(t)].satellite) {
                const TransponderRecord& r = second_.transponders[static_cast<std::size_t>(t)];
                add(Kind::TransponderChanged, "Transponder changed: " + text(first_, t) + " to "
                                                  + tuningValues(r.satellite, r.frequency, r.symbolRate, r.polarity,
                                                                 r.priority));
                added.erase(other);
                it = removed.erase(it);
            } else {
                ++it;
            }
        }
        for (const int t : removed)
            add(Kind::TransponderRemoved, "Transponder removed: " + text(first_, t));
        for (const int t : added)
            add(Kind::TransponderAdded, "Transponder added: " + text(second_, t));
    }

    void compareChannels(const std::vector<ListedChannel>& a, const std::vector<ListedChannel>& b, bool radio)
    {
        const std::string list = radio ? "Radio " : "TV ";
        std::vector<int> partner(a.size(), -1);
        std::vector<bool> taken(b.size(), false);
        std::vector<Kind> how(a.size(), Kind::ChannelMoved);

        // Three rounds, each pairing still unpaired channels in list order: the same
        // channel, then a renamed one, then a re-tuned one.
        const auto pairBy = [&](auto keyOf, Kind kind) {
            using Key = decltype(keyOf(a.front()));
            std::map<Key, std::vector<int>> waiting;
            for (int j = static_cast<int>(b.size()) - 1; j >= 0; --j) {
                if (!taken[static_cast<std::size_t>(j)])
                    waiting[keyOf(b[static_cast<std::size_t>(j)])].push_back(j);
            }
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (partner[i] >= 0)
                    continue;
                auto found = waiting.find(keyOf(a[i]));
                if (found == waiting.end() || found->second.empty())
                    continue;
                partner[i] = found->second.back();
                found->second.pop_back();
                taken[static_cast<std::size_t>(partner[i])] = true;
                how[i] = kind;
            }
        };
        if (a.empty() && b.empty())
            return;
        pairBy([](const ListedChannel& c) { return std::make_tuple(c.name, c.serviceId, c.tuning); }, Kind::ChannelMoved);
        pairBy([](const ListedChannel& c) { return std::make_tuple(c.serviceId, c.tuning); }, Kind::ChannelRenamed);
        pairBy([](const ListedChannel& c) { return std::make_tuple(c.name, c.serviceId); }, Kind::ChannelRetuned);

        const auto label = [&](const ListedChannel& c, const ChannelDatabase& database, bool withTuning) {
            std::string text = "\"" + c.name + "\" (Ch. ID " + std::to_string(c.serviceId);
            if (withTuning)
                text += ", " + tuningText(database, c.tuning);
            return text + ")";
        };
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (partner[i] < 0)
                add(Kind::ChannelRemoved, list + "removed: " + std::to_string(a[i].row) + " " + label(a[i], first_, true),
                    radio);
        }
        for (std::size_t j = 0; j < b.size(); ++j) {
            if (!taken[j])
                add(Kind::ChannelAdded, list + "added: " + std::to_string(b[j].row) + " " + label(b[j], second_, true),
                    radio, b[j].position);
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (partner[i] < 0)
                continue;
            const ListedChannel& before = a[i];
            const ListedChannel& after = b[static_cast<std::size_t>(partner[i])];
            if (how[i] == Kind::ChannelRenamed)
                add(Kind::ChannelRenamed, list + "renamed: " + std::to_string(after.row) + " \"" + before.name
                                              + "\" to " + label(after, second_, true), radio, after.position);
            else if (how[i] == Kind::ChannelRetuned)
                add(Kind::ChannelRetuned, list + "re-tuned: " + std::to_string(after.row) + " " + label(after, second_, false)
                                              + " from " + tuningText(first_, before.tuning) + " to "
                                              + tuningText(second_, after.tuning), radio, after.position);
        }
        // Moves: the pairs in the first list's order; those outside one longest run that
        // keeps its order in the second list are the fewest moves that explain it.
        std::vector<int> pairedRows;
        std::vector<std::size_t> pairedFrom;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (partner[i] >= 0) {
                pairedRows.push_back(partner[i]);
                pairedFrom.push_back(i);
            }
        }
        const std::vector<bool> stayed = longestIncreasing(pairedRows);
        std::vector<std::pair<int, std::size_t>> moved;
        for (std::size_t k = 0; k < pairedRows.size(); ++k) {
            if (!stayed[k])
                moved.emplace_back(pairedRows[k], pairedFrom[k]);
        }
        std::sort(moved.begin(), moved.end());
        for (const auto& [j, i] : moved) {
            const ListedChannel& after = b[static_cast<std::size_t>(j)];
            add(Kind::ChannelMoved, list + "moved: " + label(after, second_, false) + " from " + std::to_string(a[i].row)
                                        + " to " + std::to_string(after.row), radio, after.position);
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (partner[i] < 0)
                continue;
            const ListedChannel& after = b[static_cast<std::size_t>(partner[i])];
            const std::uint16_t before = a[i].flags;
            std::string changes;
            const auto onOff = [&](std::uint16_t bit, const char* word) {
                if ((before & bit) != (after.flags & bit))
                    changes += std::string(changes.empty() ? "" : ", ") + word + ((after.flags & bit) ? " off to on" : " on to off");
            };
            onOff(channelflag::kScrambled, "scrambled");
            onOff(channelflag::kLocked, "locked");
            if (favouriteGroups(before) != favouriteGroups(after.flags))
                changes += std::string(changes.empty() ? "" : ", ") + "favourites " + favouriteGroups(before) + " to "
                         + favouriteGroups(after.flags);
            if (!changes.empty())
                add(Kind::FlagsChanged, list + "flags: " + std::to_string(after.row) + " " + label(after, second_, false)
                                            + " " + changes, radio, after.position);
        }
    }

    const ChannelDatabase& first_;
    const ChannelDatabase& second_;
    std::vector<ChannelDiffLine> lines_;
};

} // namespace

std::vector<ChannelDiffLine> ChannelImageDiff::compare(const ChannelDatabase& first, const ChannelDatabase& second)
{
    return Comparison(first, second).run();
}

std::unique_ptr<ChannelDatabase> ChannelImageDiff::loadImage(const std::string& path, std::string& error)
{
    std::string reason;
    const auto content = channelfile::readWholeFile(path, kLargestChannelFile + 1, &reason);
    if (!content) {
        error = path + ": " + reason;
        return nullptr;
    }
    const auto bytes = content->bytes();
    if (content->size > kLargestChannelFile || !isChannelFileHead(bytes.first(std::min<std::size_t>(bytes.size(), kHeaderSize)))) {
        error = path + " is not a channel image";
        return nullptr;
    }
    // A cut-off image would show its missing channels as removed.
    if (bytes.size() < channelblock::kImageSize) {
        error = path + " is not a whole channel image";
        return nullptr;
    }
    auto database = std::make_unique<ChannelDatabase>();
    database->sourceKind = 'c';
    database->loadFromBytes(bytes);
    database->rebuildCountersAndFavorites();
    return database;
}

} // namespace updatetool
