#include "maplayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "functions.h"
#include "itemmarks.h"
#include "items.h"
#include "kinds.h"
#include "labels.h"
#include "rooms.h"
#include "storeys.h"

namespace qm {

namespace {

// Fill colours by flag; a room with several flags takes the first that applies
// in this order.
struct TFill {
    const char* Label;
    const char* Colour;
};
constexpr TFill Fills[] = {{"water", "#2f6fd6"}, {"quicksand", "#c7922e"}, {"sky", "#7fd0ea"}, {"no flag", "#8c8c8c"}};

const char* FillOf(const TRoomFacts& f) {
    return f.Water ? Fills[0].Colour : f.QuickSand ? Fills[1].Colour : f.Sky ? Fills[2].Colour : Fills[3].Colour;
}

constexpr double MaxCellPixels = 24;   // pixels per sector on small levels
constexpr double MaxMapPixels = 1600;  // a panel's longer side at most, unless sectors would be too small
constexpr double Margin = MapMargin, HeaderPixels = 40, LegendPixels = 40, ItemLegendPixels = 24, MinWidth = 560;
constexpr double TitlePixels = 24;     // a panel's title row above its rooms
constexpr double LabelPad = 6;         // labels may stand this far outside the rooms' extent
constexpr size_t MostNoteLines = 8;

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

// "Rooms not labelled here: 12, 40, 41", wrapped to the width, at most
// MostNoteLines lines.
std::vector<std::string> UnlabelledNote(const std::vector<int32_t>& rooms, double width) {
    std::vector<std::string> lines;
    if (rooms.empty()) return lines;
    const size_t perLine = size_t(std::max(30.0, width / 6.5));
    std::string line = "Rooms not labelled here (see their titles):";
    for (size_t i = 0; i < rooms.size(); ++i) {
        // Joined by append: g++ 12 at -O3 warns falsely of overlapping copies in " " + string.
        std::string word(1, ' ');
        word.append(std::to_string(rooms[i])).append(i + 1 < rooms.size() ? "," : "");
        if (line.size() + word.size() > perLine) {
            if (lines.size() + 1 == MostNoteLines) {
                lines.push_back(line.append(" and ").append(std::to_string(rooms.size() - i)).append(" more"));
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

struct TExtent {
    int64_t Left = 0, Right = 0, Bottom = 0, Top = 0;  // world units
};

// What the layout is made of, worked out once before the scale is chosen.
struct TMapParts {
    std::vector<TRoomFacts> Facts;
    std::vector<int32_t> AlternateOf;
    std::vector<int32_t> Drawn;        // the rooms drawn, in room order
    std::vector<TStorey> Storeys;      // the panels' storeys, lowest first
    std::vector<int32_t> StoreyNumber;
    std::vector<int32_t> PanelOfRoom;  // -1: not drawn
    TExtent Extent;
};

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
    for (int32_t i = from; i <= to; ++i)
        if (storey == 0 || storeys.StoreyOf[size_t(i)] == storey) p.Drawn.push_back(i);
    // The panels: the storeys of the drawn rooms, or the one asked for.
    std::vector<int32_t> panelOfStorey(storeys.List.size() + 1, -1);
    std::vector<bool> holdsDrawn(storeys.List.size() + 1, false);
    for (int32_t i : p.Drawn) holdsDrawn[size_t(storeys.StoreyOf[size_t(i)])] = true;
    for (size_t n = 0; n < storeys.List.size(); ++n) {
        const int32_t number = int32_t(n + 1);
        if (number == storey || (storey == 0 && holdsDrawn[size_t(number)])) {
            panelOfStorey[size_t(number)] = int32_t(p.Storeys.size());
            p.Storeys.push_back(storeys.List[n]);
            p.StoreyNumber.push_back(number);
        }
    }
    bool first = true;
    for (int32_t i : p.Drawn) {
        const TRoomFacts& f = p.Facts[size_t(i)] = RoomFacts(L, size_t(i));
        const int64_t x1 = int64_t(f.X) + int64_t(f.SizeX) * SectorUnits, z1 = int64_t(f.Z) + int64_t(f.SizeZ) * SectorUnits;
        TExtent& e = p.Extent;
        e = first ? TExtent{f.X, x1, f.Z, z1}
                  : TExtent{std::min<int64_t>(e.Left, f.X), std::max(e.Right, x1), std::min<int64_t>(e.Bottom, f.Z),
                            std::max(e.Top, z1)};
        first = false;
        p.PanelOfRoom[size_t(i)] = panelOfStorey[size_t(storeys.StoreyOf[size_t(i)])];
    }
    return p;
}

// The panels' rooms at a scale, each panel's area with its top left corner at
// (0, 0); the rooms to label, by panel.
std::vector<std::vector<TLabelRoom>> FillPanels(const Ttrlevel& L, const TMapParts& p, double scale,
                                                std::vector<TMapPanel>& panels) {
    const double left = Sectors(p.Extent.Left), top = Sectors(p.Extent.Top);
    const double areaW = Sectors(p.Extent.Right - p.Extent.Left) * scale;
    const double areaH = Sectors(p.Extent.Top - p.Extent.Bottom) * scale;
    panels.assign(p.Storeys.size(), {});
    for (size_t n = 0; n < panels.size(); ++n) {
        TMapPanel& panel = panels[n];
        panel.Storey = p.StoreyNumber[n];
        panel.Low = p.Storeys[n].Low;
        panel.High = p.Storeys[n].High;
        panel.Title = "Storey " + std::to_string(panel.Storey) + " (y " + std::to_string(panel.Low) + " to " +
                      std::to_string(panel.High) + ")";
        panel.OriginX = -left * scale;
        panel.OriginY = top * scale;
        panel.Area = {.X = 0, .Y = 0, .W = areaW, .H = areaH};
    }
    std::vector<std::vector<TLabelRoom>> labelRooms(panels.size());
    for (int32_t i : p.Drawn) {
        const size_t n = size_t(p.PanelOfRoom[size_t(i)]);
        const TRoomFacts& f = p.Facts[size_t(i)];
        const bool flip = p.AlternateOf[size_t(i)] >= 0;
        TMapRoom room{.Room = i, .Flip = flip, .Fill = flip ? nullptr : FillOf(f),
                      .Title = RoomTitle(size_t(i), f, p.AlternateOf[size_t(i)])};
        if (!flip) room.Floor = FloorRects(L.Rooms[size_t(i)], f);
        room.Outline = {.X = Sectors(f.X), .Y = -(Sectors(f.Z) + f.SizeZ), .W = f.SizeX, .H = f.SizeZ};
        TMapPanel& panel = panels[n];
        labelRooms[n].push_back({.Room = i, .Record = &L.Rooms[size_t(i)], .SizeX = f.SizeX, .SizeZ = f.SizeZ,
                                 .Left = panel.OriginX + room.Outline.X * scale,
                                 .Top = panel.OriginY + room.Outline.Y * scale});
        panel.Rooms.push_back(std::move(room));
    }
    // Lowest floor first (the largest y), so higher rooms lie on top.
    for (TMapPanel& panel : panels)
        std::stable_sort(panel.Rooms.begin(), panel.Rooms.end(), [&](const TMapRoom& a, const TMapRoom& b) {
            return p.Facts[size_t(a.Room)].Floor > p.Facts[size_t(b.Room)].Floor;
        });
    return labelRooms;
}

// The panels' labels and notes, clear of each other and of the item marks.
void LabelPanels(const std::vector<std::vector<TLabelRoom>>& labelRooms, double scale, std::vector<TMapPanel>& panels) {
    for (size_t n = 0; n < panels.size(); ++n) {
        TMapPanel& panel = panels[n];
        const TPixelBox& area = panel.Area;
        const TPixelBox zone{.X = area.X - LabelPad, .Y = area.Y - LabelPad, .W = area.W + 2 * LabelPad,
                             .H = area.H + 2 * LabelPad};
        std::vector<TPixelBox> marks;
        for (const TMapMark& m : panel.Marks) {
            const double r = ItemMarkPixels + 1;
            marks.push_back({.X = panel.OriginX + m.X * scale - r, .Y = panel.OriginY + m.Y * scale - r, .W = 2 * r, .H = 2 * r});
        }
        std::vector<int32_t> unlabelled;
        panel.Labels = PlaceLabels(labelRooms[n], scale, zone, marks, unlabelled);
        panel.Notes = UnlabelledNote(unlabelled, std::max(area.W, MinWidth - 2 * Margin));
    }
}

void AddMarks(const Ttrlevel& L, const TMapParts& p, int32_t from, int32_t to, std::vector<TMapPanel>& panels) {
    for (int32_t i = 0; i < L.ItemCount; ++i) {
        const TItem it = ReadItem(L, i);
        if (it.Room < from || it.Room > to || it.Room >= int32_t(L.RoomCount)) continue;
        const int32_t n = p.PanelOfRoom[size_t(it.Room)];
        if (n < 0) continue;
        panels[size_t(n)].Marks.push_back(
            {.Item = i, .Room = it.Room, .Kind = ItemKindOf(L.LevelVersion, it.Type), .X = it.X / 1024.0,
             .Y = -(it.Z / 1024.0),
             .Title = "Item " + std::to_string(i) + ": " + ItemTypeLabel(L.LevelVersion, it.Type) + " (type " +
                      std::to_string(it.Type) + "), room " + std::to_string(it.Room) + ", height " +
                      std::to_string(it.Y)});
    }
}

void Translate(TMapPanel& panel, double dx, double dy) {
    panel.OriginX += dx, panel.OriginY += dy;
    panel.Area.X += dx, panel.Area.Y += dy;
    for (TMapLabel& l : panel.Labels) {
        l.Box.X += dx, l.Box.Y += dy;
        l.FromX += dx, l.FromY += dy, l.ToX += dx, l.ToY += dy;
    }
}

// Columns of the panels' grid: side by side in one row unless the row would
// be more than three times as wide as high, else the grid nearest to that.
size_t ColumnsFor(size_t panels, double panelW, double panelH) {
    size_t best = 1;
    double bestSide = INFINITY;
    for (size_t cols = 1; cols <= std::max<size_t>(panels, 1); ++cols) {
        const size_t rows = (panels + cols - 1) / std::max<size_t>(cols, 1);
        const double side = std::max(double(cols) * (panelW + Margin) / 3, double(rows) * (panelH + Margin));
        if (side < bestSide) best = cols, bestSide = side;
    }
    return best;
}

void AddLegend(TMapLayout& m, double top, bool marks) {
    double x = Margin;
    const auto add = [&](TLegendEntry e, double y) {
        e.X = x, e.Y = y;
        x += 28 + 8 * double(e.Label.size());
        m.Legend.push_back(std::move(e));
    };
    for (const TFill& f : Fills) add({.Shape = TLegendEntry::TShape::Fill, .Colour = f.Colour, .Label = f.Label}, top);
    add({.Shape = TLegendEntry::TShape::Dashed, .Label = "alternate (flip) room"}, top);
    if (!marks) return;
    x = Margin;
    const char* names[] = {"player", "pick-up", "enemy", "other item"};
    for (TItemKind kind : {TItemKind::Player, TItemKind::Pickup, TItemKind::Enemy, TItemKind::Other})
        add({.Shape = TLegendEntry::TShape::Mark, .Kind = kind, .Label = names[size_t(kind)]}, top + ItemLegendPixels);
}

TMapLayout LayOutAt(const Ttrlevel& L, const TMapParts& p, int32_t from, int32_t to, bool items, double scale) {
    TMapLayout m;
    m.Scale = scale;
    const std::vector<std::vector<TLabelRoom>> labelRooms = FillPanels(L, p, scale, m.Panels);
    if (items) AddMarks(L, p, from, to, m.Panels);
    LabelPanels(labelRooms, scale, m.Panels);
    const double areaW = Sectors(p.Extent.Right - p.Extent.Left) * scale;
    const double areaH = Sectors(p.Extent.Top - p.Extent.Bottom) * scale;
    size_t noteLines = 0;
    for (const TMapPanel& panel : m.Panels) noteLines = std::max(noteLines, panel.Notes.size());
    const double notesH = noteLines ? LabelPad + double(noteLines) * MapNoteLine : 0;
    const double panelH = TitlePixels + areaH + notesH;
    const size_t cols = ColumnsFor(m.Panels.size(), areaW, panelH);
    const size_t rows = m.Panels.empty() ? 1 : (m.Panels.size() + cols - 1) / cols;
    for (size_t n = 0; n < m.Panels.size(); ++n) {
        TMapPanel& panel = m.Panels[n];
        const double x = Margin + double(n % cols) * (areaW + Margin);
        const double y = HeaderPixels + double(n / cols) * (panelH + Margin);
        Translate(panel, x, y + TitlePixels);
        panel.TitleX = x;
        panel.TitleY = y + TitlePixels - 9;
        panel.NotesY = panel.Area.Y + areaH + LabelPad + MapNoteSize;
    }
    const bool marks = std::any_of(m.Panels.begin(), m.Panels.end(), [](const TMapPanel& q) { return !q.Marks.empty(); });
    const double panelsH = double(rows) * panelH + double(rows - 1) * Margin;
    m.Width = std::max(MinWidth, double(cols) * areaW + double(cols + 1) * Margin);
    m.Height = HeaderPixels + panelsH + Margin + LegendPixels + (marks ? ItemLegendPixels : 0);
    AddLegend(m, HeaderPixels + panelsH + Margin, marks);
    return m;
}

} // namespace

TMapLayout LayOutMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                     int32_t storey) {
    const TMapParts p = PartsOf(L, from, to, storey);
    const double spanX = Sectors(p.Extent.Right - p.Extent.Left), spanZ = Sectors(p.Extent.Top - p.Extent.Bottom);
    double scale = std::clamp(MaxMapPixels / std::max(1.0, std::max(spanX, spanZ)), MapLeastScale, MaxCellPixels);
    // The panels' grid within the longest side, before any label is placed
    // (the placing works on the picture's pixels).
    const size_t panels = std::max<size_t>(p.Storeys.size(), 1);
    const size_t cols = ColumnsFor(panels, spanX * scale, TitlePixels + spanZ * scale);
    const size_t rows = (panels + cols - 1) / cols;
    const double fixedW = double(cols + 1) * Margin, fixedH = HeaderPixels + double(rows) * (TitlePixels + Margin) +
                                                              LegendPixels + ItemLegendPixels + MapNoteLine;
    scale = std::min({scale, (MapLongestSide - fixedW) / std::max(1e-9, double(cols) * spanX),
                      (MapLongestSide - fixedH) / std::max(1e-9, double(rows) * spanZ)});
    scale = std::max(scale, 1e-6);
    TMapLayout m = LayOutAt(L, p, from, to, items, scale);
    // Past the longest side the whole picture is drawn smaller, sectors below
    // the least size if need be; the fixed parts (margins, titles, notes) keep
    // their size, the note line that says so included.
    const auto noted = [&] { return m.Height + (scale < MapLeastScale ? MapNoteLine : 0); };
    for (int round = 0; round < 8 && std::max(m.Width, noted()) > MapLongestSide; ++round) {
        const double ratio = std::min(MapLongestSide / m.Width, MapLongestSide / noted());
        scale *= ratio * 0.98;
        m = LayOutAt(L, p, from, to, items, scale);
    }
    const std::string range = from > to ? "no rooms" : "rooms " + std::to_string(from) + " to " + std::to_string(to);
    m.Title = FileNamePart(levelName) + " (" + KindName(L.LevelVersion) + "), " + range +
              (storey > 0 ? ", storey " + std::to_string(storey) : "");
    m.Heading = m.Title + ", seen from above (x right, z up)";
    if (scale < MapLeastScale) {
        char text[96];
        std::snprintf(text, sizeof text, "The map is drawn at %.3g pixels a sector to stay within %d pixels a side.", scale,
                      int(MapLongestSide));
        m.Notes.push_back(text);
    }
    m.NotesY = m.Height + MapNoteSize - 8;
    m.Height += double(m.Notes.size()) * MapNoteLine;
    return m;
}

} // namespace qm
