#include "itemmarks.h"

#include <cstdio>

#include "itemnames.h"
#include "items.h"

namespace qm {

namespace {

// A mark per broad kind: the player a red circle, pick-ups green diamonds,
// enemies orange triangles, everything else a violet square.
struct TMarkStyle {
    const char* Label;
    const char* Class;
    const char* Colour;
};
constexpr TMarkStyle Styles[] = {
    {.Label = "player", .Class = "item player", .Colour = "#d62728"},
    {.Label = "pick-up", .Class = "item pickup", .Colour = "#2ca02c"},
    {.Label = "enemy", .Class = "item enemy", .Colour = "#f28e1c"},
    {.Label = "other item", .Class = "item other", .Colour = "#7b4fb0"},
};
const TMarkStyle& StyleOf(TItemKind kind) { return Styles[size_t(kind)]; }

constexpr double MarkPixels = 4;  // half the mark's size

std::string Num(double v) { return SvgNumber(v); }

// Opens the mark's shape centred on (x, y), half its size h; the caller
// writes its title and closes it.
void OpenMark(TXmlWriter& w, TItemKind kind, double x, double y, double h, double stroke) {
    const TMarkStyle& s = StyleOf(kind);
    const std::string sw = Num(stroke);
    const auto points = [&](std::initializer_list<std::pair<double, double>> corners) {
        std::string text;
        for (const auto& [dx, dy] : corners) {
            if (!text.empty()) text += ' ';
            text.append(Num(x + dx * h)).append(",").append(Num(y + dy * h));
        }
        return text;
    };
    switch (kind) {
    case TItemKind::Player:
        w.Open("circle", {{"class", s.Class}, {"cx", Num(x)}, {"cy", Num(y)}, {"r", Num(h)}, {"fill", s.Colour},
                          {"stroke", "#ffffff"}, {"stroke-width", sw}});
        break;
    case TItemKind::Pickup:
        w.Open("polygon", {{"class", s.Class}, {"points", points({{0, -1.2}, {1.2, 0}, {0, 1.2}, {-1.2, 0}})},
                           {"fill", s.Colour}, {"stroke", "#ffffff"}, {"stroke-width", sw}});
        break;
    case TItemKind::Enemy:
        w.Open("polygon", {{"class", s.Class}, {"points", points({{0, -1.2}, {1.1, 0.9}, {-1.1, 0.9}})},
                           {"fill", s.Colour}, {"stroke", "#ffffff"}, {"stroke-width", sw}});
        break;
    case TItemKind::Other:
        w.Open("rect", {{"class", s.Class}, {"x", Num(x - 0.85 * h)}, {"y", Num(y - 0.85 * h)},
                        {"width", Num(1.7 * h)}, {"height", Num(1.7 * h)}, {"fill", s.Colour},
                        {"stroke", "#ffffff"}, {"stroke-width", sw}});
        break;
    }
}

bool InRooms(const TItem& it, const Ttrlevel& L, int32_t from, int32_t to) {
    return it.Room >= from && it.Room <= to && it.Room < int32_t(L.RoomCount);
}

} // namespace

bool HasItemsIn(const Ttrlevel& L, int32_t from, int32_t to) {
    for (int32_t i = 0; i < L.ItemCount; ++i)
        if (InRooms(ReadItem(L, i), L, from, to)) return true;
    return false;
}

void DrawItemMarks(TXmlWriter& w, const Ttrlevel& L, int32_t from, int32_t to, double scale,
                   const std::string& transform) {
    w.Open("g", {{"id", "items"}, {"transform", transform}});
    const double h = MarkPixels / scale;
    for (int32_t i = 0; i < L.ItemCount; ++i) {
        const TItem it = ReadItem(L, i);
        if (!InRooms(it, L, from, to)) continue;
        // One sector is one unit; z points up.
        OpenMark(w, ItemKindOf(L.LevelVersion, it.Type), it.X / 1024.0, -(it.Z / 1024.0), h, 1 / scale);
        w.Element("title", {},
                  "Item " + std::to_string(i) + ": " + ItemTypeLabel(L.LevelVersion, it.Type) + " (type " +
                      std::to_string(it.Type) + "), room " + std::to_string(it.Room) + ", height " +
                      std::to_string(it.Y));
        w.Close();
    }
    w.Close();
}

void DrawItemLegend(TXmlWriter& w, double top, double left) {
    w.Open("g", {{"id", "item-legend"}, {"font-size", "13"}});
    double x = left;
    for (TItemKind kind : {TItemKind::Player, TItemKind::Pickup, TItemKind::Enemy, TItemKind::Other}) {
        OpenMark(w, kind, x + 7, top + 7, 6, 1);
        w.Close();
        const char* label = StyleOf(kind).Label;
        w.Element("text", {{"x", Num(x + 20)}, {"y", Num(top + 12)}}, label);
        x += 28 + 8 * double(std::string_view(label).size());
    }
    w.Close();
}

} // namespace qm
