// The PNG form of the map: the layout drawn pixel by pixel, as the SVG form
// shows it (the same places, colours and opacities), its text in the
// built-in stroke font.
#include <cmath>

#include "itemmarks.h"
#include "mapforms.h"
#include "png.h"
#include "raster.h"

namespace qm {

namespace {

const TRgb Ink = RgbOf("#202020"), White = RgbOf("#ffffff"), Black = RgbOf("#000000"),
           Trigger = RgbOf(MapTriggerColour);

// The text's baseline at y: the font's glyphs stand seven units tall.
void TextAt(TRaster& r, double x, double baseline, const std::string& text, double size, TRgb c) {
    r.Text(x, baseline - 7 * size / 10, text, size, c);
}

void DrawRoom(TRaster& r, const TMapPanel& p, const TMapRoom& room, double scale, int hatchLines) {
    const auto px = [&](double u) { return p.OriginX + u * scale; };
    const auto py = [&](double v) { return p.OriginY + v * scale; };
    if (!room.Flip) {
        const TRgb fill = RgbOf(room.Fill);
        for (const TSectorRect& s : room.Floor)
            r.Fill(px(s.X), py(s.Y), px(s.X + double(s.W)), py(s.Y + double(s.H)), fill, MapFillOpacity);
    }
    for (const TSectorRect& cell : room.Triggered)
        // Half a pixel inside the sector, so that no line reaches into the next one.
        for (const TMapLine& l : HatchOf(px(cell.X) + 0.5, py(cell.Y) + 0.5, scale - 1, hatchLines))
            r.Line(l.X0, l.Y0, l.X1, l.Y1, Trigger);
    const TSectorRect& o = room.Outline;
    r.Outline(px(o.X), py(o.Y), px(o.X + double(o.W)), py(o.Y + double(o.H)), 1.5, Ink, room.Flip ? 5 : 0, 3);
}

void DrawMark(TRaster& r, TItemKind kind, double x, double y, double h) {
    const TRgb colour = RgbOf(ItemMarkColour(kind));
    const std::vector<std::pair<double, double>> corners = ItemMarkCorners(kind);
    if (corners.empty()) {
        r.Disc(x, y, h + 0.5, White);
        r.Disc(x, y, h - 0.5, colour);
        return;
    }
    // The white edge: the shape a pixel larger under it.
    std::vector<std::pair<double, double>> outer, inner;
    for (const auto& [dx, dy] : corners) {
        const double length = std::max(1e-9, std::hypot(dx, dy));
        outer.push_back({x + dx * h + dx / length * 0.7, y + dy * h + dy / length * 0.7});
        inner.push_back({x + dx * h - dx / length * 0.5, y + dy * h - dy / length * 0.5});
    }
    r.Polygon(outer, White);
    r.Polygon(inner, colour);
}

// The number centred in its box, in the crisp digit font, a white halo
// around it.
void DrawLabel(TRaster& r, const TMapLabel& l) {
    if (l.Leader) r.Line(l.FromX, l.FromY, l.ToX, l.ToY, Ink);
    const std::string& text = l.Text;
    const double width = double(text.size()) * TRaster::DigitAdvance - 1;
    r.Digits(int(std::lround(l.Box.X + (l.Box.W - width) / 2)), int(std::lround(l.Box.Y + (l.Box.H - TRaster::DigitHeight) / 2)),
             text, Black, White);
}

void DrawPanel(TRaster& r, const TMapPanel& p, double scale, int hatchLines) {
    TextAt(r, p.TitleX, p.TitleY, p.Title, MapTitleSize, Black);
    for (const TMapRoom& room : p.Rooms) DrawRoom(r, p, room, scale, hatchLines);
    for (const TMapTick& t : p.Ticks) {
        r.Line(t.X0, t.Y0, t.X1, t.Y1, Ink);
        const double width = double(t.Text.size()) * TRaster::DigitAdvance - 1;
        r.Digits(int(std::lround(t.Left ? t.X - width : t.X - width / 2)), int(std::lround(t.Y - TRaster::DigitHeight)), t.Text,
                 Ink, White);
    }
    for (const TMapMark& m : p.Marks)
        DrawMark(r, m.Kind, p.OriginX + m.X * scale, p.OriginY + m.Y * scale, ItemMarkPixels);
    for (const TMapLabel& l : p.Labels) DrawLabel(r, l);
    for (size_t i = 0; i < p.Notes.size(); ++i)
        TextAt(r, p.Area.X, p.NotesY + double(i) * MapNoteLine, p.Notes[i], MapNoteSize, Black);
}

void DrawLegend(TRaster& r, const TMapLayout& m) {
    for (const TLegendEntry& e : m.Legend) {
        switch (e.Shape) {
        case TLegendEntry::TShape::Fill:
            r.Fill(e.X, e.Y, e.X + 14, e.Y + 14, RgbOf(e.Colour), MapFillOpacity);
            r.Outline(e.X, e.Y, e.X + 14, e.Y + 14, 1, Ink);
            break;
        case TLegendEntry::TShape::Dashed: r.Outline(e.X, e.Y, e.X + 14, e.Y + 14, 1.5, Ink, 5, 3); break;
        case TLegendEntry::TShape::Mark: DrawMark(r, e.Kind, e.X + 7, e.Y + 7, 6); break;
        case TLegendEntry::TShape::Hatch:
            for (const TMapLine& l : HatchOf(e.X, e.Y, 14, 3)) r.Line(l.X0, l.Y0, l.X1, l.Y1, Trigger);
            r.Outline(e.X, e.Y, e.X + 14, e.Y + 14, 1, Ink);
            break;
        }
        TextAt(r, e.X + 20, e.Y + 12, e.Label, MapLegendSize, Black);
    }
}

} // namespace

std::string MapPngOf(const TMapLayout& m) {
    TRaster r(int(std::ceil(m.Width)), int(std::ceil(m.Height)));
    TextAt(r, MapMargin, MapHeadingY, m.Heading, MapHeadingSize, Black);
    for (const TMapPanel& p : m.Panels) DrawPanel(r, p, m.Scale, m.HatchLines);
    DrawLegend(r, m);
    for (size_t i = 0; i < m.Notes.size(); ++i) TextAt(r, MapMargin, m.NotesY + double(i) * MapNoteLine, m.Notes[i], MapNoteSize, Black);
    return r.Indexed() ? EncodeIndexedPng(r.Indices(), r.Palette(), r.Width(), r.Height())
                       : EncodeRgbPng(r.Rgb(), r.Width(), r.Height());
}

} // namespace qm
