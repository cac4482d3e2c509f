#include "itemmarks.h"

namespace qm {

namespace {

struct TMarkStyle {
    const char* Class;
    const char* Colour;
};
constexpr TMarkStyle Styles[] = {
    {.Class = "item player", .Colour = "#d62728"},
    {.Class = "item pickup", .Colour = "#2ca02c"},
    {.Class = "item enemy", .Colour = "#f28e1c"},
    {.Class = "item other", .Colour = "#7b4fb0"},
};
const TMarkStyle& StyleOf(TItemKind kind) { return Styles[size_t(kind)]; }

std::string Num(double v) { return SvgNumber(v); }

} // namespace

const char* ItemMarkColour(TItemKind kind) { return StyleOf(kind).Colour; }

std::vector<std::pair<double, double>> ItemMarkCorners(TItemKind kind) {
    switch (kind) {
    case TItemKind::Player: return {};
    case TItemKind::Pickup: return {{0, -1.2}, {1.2, 0}, {0, 1.2}, {-1.2, 0}};
    case TItemKind::Enemy: return {{0, -1.2}, {1.1, 0.9}, {-1.1, 0.9}};
    case TItemKind::Other: break;
    }
    return {{-0.85, -0.85}, {0.85, -0.85}, {0.85, 0.85}, {-0.85, 0.85}};
}

void OpenItemMark(TXmlWriter& w, TItemKind kind, double x, double y, double h, double stroke,
                  std::vector<std::pair<const char*, std::string>> extra) {
    const TMarkStyle& s = StyleOf(kind);
    std::vector<std::pair<const char*, std::string>> attrs = {{"class", s.Class}};
    const char* shape = "polygon";
    if (kind == TItemKind::Player) {
        shape = "circle";
        attrs.insert(attrs.end(), {{"cx", Num(x)}, {"cy", Num(y)}, {"r", Num(h)}});
    } else if (kind == TItemKind::Other) {
        shape = "rect";
        attrs.insert(attrs.end(), {{"x", Num(x - 0.85 * h)}, {"y", Num(y - 0.85 * h)}, {"width", Num(1.7 * h)},
                                   {"height", Num(1.7 * h)}});
    } else {
        std::string points;
        for (const auto& [dx, dy] : ItemMarkCorners(kind)) {
            if (!points.empty()) points += ' ';
            points.append(Num(x + dx * h)).append(",").append(Num(y + dy * h));
        }
        attrs.emplace_back("points", points);
    }
    attrs.insert(attrs.end(), {{"fill", s.Colour}, {"stroke", "#ffffff"}, {"stroke-width", Num(stroke)}});
    attrs.insert(attrs.end(), extra.begin(), extra.end());
    w.Open(shape, attrs);
}

} // namespace qm
