// A picture of RGB pixels and the few shapes the map's PNG form draws on it:
// rectangles, rectangle outlines (solid or dashed), thin lines, filled
// polygons and circles, and text in a small built-in stroke font. Positions
// are in pixels and may be fractional; edges are rounded to whole pixels,
// and whatever falls outside the picture is left out. The pixels are palette
// indices, a byte each, while the picture holds at most 256 colours (a map
// holds a few dozen), and RGB from its 257th colour on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qm {

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
};

// "#rrggbb"; black for anything else.
TRgb RgbOf(const char* hex);

class TRaster {
public:
    // A white picture; throws EQuillError when it cannot be held in memory.
    TRaster(int width, int height);

    int Width() const { return Width_; }
    int Height() const { return Height_; }
    // Rows top to bottom: while Indexed(), Indices() (a byte a pixel) into
    // Palette() (red, green, blue of each colour); else Rgb(), 3 bytes a pixel.
    bool Indexed() const { return Rgb_.empty(); }
    const std::vector<uint8_t>& Indices() const { return Indices_; }
    const std::vector<uint8_t>& Palette() const { return Palette_; }
    const std::vector<uint8_t>& Rgb() const { return Rgb_; }
    TRgb At(int x, int y) const { return ColourAt(size_t(y) * size_t(Width_) + size_t(x)); }

    // Pixel columns x0..x1 and rows y0..y1 (rounded), blended at opacity.
    void Fill(double x0, double y0, double x1, double y1, TRgb c, double opacity = 1);
    // The rectangle's edge drawn centred on it, width pixels wide; dashed:
    // dash pixels drawn, gap pixels left, around it.
    void Outline(double x0, double y0, double x1, double y1, double width, TRgb c, double dash = 0, double gap = 0);
    // A line one pixel wide.
    void Line(double x0, double y0, double x1, double y1, TRgb c);
    // The polygon's inside (even-odd rule).
    void Polygon(const std::vector<std::pair<double, double>>& corners, TRgb c);
    void Disc(double cx, double cy, double r, TRgb c);
    // Text with its top left corner at (x, y), glyphs size / 10 pixels a unit.
    void Text(double x, double y, const std::string& text, double size, TRgb c);
    // Decimal digits, "/" and "-" in a crisp 5 x 7 pixel font, 6 pixels
    // apart, with a one-pixel halo of the second colour around them; other
    // characters are left out.
    void Digits(int x, int y, const std::string& digits, TRgb c, TRgb halo);
    static constexpr int DigitAdvance = 6, DigitHeight = 7;

private:
    void Blend(int x, int y, TRgb c, double opacity) { Blend(size_t(y) * size_t(Width_) + size_t(x), c, opacity); }
    void Blend(size_t pixel, TRgb c, double opacity);
    TRgb ColourAt(size_t pixel) const;
    void Put(size_t pixel, TRgb c);
    int IndexOf(TRgb c);  // -1: the palette is full
    void ToRgb();
    int Width_, Height_;
    std::vector<uint8_t> Indices_, Palette_, Rgb_;
    // The palette's colours by value: open addressing, a slot holds colour + 1 (0: free).
    static constexpr size_t Slots = 512;
    uint32_t Keys_[Slots] = {};
    uint8_t Slot_[Slots] = {};
};

} // namespace qm
