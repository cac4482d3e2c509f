#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "errors.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_easy_font.h>
#pragma GCC diagnostic pop

namespace qm {

namespace {

int Round(double v) { return int(std::lround(std::clamp(v, -1e9, 1e9))); }

int HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

} // namespace

TRgb RgbOf(const char* hex) {
    if (!hex || hex[0] != '#') return {};
    int v[6];
    for (int i = 0; i < 6; ++i)
        if ((v[i] = HexDigit(hex[i + 1])) < 0) return {};
    return {uint8_t(v[0] * 16 + v[1]), uint8_t(v[2] * 16 + v[3]), uint8_t(v[4] * 16 + v[5])};
}

TRaster::TRaster(int width, int height) : Width_(std::max(width, 1)), Height_(std::max(height, 1)) {
    try {
        Indices_.assign(size_t(Width_) * size_t(Height_), 0);
    } catch (const std::bad_alloc&) {
        throw EQuillError("The picture is too large to be held in memory");
    }
    IndexOf({255, 255, 255});  // index 0: white
}

TRgb TRaster::ColourAt(size_t pixel) const {
    if (Indexed()) {
        const uint8_t* p = &Palette_[size_t(Indices_[pixel]) * 3];
        return {p[0], p[1], p[2]};
    }
    const uint8_t* p = &Rgb_[pixel * 3];
    return {p[0], p[1], p[2]};
}

int TRaster::IndexOf(TRgb c) {
    const uint32_t key = (uint32_t(c.R) << 16 | uint32_t(c.G) << 8 | c.B) + 1;
    for (size_t slot = (key * 2654435761u) >> 23;; slot = (slot + 1) % Slots) {
        if (Keys_[slot] == key) return Slot_[slot];
        if (Keys_[slot] != 0) continue;
        const size_t count = Palette_.size() / 3;
        if (count == 256) return -1;
        Keys_[slot] = key;
        Slot_[slot] = uint8_t(count);
        Palette_.insert(Palette_.end(), {c.R, c.G, c.B});
        return int(count);
    }
}

// The 257th colour: every pixel as RGB from now on.
void TRaster::ToRgb() {
    try {
        Rgb_.resize(Indices_.size() * 3);
    } catch (const std::bad_alloc&) {
        throw EQuillError("The picture is too large to be held in memory");
    }
    for (size_t i = 0; i < Indices_.size(); ++i) std::memcpy(&Rgb_[i * 3], &Palette_[size_t(Indices_[i]) * 3], 3);
    std::vector<uint8_t>().swap(Indices_);
}

void TRaster::Put(size_t pixel, TRgb c) {
    if (Indexed()) {
        const int index = IndexOf(c);
        if (index >= 0) {
            Indices_[pixel] = uint8_t(index);
            return;
        }
        ToRgb();
    }
    uint8_t* p = &Rgb_[pixel * 3];
    p[0] = c.R, p[1] = c.G, p[2] = c.B;
}

void TRaster::Blend(size_t pixel, TRgb c, double opacity) {
    if (opacity >= 1) {
        Put(pixel, c);
        return;
    }
    const auto mix = [opacity](uint8_t under, uint8_t over) {
        return uint8_t(std::lround(over * opacity + under * (1 - opacity)));
    };
    const TRgb under = ColourAt(pixel);
    Put(pixel, {mix(under.R, c.R), mix(under.G, c.G), mix(under.B, c.B)});
}

void TRaster::Fill(double x0, double y0, double x1, double y1, TRgb c, double opacity) {
    int a = Round(x0), b = Round(x1), d = Round(y0), e = Round(y1);
    if (b == a) ++b;  // a room smaller than a pixel still shows
    if (e == d) ++e;
    a = std::max(a, 0), d = std::max(d, 0), b = std::min(b, Width_), e = std::min(e, Height_);
    if (a >= b || d >= e) return;
    // The pixels under a fill are mostly one colour: each blend is worked
    // out once for the index under it and repeated while that stays.
    int under = -1;
    uint8_t over = 0;
    for (int y = d; y < e; ++y) {
        size_t i = size_t(y) * size_t(Width_) + size_t(a);
        const size_t end = i + size_t(b - a);
        while (i < end && Indexed()) {
            uint8_t* p = Indices_.data();
            while (i < end && p[i] == under) p[i++] = over;
            if (i == end) break;
            const uint8_t before = p[i];
            Blend(i, c, opacity);
            if (Indexed()) under = before, over = Indices_[i];
            ++i;
        }
        for (; i < end; ++i) Blend(i, c, opacity);  // past 256 colours: RGB
    }
}

void TRaster::Outline(double x0, double y0, double x1, double y1, double width, TRgb c, double dash, double gap) {
    const double h = width / 2;
    if (dash <= 0) {
        Fill(x0 - h, y0 - h, x1 + h, y0 + h, c);
        Fill(x0 - h, y1 - h, x1 + h, y1 + h, c);
        Fill(x0 - h, y0 - h, x0 + h, y1 + h, c);
        Fill(x1 - h, y0 - h, x1 + h, y1 + h, c);
        return;
    }
    // Along each side from its start; the pattern starts again at each corner.
    const auto side = [&](double ax, double ay, double bx, double by) {
        const double length = std::hypot(bx - ax, by - ay);
        if (length <= 0) return;
        const double ux = (bx - ax) / length, uy = (by - ay) / length;
        for (double s = 0; s < length; s += dash + gap) {
            const double t = std::min(length, s + dash);
            const double px0 = ax + ux * s, py0 = ay + uy * s, px1 = ax + ux * t, py1 = ay + uy * t;
            Fill(std::min(px0, px1) - h, std::min(py0, py1) - h, std::max(px0, px1) + h, std::max(py0, py1) + h, c);
        }
    };
    side(x0, y0, x1, y0);
    side(x1, y0, x1, y1);
    side(x1, y1, x0, y1);
    side(x0, y1, x0, y0);
}

void TRaster::Line(double x0, double y0, double x1, double y1, TRgb c) {
    const int steps = std::max(1, Round(std::max(std::abs(x1 - x0), std::abs(y1 - y0))));
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const int x = int(std::floor(x0 + (x1 - x0) * t)), y = int(std::floor(y0 + (y1 - y0) * t));
        if (x >= 0 && y >= 0 && x < Width_ && y < Height_) Blend(x, y, c, 1);
    }
}

void TRaster::Polygon(const std::vector<std::pair<double, double>>& corners, TRgb c) {
    if (corners.size() < 3) return;
    double top = corners[0].second, bottom = top, left = corners[0].first, right = left;
    for (const auto& [x, y] : corners)
        top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x), right = std::max(right, x);
    const int y0 = std::max(0, int(std::floor(top))), y1 = std::min(Height_, int(std::ceil(bottom)));
    const int x0 = std::max(0, int(std::floor(left))), x1 = std::min(Width_, int(std::ceil(right)));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            bool inside = false;
            for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
                const auto& [xi, yi] = corners[i];
                const auto& [xj, yj] = corners[j];
                if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) inside = !inside;
            }
            if (inside) Blend(x, y, c, 1);
        }
}

void TRaster::Disc(double cx, double cy, double r, TRgb c) {
    const int y0 = std::max(0, int(std::floor(cy - r))), y1 = std::min(Height_, int(std::ceil(cy + r)));
    const int x0 = std::max(0, int(std::floor(cx - r))), x1 = std::min(Width_, int(std::ceil(cx + r)));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) <= r) Blend(x, y, c, 1);
}

void TRaster::Text(double x, double y, const std::string& text, double size, TRgb c) {
    std::string chars = text;
    for (char& ch : chars)
        if (ch < 32 || ch > 126) ch = '?';  // the font holds printable ASCII only
    std::vector<char> quads(chars.size() * 300 + 64);
    const int count = stb_easy_font_print(0, 0, chars.data(), nullptr, quads.data(), int(quads.size()));
    const double unit = size / 10;
    for (int q = 0; q < count; ++q) {
        // Four vertices of 16 bytes each: x, y, z as floats, then the colour.
        float corner[2][2];
        std::memcpy(corner[0], &quads[size_t(q) * 64], 8);
        std::memcpy(corner[1], &quads[size_t(q) * 64 + 32], 8);
        Fill(x + corner[0][0] * unit, y + corner[0][1] * unit, x + corner[1][0] * unit, y + corner[1][1] * unit, c);
    }
}

namespace {

// Rows top to bottom, the high bit of the five the leftmost pixel.
constexpr uint8_t DigitRows[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};
// "/" between a room and its flip room, "-" of a coordinate below 0.
constexpr uint8_t SlashRows[7] = {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10};
constexpr uint8_t MinusRows[7] = {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};

const uint8_t* GlyphRows(char c) {
    if (c >= '0' && c <= '9') return DigitRows[c - '0'];
    return c == '/' ? SlashRows : c == '-' ? MinusRows : nullptr;
}

bool DigitPixel(const std::string& digits, int x, int y) {
    if (x < 0 || y < 0 || y >= TRaster::DigitHeight) return false;
    const size_t at = size_t(x / TRaster::DigitAdvance);
    const int column = x % TRaster::DigitAdvance;
    if (at >= digits.size() || column >= 5) return false;
    const uint8_t* rows = GlyphRows(digits[at]);
    return rows && (rows[y] >> (4 - column) & 1) != 0;
}

} // namespace

void TRaster::Digits(int x, int y, const std::string& digits, TRgb c, TRgb halo) {
    const int width = int(digits.size()) * DigitAdvance;
    for (int dy = -1; dy <= DigitHeight; ++dy)
        for (int dx = -1; dx <= width; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px < 0 || py < 0 || px >= Width_ || py >= Height_) continue;
            if (DigitPixel(digits, dx, dy)) {
                Blend(px, py, c, 1);
                continue;
            }
            bool near = false;
            for (int ny = -1; ny <= 1 && !near; ++ny)
                for (int nx = -1; nx <= 1 && !near; ++nx) near = DigitPixel(digits, dx + nx, dy + ny);
            if (near) Blend(px, py, halo, 0.8);
        }
}

} // namespace qm
