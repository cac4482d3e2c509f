#include "maplayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "functions.h"
#include "itemmarks.h"
#include "items.h"
#include "kinds.h"
#include "labels.h"
#include "mapparts.h"

namespace qm {

namespace {

constexpr double MaxCellPixels = 24;   // pixels per sector on small levels
constexpr double MaxMapPixels = 1600;  // a panel's longer side at most, unless sectors would be too small
constexpr double Margin = MapMargin, HeaderPixels = 40, LegendRow = 24, MinWidth = 560;
constexpr double TitlePixels = 24;     // a panel's title row above its rooms
constexpr double LabelPad = 6;         // labels may stand this far outside the rooms' frame
constexpr double AxisTop = LabelPad + 14;  // the row of x coordinates above the rooms
constexpr double TickLength = 4, DigitPixels = 7, TitleCharPixels = 8;
constexpr size_t MostNoteLines = 8;
constexpr double FewestPixels = 1;     // pixels per sector below which storeys are left out rather than drawn smaller
constexpr size_t PictureNoteLines = 3;  // at most: the scale, the storeys left out, the items left out

// The pixels a panel needs left of its rooms for its z coordinates.
double AxisLeft(const TExtent& e) {
    const size_t chars = std::max(std::to_string(e.Bottom / SectorUnits).size(), std::to_string(e.Top / SectorUnits).size());
    return double(chars) * DigitPixels + LabelPad + TickLength + 2;
}

struct TSize {
    double W = 0, H = 0;
};

TSize PanelSize(const TPanelPart& part, double scale, size_t noteLines) {
    const double areaW = Sectors(part.Frame.Right - part.Frame.Left) * scale;
    const double areaH = Sectors(part.Frame.Top - part.Frame.Bottom) * scale;
    const double notesH = noteLines ? LabelPad + double(noteLines) * MapNoteLine : 0;
    return {.W = std::max(AxisLeft(part.Frame) + areaW + LabelPad, TitleCharPixels * double(part.Title.size())),
            .H = TitlePixels + AxisTop + areaH + LabelPad + notesH};
}

// Panels placed in rows, each row as long as fits the limit; the limit the
// one whose picture is nearest to three times as wide as high.
struct TPacking {
    std::vector<std::pair<double, double>> At;  // each panel's top left corner
    double W = 0, H = 0;                        // from (0, 0) to the far edges
};

TPacking PackRows(const std::vector<TSize>& sizes, double limit) {
    TPacking p;
    double x = 0, y = 0, rowH = 0;
    for (const TSize& s : sizes) {
        if (x > 0 && x + s.W > limit) y += rowH + Margin, x = 0, rowH = 0;
        p.At.push_back({x, y});
        p.W = std::max(p.W, x + s.W);
        rowH = std::max(rowH, s.H);
        x += s.W + Margin;
    }
    p.H = y + rowH;
    return p;
}

TPacking Pack(const std::vector<TSize>& sizes) {
    TPacking best;
    double bestSide = INFINITY, widest = 0, row = 0;
    for (const TSize& s : sizes) widest = std::max(widest, s.W);
    // Limits of the first k panels' row, k growing geometrically: a few
    // tries, whatever the count of panels.
    for (size_t k = 1, next = 1; k <= sizes.size(); ++k) {
        row += sizes[k - 1].W + (k > 1 ? Margin : 0);
        if (k != next && k != sizes.size()) continue;
        next = std::max(next + 1, next * 5 / 4);
        TPacking p = PackRows(sizes, std::max(row, widest));
        const double side = std::max(p.W / 3, p.H);
        if (side < bestSide) bestSide = side, best = std::move(p);
    }
    if (sizes.empty()) best = PackRows(sizes, 0);
    return best;
}

// The picture's size around the packed panels: the heading, the legend's two
// rows and room for the picture's notes.
TSize PictureSize(const TPacking& p) {
    return {.W = std::max(MinWidth, p.W + 2 * Margin),
            .H = HeaderPixels + p.H + Margin + 2 * LegendRow + double(PictureNoteLines) * MapNoteLine};
}

bool Fits(const TSize& s) { return s.W <= MapLongestSide && s.H <= MapLongestSide; }

// The size the first count panels would need at the scale, their notes left out.
TSize Estimate(const TMapParts& p, size_t count, double scale) {
    std::vector<TSize> sizes;
    for (size_t n = 0; n < count; ++n) sizes.push_back(PanelSize(p.Panels[n], scale, 0));
    return PictureSize(Pack(sizes));
}

// The coordinates along the top edge (x) and the left edge (z), every step
// sectors, the step the least of 1, 2, 5, 10, 20, ... that keeps the numbers apart.
void AddTicks(TMapPanel& panel, const TExtent& e, double scale) {
    const int64_t left = e.Left / SectorUnits, right = e.Right / SectorUnits;
    const int64_t bottom = e.Bottom / SectorUnits, top = e.Top / SectorUnits;
    const size_t chars = std::max({std::to_string(left).size(), std::to_string(right).size(), size_t(2)});
    const double need = std::max(double(chars) * DigitPixels + 10, 2.0 * LabelHeight);
    int64_t step = 1;
    for (int k = 0; double(step) * scale < need && step < (int64_t(1) << 40); ++k) step *= k % 3 == 1 ? 5 : 2;
    const auto firstFrom = [&](int64_t v) { return v >= 0 ? (v + step - 1) / step * step : -((-v) / step * step); };
    const TPixelBox& a = panel.Area;
    for (int64_t u = firstFrom(left); u <= right; u += step) {
        const double x = panel.OriginX + double(u) * scale;
        panel.Ticks.push_back({.X = x, .Y = a.Y - LabelPad - 3, .X0 = x, .Y0 = a.Y - TickLength, .X1 = x, .Y1 = a.Y,
                               .Text = std::to_string(u)});
    }
    for (int64_t z = firstFrom(bottom); z <= top; z += step) {
        const double y = panel.OriginY - double(z) * scale;
        panel.Ticks.push_back({.Left = true, .X = a.X - LabelPad - TickLength, .Y = y + 4, .X0 = a.X - TickLength,
                               .Y0 = y, .X1 = a.X, .Y1 = y, .Text = std::to_string(z)});
    }
}

// The item stands on the grid of its own room or of another room of its
// panel (its own first: nearly always the one).
bool InsideAGrid(const TMapParts& p, const TPanelPart& part, const TItem& it) {
    const auto inside = [&](int32_t room) {
        const TRoomFacts& f = p.Facts[size_t(room)];
        return it.X >= f.X && it.X <= int64_t(f.X) + int64_t(f.SizeX) * SectorUnits && it.Z >= f.Z &&
               it.Z <= int64_t(f.Z) + int64_t(f.SizeZ) * SectorUnits;
    };
    return inside(it.Room) || std::any_of(part.Rooms.begin(), part.Rooms.end(), inside);
}

// A panel with its top left corner at (0, 0): its rooms, marks, ticks,
// labels and notes. Items outside every room's grid go to farItems.
TMapPanel MakePanel(const Ttrlevel& L, const TMapParts& p, size_t n, double scale, const std::vector<TItem>& items,
                    const std::vector<int32_t>& itemsOf, std::vector<int32_t>& farItems) {
    const TPanelPart& part = p.Panels[n];
    TMapPanel panel{.Storey = part.Storey, .Low = part.Low, .High = part.High, .Title = part.Title};
    const TExtent& e = part.Frame;
    panel.Area = {.X = AxisLeft(e), .Y = TitlePixels + AxisTop, .W = Sectors(e.Right - e.Left) * scale,
                  .H = Sectors(e.Top - e.Bottom) * scale};
    panel.OriginX = panel.Area.X - Sectors(e.Left) * scale;
    panel.OriginY = panel.Area.Y + Sectors(e.Top) * scale;
    panel.TitleX = 0;
    panel.TitleY = TitlePixels - 9;
    std::vector<TLabelRoom> labelRooms;
    for (int32_t i : part.Rooms) {
        const TRoomFacts& f = p.Facts[size_t(i)];
        const int32_t original = p.AlternateOf[size_t(i)];
        const bool flip = original >= 0;
        TMapRoom room{.Room = i, .Flip = flip, .Fill = FillOf(L, f), .Title = RoomTitle(size_t(i), f, original)};
        room.Floor = FloorRects(L.Rooms[size_t(i)], f);
        room.Triggered = p.Triggered[size_t(i)];
        room.Outline = {.X = Sectors(f.X), .Y = -(Sectors(f.Z) + f.SizeZ), .W = f.SizeX, .H = f.SizeZ};
        // A flip room drawn beside its original is named in the original's label: "24/90".
        const bool withOriginal = flip && p.PanelOfRoom[size_t(original)] == int32_t(n);
        const bool withFlip = !flip && f.Alternate >= 0 && f.Alternate < int32_t(L.RoomCount) &&
                              p.PanelOfRoom[size_t(f.Alternate)] == int32_t(n) && p.AlternateOf[size_t(f.Alternate)] == i;
        // The label joined by append: g++ 12 warns falsely on "/" + a temporary at -O3.
        std::string text = std::to_string(i);
        if (withFlip) text.append("/").append(std::to_string(f.Alternate));
        if (!withOriginal)
            labelRooms.push_back({.Room = i,
                                  .Text = std::move(text),
                                  .Record = &L.Rooms[size_t(i)], .SizeX = f.SizeX, .SizeZ = f.SizeZ,
                                  .Left = panel.OriginX + room.Outline.X * scale,
                                  .Top = panel.OriginY + room.Outline.Y * scale});
        panel.Rooms.push_back(std::move(room));
    }
    // Lowest floor first (the largest y), so higher rooms lie on top.
    std::stable_sort(panel.Rooms.begin(), panel.Rooms.end(), [&](const TMapRoom& a, const TMapRoom& b) {
        return p.Facts[size_t(a.Room)].Floor > p.Facts[size_t(b.Room)].Floor;
    });
    std::vector<TPixelBox> obstacles;
    for (int32_t k : itemsOf) {
        const TItem& it = items[size_t(k)];
        if (p.PanelOfRoom[size_t(it.Room)] != int32_t(n)) continue;
        if (!InsideAGrid(p, part, it)) {
            farItems.push_back(k);
            continue;
        }
        panel.Marks.push_back({.Item = k, .Room = it.Room, .Kind = ItemKindOf(L.LevelVersion, it.Type), .X = it.X / 1024.0,
                               .Y = -(it.Z / 1024.0),
                               .Title = "Item " + std::to_string(k) + ": " + ItemTypeLabel(L.LevelVersion, it.Type) +
                                        " (type " + std::to_string(it.Type) + "), room " + std::to_string(it.Room) +
                                        ", height " + std::to_string(it.Y)});
        const double r = ItemMarkPixels + 1;
        const TMapMark& m = panel.Marks.back();
        obstacles.push_back({.X = panel.OriginX + m.X * scale - r, .Y = panel.OriginY + m.Y * scale - r, .W = 2 * r, .H = 2 * r});
    }
    AddTicks(panel, e, scale);
    const TPixelBox& a = panel.Area;
    const TPixelBox zone{.X = a.X - LabelPad, .Y = a.Y - LabelPad, .W = a.W + 2 * LabelPad, .H = a.H + 2 * LabelPad};
    std::vector<int32_t> unlabelled;
    panel.Labels = PlaceLabels(labelRooms, scale, zone, obstacles, unlabelled);
    panel.Notes = ListNote("Rooms not labelled here (see their titles):", unlabelled, std::max(a.W, MinWidth - 2 * Margin),
                           MostNoteLines);
    panel.NotesY = a.Y + a.H + LabelPad + MapNoteSize;
    return panel;
}

void Translate(TMapPanel& panel, double dx, double dy) {
    panel.OriginX += dx, panel.OriginY += dy;
    panel.Area.X += dx, panel.Area.Y += dy;
    panel.TitleX += dx, panel.TitleY += dy;
    panel.NotesY += dy;
    for (TMapLabel& l : panel.Labels) {
        l.Box.X += dx, l.Box.Y += dy;
        l.FromX += dx, l.FromY += dy, l.ToX += dx, l.ToY += dy;
    }
    for (TMapTick& t : panel.Ticks) t.X += dx, t.Y += dy, t.X0 += dx, t.Y0 += dy, t.X1 += dx, t.Y1 += dy;
}

// Two rows: the fills, then the flip rooms' outline, the item marks and the
// triggered sectors' hatch (each when the map has them).
double AddLegend(TMapLayout& m, double top, bool marks, bool triggers) {
    double x = Margin, right = 0;
    const auto add = [&](TLegendEntry e, double y) {
        e.X = x, e.Y = y;
        x += 28 + 8 * double(e.Label.size());
        right = std::max(right, x);
        m.Legend.push_back(std::move(e));
    };
    for (const TFill& f : MapFills) add({.Shape = TLegendEntry::TShape::Fill, .Colour = f.Colour, .Label = f.Label}, top);
    x = Margin;
    add({.Shape = TLegendEntry::TShape::Dashed, .Label = "flip room (24/90: room 24, its flip room 90)"}, top + LegendRow);
    const char* names[] = {"player", "pick-up", "enemy", "other item"};
    for (TItemKind kind : {TItemKind::Player, TItemKind::Pickup, TItemKind::Enemy, TItemKind::Other})
        if (marks) add({.Shape = TLegendEntry::TShape::Mark, .Kind = kind, .Label = names[size_t(kind)]}, top + LegendRow);
    if (triggers) add({.Shape = TLegendEntry::TShape::Hatch, .Label = "triggered sector"}, top + LegendRow);
    return right;
}

// The first count panels at the scale; items outside their panel's frame are
// left to farItems.
TMapLayout LayOutAt(const Ttrlevel& L, const TMapParts& p, size_t count, double scale, const std::vector<TItem>& items,
                    const std::vector<int32_t>& itemsOf, std::vector<int32_t>& farItems) {
    TMapLayout m;
    m.Scale = scale;
    farItems.clear();
    std::vector<TSize> sizes;
    for (size_t n = 0; n < count; ++n) {
        m.Panels.push_back(MakePanel(L, p, n, scale, items, itemsOf, farItems));
        sizes.push_back(PanelSize(p.Panels[n], scale, m.Panels.back().Notes.size()));
    }
    const TPacking packing = Pack(sizes);
    for (size_t n = 0; n < count; ++n) Translate(m.Panels[n], Margin + packing.At[n].first, HeaderPixels + packing.At[n].second);
    const bool marks = std::any_of(m.Panels.begin(), m.Panels.end(), [](const TMapPanel& q) { return !q.Marks.empty(); });
    const bool triggers = std::any_of(m.Panels.begin(), m.Panels.end(), [](const TMapPanel& q) {
        return std::any_of(q.Rooms.begin(), q.Rooms.end(), [](const TMapRoom& r) { return !r.Triggered.empty(); });
    });
    m.HatchLines = MapHatchLines(scale);
    const double legendTop = HeaderPixels + packing.H + Margin;
    const double legendRight = AddLegend(m, legendTop, marks, triggers);
    m.Width = std::max({MinWidth, packing.W + 2 * Margin, legendRight + Margin});
    m.Height = legendTop + 2 * LegendRow;
    return m;
}

// The scale and the count of panels drawn: the largest panel at most
// MaxMapPixels on its longer side, sectors 4 to 24 pixels; past the longest
// side the scale shrinks down to a pixel a sector, then the last storeys are
// left out, then (a single storey too large) the scale shrinks further.
std::pair<double, size_t> Choose(const TMapParts& p) {
    double span = 1;
    for (const TPanelPart& part : p.Panels)
        span = std::max({span, Sectors(part.Frame.Right - part.Frame.Left), Sectors(part.Frame.Top - part.Frame.Bottom)});
    double scale = std::clamp(MaxMapPixels / span, MapLeastScale, MaxCellPixels);
    size_t count = p.Panels.size();
    const auto shrink = [&](double least) {
        for (int round = 0; round < 40 && scale > least && !Fits(Estimate(p, count, scale)); ++round) {
            const TSize s = Estimate(p, count, scale);
            scale = std::max(least, scale * 0.98 * std::min(MapLongestSide / s.W, MapLongestSide / s.H));
        }
    };
    shrink(FewestPixels);
    if (!Fits(Estimate(p, count, scale)) && count > 1) {
        size_t lo = 1, hi = count - 1;  // the most panels that fit, found by halving
        while (lo < hi) {
            const size_t mid = (lo + hi + 1) / 2;
            if (Fits(Estimate(p, mid, scale))) lo = mid;
            else hi = mid - 1;
        }
        count = lo;
    }
    shrink(1e-9);
    return {scale, count};
}

} // namespace

int MapHatchLines(double scale) { return int(std::clamp(std::lround(scale / 10), 1L, 2L)); }

std::vector<TMapLine> HatchOf(double x, double y, double size, int lines) {
    std::vector<TMapLine> hatch;
    // The lines u + v = c of the unit square (v downwards), c = k / lines.
    for (int k = 1; k < 2 * lines; ++k) {
        const double c = double(k) / lines, u0 = std::max(0.0, c - 1), u1 = std::min(1.0, c);
        hatch.push_back({.X0 = x + u0 * size, .Y0 = y + (c - u0) * size, .X1 = x + u1 * size, .Y1 = y + (c - u1) * size});
    }
    return hatch;
}

TMapLayout LayOutMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                     int32_t storey, const TLevelTriggers& triggers) {
    TMapParts p = PartsOf(L, from, to, storey);
    AddTriggeredSectors(p, triggers);
    std::vector<TItem> all;
    std::vector<int32_t> itemsOf;  // the items of the drawn rooms
    for (int32_t i = 0; items && i < L.ItemCount; ++i) {
        all.push_back(ReadItem(L, i));
        const int32_t room = all.back().Room;
        if (room >= from && room <= to && room < int32_t(L.RoomCount) && p.PanelOfRoom[size_t(room)] >= 0) itemsOf.push_back(i);
    }
    auto [scale, count] = Choose(p);
    std::vector<int32_t> farItems;
    TMapLayout m = LayOutAt(L, p, count, scale, all, itemsOf, farItems);
    // The panels' notes (rooms not labelled) may still push it past the
    // longest side: smaller, then fewer panels, until it fits.
    for (int round = 0; round < 40 && !Fits({m.Width, m.Height + double(PictureNoteLines) * MapNoteLine}); ++round) {
        const double ratio = std::min(MapLongestSide / m.Width, MapLongestSide / (m.Height + double(PictureNoteLines) * MapNoteLine));
        if (count > 1 && scale * ratio < FewestPixels) count = std::max<size_t>(1, count - std::max<size_t>(1, count / 8));
        else scale *= ratio * 0.98;
        m = LayOutAt(L, p, count, scale, all, itemsOf, farItems);
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
    if (count < p.Panels.size())
        m.Notes.push_back("Storeys " + std::to_string(p.Panels[count].Storey) + " to " +
                          std::to_string(p.Panels.back().Storey) + " are left out to stay within " +
                          std::to_string(int(MapLongestSide)) + " pixels a side; --storey N draws one of them.");
    std::sort(farItems.begin(), farItems.end());
    const std::vector<std::string> far = ListNote("Items outside the rooms, not drawn:", farItems, m.Width - 2 * Margin, 1);
    m.Notes.insert(m.Notes.end(), far.begin(), far.end());
    m.NotesY = m.Height + MapNoteSize - 8;
    m.Height += double(m.Notes.size()) * MapNoteLine;
    return m;
}

} // namespace qm
