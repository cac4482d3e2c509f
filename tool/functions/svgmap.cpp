// "/Map": the rooms of a range seen from above, as an SVG picture.
//
// Inside the rooms group one user unit is one sector: a room's sector (x, z)
// is the unit square at (X/1024 + x, -(Z/1024 + z + 1)), so +x points right
// and +z points up (north up, as seen from above). The group's transform
// scales that to pixels; the title and the legend are drawn in pixels.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "functions.h"
#include "itemmarks.h"
#include "kinds.h"
#include "rooms.h"
#include "utf8path.h"
#include "xmlwriter.h"
#include "zfile.h"

namespace qm {

namespace {

// Fill colours by flag; a room with several flags takes the first that applies
// in this order.
struct TFill {
    const char* Label;
    const char* Colour;
};
constexpr TFill WaterFill{.Label = "water", .Colour = "#2f6fd6"};
constexpr TFill QuickSandFill{.Label = "quicksand", .Colour = "#c7922e"};
constexpr TFill SkyFill{.Label = "sky", .Colour = "#7fd0ea"};
constexpr TFill PlainFill{.Label = "no flag", .Colour = "#8c8c8c"};

const TFill& FillOf(const TRoomFacts& f) {
    return f.Water ? WaterFill : f.QuickSand ? QuickSandFill : f.Sky ? SkyFill : PlainFill;
}

constexpr double MaxCellPixels = 24;    // pixels per sector on small levels
constexpr double MaxMapPixels = 1600;   // the map's longer side at most
constexpr double Margin = 16, HeaderPixels = 40, LegendPixels = 40, MinWidth = 560;
constexpr double FillOpacity = 0.55;

// A coordinate: at most four decimals, no trailing zeros.
std::string Num(double v) { return SvgNumber(v); }

// A factor in full: a map millions of sectors wide has a scale far below 0.0001.
std::string Exact(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

double Sectors(int64_t world) { return double(world) / SectorUnits; }

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

void DrawRoom(TXmlWriter& w, const RoomRecord& r, size_t i, const TRoomFacts& f, int32_t alternateOf,
              double scale) {
    const bool flip = alternateOf >= 0;
    const std::string id = "room-" + std::to_string(i);
    const std::string opacity = Num(FillOpacity);
    if (flip) w.Open("g", {{"id", id}, {"class", "room flip"}, {"fill", "none"}});
    else w.Open("g", {{"id", id}, {"class", "room"}, {"fill", FillOf(f).Colour}, {"fill-opacity", opacity}});
    w.Element("title", {}, RoomTitle(i, f, alternateOf));
    const double x0 = Sectors(f.X), z0 = Sectors(f.Z);
    if (!flip) {
        // Floor sectors: the runs of floor sectors along z of each column, a
        // run carried on as one rectangle while the next columns repeat it
        // (whole areas, without hairline seams between columns).
        w.Open("g", {{"class", "floor"}});
        struct TRun {
            uint32_t Z0, Z1, X0;
        };
        std::vector<TRun> open, next;
        const auto emit = [&](const TRun& run, uint32_t x1) {
            w.Empty("rect", {{"x", Num(x0 + run.X0)}, {"y", Num(-(z0 + run.Z1))},
                             {"width", std::to_string(x1 - run.X0)}, {"height", std::to_string(run.Z1 - run.Z0)}});
        };
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
                else emit(run, x);
            }
            open.swap(next);
        }
        w.Close();
    }
    const std::string stroke = Num(1.5 / scale), dash = Num(5 / scale) + " " + Num(3 / scale);
    const std::string ox = Num(x0), oy = Num(-(z0 + f.SizeZ)), ow = std::to_string(f.SizeX), oh = std::to_string(f.SizeZ);
    if (flip)
        w.Empty("rect", {{"class", "outline"}, {"x", ox}, {"y", oy}, {"width", ow}, {"height", oh}, {"fill", "none"},
                         {"stroke", "#202020"}, {"stroke-width", stroke}, {"stroke-dasharray", dash}});
    else
        w.Empty("rect", {{"class", "outline"}, {"x", ox}, {"y", oy}, {"width", ow}, {"height", oh}, {"fill", "none"},
                         {"stroke", "#202020"}, {"stroke-width", stroke}});
    // A flip room lies on the room it replaces: its number goes one line lower.
    const double labelY = -(z0 + f.SizeZ / 2.0) + (flip ? 14 / scale : 0);
    w.Element("text",
              {{"class", "label"}, {"x", Num(x0 + f.SizeX / 2.0)}, {"y", Num(labelY)},
               {"font-size", Num(12 / scale)}, {"text-anchor", "middle"}, {"dominant-baseline", "central"},
               {"fill", "#000000"}, {"fill-opacity", "1"}},
              std::to_string(i));
    w.Close();
}

void DrawLegend(TXmlWriter& w, double top) {
    w.Open("g", {{"id", "legend"}, {"font-size", "13"}});
    double x = Margin;
    const auto swatch = [&](const char* label, const char* fill, bool dashed) {
        const std::string sx = Num(x), sy = Num(top);
        if (dashed)
            w.Empty("rect", {{"x", sx}, {"y", sy}, {"width", "14"}, {"height", "14"}, {"fill", "none"},
                             {"stroke", "#202020"}, {"stroke-width", "1.5"}, {"stroke-dasharray", "5 3"}});
        else
            w.Empty("rect", {{"x", sx}, {"y", sy}, {"width", "14"}, {"height", "14"}, {"fill", fill},
                             {"fill-opacity", Num(FillOpacity)}, {"stroke", "#202020"}, {"stroke-width", "1"}});
        w.Element("text", {{"x", Num(x + 20)}, {"y", Num(top + 12)}}, label);
        x += 28 + 8 * double(std::string_view(label).size());
    };
    for (const TFill* f : {&WaterFill, &QuickSandFill, &SkyFill, &PlainFill}) swatch(f->Label, f->Colour, false);
    swatch("alternate (flip) room", "none", true);
    w.Close();
}

} // namespace

std::string MapSvg(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items) {
    // The room that names each room as its alternate, or -1.
    std::vector<int32_t> alternateOf(L.RoomCount, -1);
    for (size_t i = 0; i < L.RoomCount; ++i) {
        const int16_t a = L.Rooms[i].AlternateRoom;
        if (a >= 0 && a < int32_t(L.RoomCount) && alternateOf[size_t(a)] < 0) alternateOf[size_t(a)] = int32_t(i);
    }
    std::vector<size_t> order;
    std::vector<TRoomFacts> facts(L.RoomCount);
    int64_t left = 0, right = 0, bottom = 0, top = 0;
    for (int32_t i = from; i <= to; ++i) {
        const TRoomFacts& f = facts[size_t(i)] = RoomFacts(L, size_t(i));
        const int64_t x1 = int64_t(f.X) + int64_t(f.SizeX) * SectorUnits, z1 = int64_t(f.Z) + int64_t(f.SizeZ) * SectorUnits;
        left = order.empty() ? f.X : std::min<int64_t>(left, f.X);
        bottom = order.empty() ? f.Z : std::min<int64_t>(bottom, f.Z);
        right = order.empty() ? x1 : std::max(right, x1);
        top = order.empty() ? z1 : std::max(top, z1);
        order.push_back(size_t(i));
    }
    // Lowest storey first (the largest floor y), so upper storeys lie on top.
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return facts[a].Floor > facts[b].Floor; });

    const double spanX = Sectors(right - left), spanZ = Sectors(top - bottom);
    const double scale = std::min(MaxCellPixels, MaxMapPixels / std::max(1.0, std::max(spanX, spanZ)));
    const double width = std::max(MinWidth, spanX * scale + 2 * Margin);
    // The items' marks and their legend row, when the rooms hold any.
    const bool marks = items && !order.empty() && HasItemsIn(L, from, to);
    const double height = HeaderPixels + spanZ * scale + Margin + LegendPixels + (marks ? ItemLegendPixels : 0);

    // The file's own name: a backslash separates folders on Windows only.
    const std::string shortName = FileNamePart(levelName);
    const std::string range = order.empty() ? "no rooms"
                                            : "rooms " + std::to_string(from) + " to " + std::to_string(to);
    const std::string title = shortName + " (" + KindName(L.LevelVersion) + "), " + range;

    TXmlWriter w;
    w.Open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"version", "1.1"}, {"width", Num(width)},
                   {"height", Num(height)}, {"viewBox", "0 0 " + Num(width) + " " + Num(height)},
                   {"font-family", "sans-serif"}});
    w.Element("title", {}, "Map of " + title);
    w.Empty("rect", {{"width", Num(width)}, {"height", Num(height)}, {"fill", "#ffffff"}});
    w.Element("text", {{"id", "heading"}, {"x", Num(Margin)}, {"y", "26"}, {"font-size", "16"}},
              title + ", seen from above (x right, z up)");
    const std::string transform = "translate(" + Num(Margin - Sectors(left) * scale) + " " +
                                  Num(HeaderPixels + Sectors(top) * scale) + ") scale(" + Exact(scale) + ")";
    w.Open("g", {{"id", "rooms"}, {"transform", transform}});
    for (size_t i : order) DrawRoom(w, L.Rooms[i], i, facts[i], alternateOf[i], scale);
    w.Close();
    if (marks) DrawItemMarks(w, L, from, to, scale, transform);
    DrawLegend(w, HeaderPixels + spanZ * scale + Margin);
    if (marks) DrawItemLegend(w, HeaderPixels + spanZ * scale + Margin + ItemLegendPixels, Margin);
    return w.Finish();
}

std::optional<TMapForm> MapFormOf(const std::string& mapName) {
    std::string name = mapName;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (name.ends_with(".svg")) return TMapForm::Svg;
    if (name.ends_with(".html")) return TMapForm::Html;
    return std::nullopt;
}

const char* MapTargetRefusal(const std::string& mapName, const std::string& levelName) {
    if (!MapFormOf(mapName)) return "The map's file name must end in .svg or .html.";
    // The same file under another name (a link, another spelling of the path)
    // counts: the map must never replace the level.
    std::error_code ec;
    if (mapName == levelName || std::filesystem::equivalent(PathOf(mapName), PathOf(levelName), ec))
        return "The map cannot be written over the level file.";
    return nullptr;
}

void StoreMap(const std::string& mapName, const std::string& svg) {
    TZfile f;
    ZAssign(f, mapName);
    ZRewrite(f, 1);
    ZBlockWrite(f, svg.data(), int32_t(svg.size()));
    ZClose(f, true);
}

} // namespace qm
