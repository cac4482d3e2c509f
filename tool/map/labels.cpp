#include "labels.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "rooms.h"

namespace qm {

namespace {

bool Overlap(const TPixelBox& a, const TPixelBox& b) {
    return a.X < b.X + b.W && b.X < a.X + a.W && a.Y < b.Y + b.H && b.Y < a.Y + a.H;
}

bool Inside(const TPixelBox& a, const TPixelBox& zone) {
    return a.X >= zone.X && a.Y >= zone.Y && a.X + a.W <= zone.X + zone.W && a.Y + a.H <= zone.Y + zone.H;
}

// Boxes of one panel in square buckets, to find the ones a box meets.
class TBoxIndex {
public:
    explicit TBoxIndex(const TPixelBox& zone)
        : Zone_(zone), Side_(std::max({64.0, zone.W / 256, zone.H / 256})), Cols_(Count(zone.W)), Rows_(Count(zone.H)),
          Buckets_(size_t(Cols_) * size_t(Rows_)) {}

    bool Meets(const TPixelBox& b) const {
        const TSpan s = SpanOf(b);
        for (int r = s.R0; r <= s.R1; ++r)
            for (int c = s.C0; c <= s.C1; ++c)
                for (size_t i : Buckets_[size_t(r) * size_t(Cols_) + size_t(c)])
                    if (Overlap(Boxes_[i], b)) return true;
        return false;
    }
    void Add(const TPixelBox& b) {
        const TSpan s = SpanOf(b);
        for (int r = s.R0; r <= s.R1; ++r)
            for (int c = s.C0; c <= s.C1; ++c) Buckets_[size_t(r) * size_t(Cols_) + size_t(c)].push_back(Boxes_.size());
        Boxes_.push_back(b);
    }

private:
    struct TSpan {
        int C0, C1, R0, R1;
    };
    // Buckets of 64 pixels, at most 257 a side on a picture too large to be drawn.
    int Count(double extent) const { return std::clamp(int(std::ceil(extent / Side_)) + 1, 1, 257); }
    int Clamp(double v, int n) const { return int(std::clamp(std::floor(v / Side_), 0.0, double(n - 1))); }
    TSpan SpanOf(const TPixelBox& b) const {
        return {.C0 = Clamp(b.X - Zone_.X, Cols_), .C1 = Clamp(b.X + b.W - Zone_.X, Cols_),
                .R0 = Clamp(b.Y - Zone_.Y, Rows_), .R1 = Clamp(b.Y + b.H - Zone_.Y, Rows_)};
    }
    TPixelBox Zone_;
    double Side_;
    int Cols_, Rows_;
    std::vector<std::vector<size_t>> Buckets_;
    std::vector<TPixelBox> Boxes_;
};

// A room's floor as a grid of rows top to bottom (z from SizeZ - 1 down to 0)
// and columns left to right (x), with the count of wall cells above and left
// of each corner, to tell in one step whether a block of cells is all floor.
struct TFloorGrid {
    int Cols = 0, Rows = 0;
    std::vector<uint8_t> Floor;   // Rows x Cols
    std::vector<int32_t> Walls;   // (Rows + 1) x (Cols + 1)

    explicit TFloorGrid(const TLabelRoom& room) : Cols(room.SizeX), Rows(room.SizeZ) {
        Floor.resize(size_t(Cols) * size_t(Rows));
        Walls.assign(size_t(Cols + 1) * size_t(Rows + 1), 0);
        for (int r = 0; r < Rows; ++r)
            for (int c = 0; c < Cols; ++c) {
                const bool floor = !IsWallSector(*room.Record, uint32_t(c), uint32_t(Rows - 1 - r));
                Floor[size_t(r) * size_t(Cols) + size_t(c)] = floor;
                WallAt(r + 1, c + 1) = WallAt(r, c + 1) + WallAt(r + 1, c) - WallAt(r, c) + (floor ? 0 : 1);
            }
    }
    int32_t& WallAt(int r, int c) { return Walls[size_t(r) * size_t(Cols + 1) + size_t(c)]; }
    int32_t WallsIn(int r0, int c0, int r1, int c1) const {  // rows r0..r1-1, columns c0..c1-1
        const auto at = [&](int r, int c) { return Walls[size_t(r) * size_t(Cols + 1) + size_t(c)]; };
        return at(r1, c1) - at(r0, c1) - at(r1, c0) + at(r0, c0);
    }
    bool IsFloor(int r, int c) const { return Floor[size_t(r) * size_t(Cols) + size_t(c)] != 0; }
};

struct TCellBlock {
    int Row = 0, Col = 0, Rows = 0, Cols = 0;
};

// The largest block of floor cells (by area; the first found of equal ones),
// by the rising heights of floor cells above each row.
TCellBlock LargestFloorBlock(const TFloorGrid& g) {
    TCellBlock best;
    std::vector<int> height(size_t(g.Cols) + 1, 0), stack;
    for (int r = 0; r < g.Rows; ++r) {
        for (int c = 0; c < g.Cols; ++c) height[size_t(c)] = g.IsFloor(r, c) ? height[size_t(c)] + 1 : 0;
        stack.clear();
        for (int c = 0; c <= g.Cols; ++c) {
            while (!stack.empty() && height[size_t(stack.back())] >= height[size_t(c)]) {
                const int h = height[size_t(stack.back())];
                stack.pop_back();
                const int left = stack.empty() ? 0 : stack.back() + 1;
                if (int64_t(h) * (c - left) > int64_t(best.Rows) * best.Cols)
                    best = {.Row = r - h + 1, .Col = left, .Rows = h, .Cols = c - left};
            }
            stack.push_back(c);
        }
    }
    return best;
}

struct TRoomPlace {
    const TLabelRoom* Room = nullptr;
    TFloorGrid Grid;
    TCellBlock Block{};
    double AnchorX = 0, AnchorY = 0;  // the centre of its largest free area, pixels
    TPixelBox Bounds{};
    double W = 0;
};

TPixelBox BoxAt(double cx, double cy, double w) {
    return {.X = std::round(cx - w / 2), .Y = std::round(cy - LabelHeight / 2), .W = w, .H = LabelHeight};
}

// True when the box lies on floor cells of the room only.
bool OnFloor(const TRoomPlace& p, const TPixelBox& b, double scale) {
    const TLabelRoom& r = *p.Room;
    // In doubles until known to lie in the grid: on a picture drawn very small
    // a box spans more sectors than an int counts.
    const double c0 = std::floor((b.X - r.Left) / scale), c1 = std::ceil((b.X + b.W - r.Left) / scale);
    const double r0 = std::floor((b.Y - r.Top) / scale), r1 = std::ceil((b.Y + b.H - r.Top) / scale);
    if (!(c0 >= 0 && r0 >= 0 && c1 <= p.Grid.Cols && r1 <= p.Grid.Rows)) return false;
    return p.Grid.WallsIn(int(r0), int(c0), int(r1), int(c1)) == 0;
}

// Inside: the centre of the largest free area first, then the centres and
// corners of the floor cells, the nearest to it first.
bool PlaceInside(const TRoomPlace& p, double scale, TBoxIndex& placed, TMapLabel& label) {
    if (p.Block.Rows == 0) return false;
    std::vector<std::pair<double, double>> spots = {{p.AnchorX, p.AnchorY}};
    const int step = std::max(1, int(std::sqrt(double(p.Grid.Rows) * p.Grid.Cols / 1024.0)));
    for (int r = 0; r < p.Grid.Rows; r += step)
        for (int c = 0; c < p.Grid.Cols; c += step) {
            if (!p.Grid.IsFloor(r, c)) continue;
            const double x = p.Room->Left + c * scale, y = p.Room->Top + r * scale;
            spots.push_back({x + scale / 2, y + scale / 2});
            spots.push_back({x + scale, y + scale});
        }
    const auto distance = [&](const std::pair<double, double>& s) {
        return std::hypot(s.first - p.AnchorX, s.second - p.AnchorY);
    };
    std::stable_sort(spots.begin() + 1, spots.end(), [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    for (const auto& [x, y] : spots) {
        const TPixelBox box = BoxAt(x, y, p.W);
        if (OnFloor(p, box, scale) && !placed.Meets(box)) {
            label = {.Room = p.Room->Room, .Text = p.Room->Text, .Box = box};
            return true;
        }
    }
    return false;
}

// The point of the box nearest to (x, y).
std::pair<double, double> NearestOn(const TPixelBox& b, double x, double y) {
    return {std::clamp(x, b.X, b.X + b.W), std::clamp(y, b.Y, b.Y + b.H)};
}

// Outside: around the room's grid at growing distances, above, below, beside
// and at the corners; a place over no room first.
bool PlaceOutside(const TRoomPlace& p, const TPixelBox& zone, TBoxIndex& placed, const TBoxIndex& rooms,
                  TMapLabel& label) {
    const TPixelBox& b = p.Bounds;
    const double w = p.W, h = LabelHeight;
    const double cx = b.X + b.W / 2, cy = b.Y + b.H / 2;
    std::vector<TPixelBox> spots;
    for (const double d : {3.0, 3 + h, 3 + 2 * h, 3 + 4 * h}) {
        const double above = b.Y - d - h / 2, below = b.Y + b.H + d + h / 2;
        const double left = b.X - d - w / 2, right = b.X + b.W + d + w / 2;
        for (const auto& [x, y] : {std::pair{cx, above}, {cx, below}, {left, cy}, {right, cy}, {left, above},
                                   {right, above}, {left, below}, {right, below}})
            spots.push_back(BoxAt(x, y, w));
    }
    for (const bool overRooms : {false, true})
        for (const TPixelBox& box : spots) {
            if (!Inside(box, zone) || placed.Meets(box) || (!overRooms && rooms.Meets(box))) continue;
            const auto [tx, ty] = NearestOn(box, p.AnchorX, p.AnchorY);
            label = {.Room = p.Room->Room, .Text = p.Room->Text, .Box = box, .Leader = true, .FromX = p.AnchorX, .FromY = p.AnchorY,
                     .ToX = tx, .ToY = ty};
            return true;
        }
    return false;
}

} // namespace

double LabelWidth(const std::string& text) { return 7 * double(text.size()) + 4; }

std::vector<TMapLabel> PlaceLabels(const std::vector<TLabelRoom>& rooms, double scale, const TPixelBox& zone,
                                   const std::vector<TPixelBox>& obstacles, std::vector<int32_t>& unlabelled) {
    std::vector<TRoomPlace> places;
    places.reserve(rooms.size());
    TBoxIndex placed(zone), outlines(zone);
    for (const TPixelBox& b : obstacles) placed.Add(b);
    for (const TLabelRoom& room : rooms) {
        TRoomPlace p{.Room = &room, .Grid = TFloorGrid(room)};
        p.Block = LargestFloorBlock(p.Grid);
        p.Bounds = {.X = room.Left, .Y = room.Top, .W = room.SizeX * scale, .H = room.SizeZ * scale};
        p.AnchorX = p.Block.Rows ? room.Left + (p.Block.Col + p.Block.Cols / 2.0) * scale : p.Bounds.X + p.Bounds.W / 2;
        p.AnchorY = p.Block.Rows ? room.Top + (p.Block.Row + p.Block.Rows / 2.0) * scale : p.Bounds.Y + p.Bounds.H / 2;
        p.W = LabelWidth(room.Text);
        outlines.Add(p.Bounds);
        places.push_back(std::move(p));
    }
    // The rooms with the least room for a label choose first.
    std::vector<size_t> order(places.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return int64_t(places[a].Block.Rows) * places[a].Block.Cols < int64_t(places[b].Block.Rows) * places[b].Block.Cols;
    });
    std::vector<TMapLabel> labels;
    std::vector<size_t> outside;
    for (size_t i : order) {
        TMapLabel label;
        if (PlaceInside(places[i], scale, placed, label)) {
            placed.Add(label.Box);
            labels.push_back(label);
        } else {
            outside.push_back(i);
        }
    }
    for (size_t i : outside) {
        TMapLabel label;
        if (PlaceOutside(places[i], zone, placed, outlines, label)) {
            placed.Add(label.Box);
            labels.push_back(label);
        } else {
            unlabelled.push_back(places[i].Room->Room);
        }
    }
    std::sort(unlabelled.begin(), unlabelled.end());
    std::sort(labels.begin(), labels.end(), [](const TMapLabel& a, const TMapLabel& b) { return a.Room < b.Room; });
    return labels;
}

} // namespace qm
