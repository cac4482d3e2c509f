#include "mapparts.h"

#include <algorithm>

#include "roomflags.h"
#include "storeys.h"

namespace qm {

// Clearly apart: water blue, quicksand ochre, sky violet, wind and the other
// flags green, no flag grey.
const std::vector<TFill> MapFills = {{"water", "#2f6fd6"},
                                     {"quicksand", "#c7922e"},
                                     {"sky", "#a35bd0"},
                                     {"wind or other flag", "#3f9e4d"},
                                     {"no flag", "#8c8c8c"}};

const char* FillOf(const Ttrlevel& L, const TRoomFacts& f) {
    if (f.Water) return MapFills[0].Colour;
    if (f.QuickSand) return MapFills[1].Colour;
    if (f.Sky) return MapFills[2].Colour;
    for (const std::string& name : FlagNamesSet(f.Flags, L))
        if (name != "Water" && name != "Sky" && name != "QuickSand") return MapFills[3].Colour;
    return MapFills[4].Colour;
}

// "Room 3: water, sky, 12×8 sectors, floor 1024, ceiling -2048, alternate room 5"
std::string RoomTitle(size_t i, const TRoomFacts& f, int32_t alternateOf) {
    std::string t = "Room " + std::to_string(i) + ": ";
    std::string flags;
    if (f.Water) flags += "water, ";
    if (f.Sky) flags += "sky, ";
    if (f.QuickSand) flags += "quicksand, ";
    t += flags.empty() ? "no flags, " : flags;
    t += std::to_string(f.SizeX) + "\xC3\x97" + std::to_string(f.SizeZ) + " sectors, floor " +
         std::to_string(f.Floor) + ", ceiling " + std::to_string(f.Ceiling);
    if (f.Alternate >= 0) t += ", alternate room " + std::to_string(f.Alternate);
    if (alternateOf >= 0) t += ", alternate of room " + std::to_string(alternateOf);
    return t;
}

// Floor sectors: the runs of floor sectors along z of each column, a run
// carried on as one rectangle while the next columns repeat it (whole areas,
// without hairline seams between columns).
std::vector<TSectorRect> FloorRects(const RoomRecord& r, const TRoomFacts& f) {
    std::vector<TSectorRect> rects;
    const double x0 = Sectors(f.X), z0 = Sectors(f.Z);
    struct TRun {
        uint32_t Z0, Z1, X0;
    };
    std::vector<TRun> open, next;
    for (uint32_t x = 0; x <= f.SizeX; ++x) {
        next.clear();
        for (uint32_t z = 0; x < f.SizeX && z < f.SizeZ;) {
            if (IsWallSector(r, x, z)) {
                ++z;
                continue;
            }
            uint32_t end = z + 1;
            while (end < f.SizeZ && !IsWallSector(r, x, end)) ++end;
            next.push_back({.Z0 = z, .Z1 = end, .X0 = x});
            z = end;
        }
        // Both lists are in z order: a run that goes on keeps its start column.
        size_t k = 0;
        for (const TRun& run : open) {
            while (k < next.size() && next[k].Z0 < run.Z0) ++k;
            if (k < next.size() && next[k].Z0 == run.Z0 && next[k].Z1 == run.Z1) next[k].X0 = run.X0;
            else rects.push_back({.X = x0 + run.X0, .Y = -(z0 + run.Z1), .W = x - run.X0, .H = run.Z1 - run.Z0});
        }
        open.swap(next);
    }
    return rects;
}

std::vector<std::string> ListNote(const std::string& head, const std::vector<int32_t>& numbers, double width,
                                  size_t most) {
    std::vector<std::string> lines;
    if (numbers.empty()) return lines;
    const size_t perLine = size_t(std::max(30.0, width / 6.5));
    std::string line = head;
    for (size_t i = 0; i < numbers.size(); ++i) {
        // Joined by append: g++ 12 at -O3 warns falsely of overlapping copies in " " + string.
        std::string word(1, ' ');
        word.append(std::to_string(numbers[i])).append(i + 1 < numbers.size() ? "," : "");
        if (line.size() + word.size() > perLine) {
            if (lines.size() + 1 >= most) {
                lines.push_back(line.append(" and ").append(std::to_string(numbers.size() - i)).append(" more"));
                return lines;
            }
            lines.push_back(line);
            line.clear();
        }
        line += word;
    }
    lines.push_back(line);
    return lines;
}

namespace {

void Widen(TExtent& e, const TRoomFacts& f, bool first) {
    const int64_t x1 = int64_t(f.X) + int64_t(f.SizeX) * SectorUnits, z1 = int64_t(f.Z) + int64_t(f.SizeZ) * SectorUnits;
    e = first ? TExtent{f.X, x1, f.Z, z1}
              : TExtent{std::min<int64_t>(e.Left, f.X), std::max(e.Right, x1), std::min<int64_t>(e.Bottom, f.Z),
                        std::max(e.Top, z1)};
}

} // namespace

TMapParts PartsOf(const Ttrlevel& L, int32_t from, int32_t to, int32_t storey) {
    TMapParts p;
    const TStoreys storeys = LevelStoreys(L);
    p.Facts.resize(L.RoomCount);
    p.AlternateOf.assign(L.RoomCount, -1);
    p.PanelOfRoom.assign(L.RoomCount, -1);
    for (size_t i = 0; i < L.RoomCount; ++i) {
        const int16_t a = L.Rooms[i].AlternateRoom;
        if (a >= 0 && a < int32_t(L.RoomCount) && p.AlternateOf[size_t(a)] < 0) p.AlternateOf[size_t(a)] = int32_t(i);
    }
    // The panels: the storeys of the drawn rooms, or the one asked for.
    std::vector<int32_t> panelOfStorey(storeys.List.size() + 1, -1);
    std::vector<bool> holdsDrawn(storeys.List.size() + 1, false);
    for (int32_t i = from; i <= to; ++i) holdsDrawn[size_t(storeys.StoreyOf[size_t(i)])] = true;
    for (size_t n = 0; n < storeys.List.size(); ++n) {
        const int32_t number = int32_t(n + 1);
        if (number != storey && (storey != 0 || !holdsDrawn[size_t(number)])) continue;
        panelOfStorey[size_t(number)] = int32_t(p.Panels.size());
        const TStorey& s = storeys.List[n];
        p.Panels.push_back({.Storey = number, .Low = s.Low, .High = s.High,
                            .Title = "Storey " + std::to_string(number) + " (y " + std::to_string(s.Low) + " to " +
                                     std::to_string(s.High) + ")"});
    }
    for (int32_t i = from; i <= to; ++i) {
        const int32_t n = panelOfStorey[size_t(storeys.StoreyOf[size_t(i)])];
        if (n < 0) continue;
        TPanelPart& panel = p.Panels[size_t(n)];
        const TRoomFacts& f = p.Facts[size_t(i)] = RoomFacts(L, size_t(i));
        Widen(panel.Frame, f, panel.Rooms.empty());
        panel.Rooms.push_back(i);
        p.PanelOfRoom[size_t(i)] = n;
    }
    return p;
}

void AddTriggeredSectors(TMapParts& p, const TLevelTriggers& triggers) {
    p.Triggered.assign(p.Facts.size(), {});
    const TTriggeredSector* last = nullptr;
    for (const TTriggeredSector& t : triggers.Triggers) {
        const TSectorRef& s = t.Place.Sector;
        if (s.Room < 0 || size_t(s.Room) >= p.PanelOfRoom.size() || p.PanelOfRoom[size_t(s.Room)] < 0) continue;
        // A sector's triggers come one after another: it is hatched once.
        if (last && last->Place.Sector == s) continue;
        last = &t;
        const TRoomFacts& f = p.Facts[size_t(s.Room)];
        p.Triggered[size_t(s.Room)].push_back(
            {.X = Sectors(f.X) + s.Column, .Y = -(Sectors(f.Z) + s.Row + 1), .W = 1, .H = 1});
    }
}

} // namespace qm
