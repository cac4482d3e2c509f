// The SVG form of the map: the layout written as it is, each panel a group
// of its own. Inside a panel's rooms and items groups one user unit is one
// sector (their transform scales that to pixels); titles, labels, leader
// lines, notes and the legend are drawn in pixels.
#include <cstdio>
#include <string_view>

#include "itemmarks.h"
#include "mapforms.h"
#include "xmlwriter.h"

namespace qm {

namespace {

std::string Num(double v) { return SvgNumber(v); }

// A factor in full: a map millions of sectors wide has a scale far below 0.0001.
std::string Exact(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

constexpr const char* Ink = "#202020";

// Path data of the lines: "Mx0 y0Lx1 y1" each.
void AppendLines(std::string& d, const std::vector<TMapLine>& lines) {
    for (const TMapLine& l : lines)
        d.append("M").append(Num(l.X0)).append(" ").append(Num(l.Y0)).append("L").append(Num(l.X1)).append(" ").append(Num(l.Y1));
}

// The lines of a unit square's hatch as relative path data from its top left
// corner, the same for every sector of the map.
std::string RelativeHatch(int lines) {
    std::string d;
    double x = 0, y = 0;
    for (const TMapLine& l : HatchOf(0, 0, 1, lines)) {
        d.append("m").append(Num(l.X0 - x)).append(" ").append(Num(l.Y0 - y));
        d.append("l").append(Num(l.X1 - l.X0)).append(" ").append(Num(l.Y1 - l.Y0));
        x = l.X1, y = l.Y1;
    }
    return d;
}

// The hatch of the room's triggered sectors: one path, each sector's corner
// and then its lines.
void DrawTriggered(TXmlWriter& w, const TMapRoom& room, double scale, const std::string& hatch) {
    if (room.Triggered.empty()) return;
    std::string d;
    for (const TSectorRect& cell : room.Triggered)
        d.append("M").append(Num(cell.X)).append(" ").append(Num(cell.Y)).append(hatch);
    w.Empty("path", {{"class", "triggers"}, {"d", d}, {"fill", "none"}, {"stroke", MapTriggerColour},
                     {"stroke-width", Num(1.2 / scale)}});
}

void DrawFloor(TXmlWriter& w, const TMapRoom& room, bool hidden) {
    if (hidden) w.Open("g", {{"class", "floor"}, {"display", "none"}});
    else w.Open("g", {{"class", "floor"}});
    for (const TSectorRect& r : room.Floor)
        w.Empty("rect", {{"x", Num(r.X)}, {"y", Num(r.Y)}, {"width", std::to_string(r.W)}, {"height", std::to_string(r.H)}});
    w.Close();
}

// A flip room is drawn as a dashed outline; in the page it also carries its
// fill and floor, hidden until the page shows the flipped state.
void DrawRoom(TXmlWriter& w, const TMapRoom& room, double scale, TSvgUse use, const std::string& hatch) {
    const std::string id = "room-" + std::to_string(room.Room), number = std::to_string(room.Room);
    const bool filled = !room.Flip || use == TSvgUse::Page;
    if (filled)
        w.Open("g", {{"id", id}, {"class", room.Flip ? "room flip" : "room"}, {"data-room", number}, {"fill", room.Fill},
                     {"fill-opacity", Num(MapFillOpacity)}});
    else
        w.Open("g", {{"id", id}, {"class", "room flip"}, {"data-room", number}, {"fill", "none"}});
    w.Element("title", {}, room.Title);
    if (filled) DrawFloor(w, room, room.Flip);
    DrawTriggered(w, room, scale, hatch);
    const TSectorRect& o = room.Outline;
    const std::string stroke = Num(1.5 / scale), dash = Num(5 / scale) + " " + Num(3 / scale);
    const std::string ox = Num(o.X), oy = Num(o.Y), ow = std::to_string(o.W), oh = std::to_string(o.H);
    if (room.Flip)
        w.Empty("rect", {{"class", "outline"}, {"x", ox}, {"y", oy}, {"width", ow}, {"height", oh}, {"fill", "none"},
                         {"stroke", Ink}, {"stroke-width", stroke}, {"stroke-dasharray", dash}});
    else
        w.Empty("rect", {{"class", "outline"}, {"x", ox}, {"y", oy}, {"width", ow}, {"height", oh}, {"fill", "none"},
                         {"stroke", Ink}, {"stroke-width", stroke}});
    w.Close();
}

void DrawMarks(TXmlWriter& w, const TMapPanel& panel, double scale, const std::string& transform) {
    w.Open("g", {{"class", "items"}, {"transform", transform}});
    for (const TMapMark& m : panel.Marks) {
        OpenItemMark(w, m.Kind, m.X, m.Y, ItemMarkPixels / scale, 1 / scale,
                     {{"data-room", std::to_string(m.Room)}, {"data-item", std::to_string(m.Item)}});
        w.Element("title", {}, m.Title);
        w.Close();
    }
    w.Close();
}

// The number in its box, a light halo around it so that it reads on any fill.
void DrawLabels(TXmlWriter& w, const TMapPanel& panel) {
    w.Open("g", {{"class", "labels"}, {"font-size", Num(MapLabelSize)}});
    for (const TMapLabel& l : panel.Labels) {
        const std::string room = std::to_string(l.Room);
        if (l.Leader)
            w.Empty("line", {{"class", "leader"}, {"data-room", room}, {"x1", Num(l.FromX)}, {"y1", Num(l.FromY)},
                             {"x2", Num(l.ToX)}, {"y2", Num(l.ToY)}, {"stroke", Ink}, {"stroke-width", "1"}});
        const TPixelBox& b = l.Box;
        w.Element("text",
                  {{"class", "label"}, {"data-room", room},
                   {"data-box", Num(b.X) + " " + Num(b.Y) + " " + Num(b.W) + " " + Num(b.H)},
                   {"x", Num(b.X + b.W / 2)}, {"y", Num(b.Y + b.H - 2.5)}, {"text-anchor", "middle"},
                   {"fill", "#000000"}, {"stroke", "#ffffff"}, {"stroke-width", "2.5"}, {"stroke-opacity", "0.8"},
                   {"paint-order", "stroke"}},
                  l.Text);
    }
    w.Close();
}

// The sector coordinates along the top and left edges.
void DrawTicks(TXmlWriter& w, const TMapPanel& panel) {
    w.Open("g", {{"class", "ticks"}, {"font-size", Num(MapTickSize)}, {"fill", Ink}});
    for (const TMapTick& t : panel.Ticks) {
        w.Empty("line", {{"x1", Num(t.X0)}, {"y1", Num(t.Y0)}, {"x2", Num(t.X1)}, {"y2", Num(t.Y1)}, {"stroke", Ink},
                         {"stroke-width", "1"}});
        w.Element("text", {{"class", t.Left ? "z" : "x"}, {"x", Num(t.X)}, {"y", Num(t.Y)},
                           {"text-anchor", t.Left ? "end" : "middle"}},
                  t.Text);
    }
    w.Close();
}

void DrawPanel(TXmlWriter& w, const TMapPanel& panel, double scale, TSvgUse use, const std::string& hatch) {
    const std::string n = std::to_string(panel.Storey);
    w.Open("g", {{"class", "storey"}, {"id", "storey-" + n}, {"data-storey", n},
                 {"data-low", std::to_string(panel.Low)}, {"data-high", std::to_string(panel.High)}});
    w.Element("text", {{"class", "storey-title"}, {"x", Num(panel.TitleX)}, {"y", Num(panel.TitleY)},
                       {"font-size", Num(MapTitleSize)}, {"font-weight", "bold"}},
              panel.Title);
    const std::string transform =
        "translate(" + Num(panel.OriginX) + " " + Num(panel.OriginY) + ") scale(" + Exact(scale) + ")";
    w.Open("g", {{"class", "rooms"}, {"transform", transform}});
    for (const TMapRoom& room : panel.Rooms) DrawRoom(w, room, scale, use, hatch);
    w.Close();
    DrawTicks(w, panel);
    if (!panel.Marks.empty()) DrawMarks(w, panel, scale, transform);
    DrawLabels(w, panel);
    for (size_t i = 0; i < panel.Notes.size(); ++i)
        w.Element("text", {{"class", "note"}, {"x", Num(panel.Area.X)}, {"y", Num(panel.NotesY + double(i) * MapNoteLine)},
                           {"font-size", Num(MapNoteSize)}},
                  panel.Notes[i]);
    w.Close();
}

void DrawLegend(TXmlWriter& w, const TMapLayout& m) {
    // The item marks' rows in a group of their own (the page hides it with
    // the items), the hatch after them in another.
    const char* group = "legend";
    w.Open("g", {{"id", group}, {"font-size", Num(MapLegendSize)}});
    for (const TLegendEntry& e : m.Legend) {
        const char* wanted = e.Shape == TLegendEntry::TShape::Mark    ? "item-legend"
                             : e.Shape == TLegendEntry::TShape::Hatch ? "trigger-legend"
                                                                      : group;
        if (std::string_view(wanted) != group) {
            w.Close();
            group = wanted;
            w.Open("g", {{"id", group}, {"font-size", Num(MapLegendSize)}});
        }
        const std::string sx = Num(e.X), sy = Num(e.Y);
        if (e.Shape == TLegendEntry::TShape::Dashed)
            w.Empty("rect", {{"x", sx}, {"y", sy}, {"width", "14"}, {"height", "14"}, {"fill", "none"}, {"stroke", Ink},
                             {"stroke-width", "1.5"}, {"stroke-dasharray", "5 3"}});
        else if (e.Shape == TLegendEntry::TShape::Fill)
            w.Empty("rect", {{"x", sx}, {"y", sy}, {"width", "14"}, {"height", "14"}, {"fill", e.Colour},
                             {"fill-opacity", Num(MapFillOpacity)}, {"stroke", Ink}, {"stroke-width", "1"}});
        else if (e.Shape == TLegendEntry::TShape::Hatch) {
            w.Empty("rect", {{"x", sx}, {"y", sy}, {"width", "14"}, {"height", "14"}, {"fill", "none"}, {"stroke", Ink},
                             {"stroke-width", "1"}});
            std::string d;
            AppendLines(d, HatchOf(e.X, e.Y, 14, 3));
            w.Empty("path", {{"d", d}, {"fill", "none"}, {"stroke", MapTriggerColour}, {"stroke-width", "1.2"}});
        } else {
            OpenItemMark(w, e.Kind, e.X + 7, e.Y + 7, 6, 1);
            w.Close();
        }
        w.Element("text", {{"x", Num(e.X + 20)}, {"y", Num(e.Y + 12)}}, e.Label);
    }
    w.Close();
}

} // namespace

std::string MapSvgOf(const TMapLayout& m, TSvgUse use) {
    TXmlWriter w;
    const std::string width = Num(m.Width), height = Num(m.Height);
    w.Open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"version", "1.1"}, {"width", width}, {"height", height},
                   {"viewBox", "0 0 " + width + " " + height}, {"font-family", "sans-serif"}});
    w.Element("title", {}, "Map of " + m.Title);
    w.Empty("rect", {{"width", width}, {"height", height}, {"fill", "#ffffff"}});
    w.Element("text", {{"id", "heading"}, {"x", Num(MapMargin)}, {"y", Num(MapHeadingY)}, {"font-size", Num(MapHeadingSize)}},
              m.Heading);
    const std::string hatch = RelativeHatch(m.HatchLines);
    for (const TMapPanel& panel : m.Panels) DrawPanel(w, panel, m.Scale, use, hatch);
    DrawLegend(w, m);
    for (size_t i = 0; i < m.Notes.size(); ++i)
        w.Element("text", {{"class", "note"}, {"x", Num(MapMargin)}, {"y", Num(m.NotesY + double(i) * MapNoteLine)},
                           {"font-size", Num(MapNoteSize)}},
                  m.Notes[i]);
    return w.Finish();
}

} // namespace qm
