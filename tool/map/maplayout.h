// The map (/Map) as a value: the picture's panels, one per storey, with the
// rooms' sectors, outlines, labels and leader lines, the items' marks, the
// legend and the notes, all placed. The SVG and the PNG form render the same
// value, so the two forms cannot disagree about what is where.
//
// Two frames: pixels of the picture, and sector units of a panel, where a
// room's sector (x, z) is the unit square at (X/1024 + x, -(Z/1024 + z + 1)),
// so +x points right and +z points up (north up, as seen from above). A
// panel's pixel of the sector point (u, v) is (OriginX + u * Scale, OriginY +
// v * Scale). Every panel has the same scale and is framed to its own rooms,
// with their sector coordinates marked along its top and left edges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "itemnames.h"
#include "triggers.h"
#include "trlevel.h"

namespace qm {

struct TPixelBox {
    double X = 0, Y = 0, W = 0, H = 0;
};

// A rectangle of whole sectors in a panel's sector units.
struct TSectorRect {
    double X = 0, Y = 0;
    int64_t W = 0, H = 0;
};

struct TMapRoom {
    int32_t Room = 0;
    bool Flip = false;               // another room names it as its alternate
    const char* Fill = nullptr;      // its fill colour "#rrggbb" (a flip room's only for the flipped state)
    std::string Title{};             // the hover title
    std::vector<TSectorRect> Floor{};  // its floor sectors, merged into rectangles (a flip room's: as Fill)
    TSectorRect Outline{};           // its whole sector grid
    std::vector<TSectorRect> Triggered{};  // its sectors that hold a trigger, one unit square each
};

struct TMapLabel {
    int32_t Room = 0;
    std::string Text{};               // the room's number, "24/90" with its flip room
    TPixelBox Box{};                  // the box the placer reserved, whole pixels
    bool Leader = false;              // placed outside the room: a line leads to it
    double FromX = 0, FromY = 0, ToX = 0, ToY = 0;  // the leader, in pixels
};

struct TMapMark {
    int32_t Item = 0, Room = 0;
    TItemKind Kind = TItemKind::Other;
    double X = 0, Y = 0;  // sector units
    std::string Title{};
};

// A sector coordinate marked on a panel's top edge (an x) or left edge (a z):
// a short line across the edge and the number beside it, pixels.
struct TMapTick {
    bool Left = false;                   // on the left edge: the text ends at X
    double X = 0, Y = 0;                 // the text's anchor (top: its middle) on its baseline
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // the line
    std::string Text{};
};

struct TMapPanel {
    int32_t Storey = 1;
    int32_t Low = 0, High = 0;  // the storey's floor and ceiling y
    std::string Title{};
    double TitleX = 0, TitleY = 0;  // the title's baseline start, pixels
    double OriginX = 0, OriginY = 0;
    TPixelBox Area{};  // where its rooms lie, pixels
    std::vector<TMapRoom> Rooms{};  // in drawing order: the lowest floor first
    std::vector<TMapLabel> Labels{};
    std::vector<TMapMark> Marks{};
    std::vector<TMapTick> Ticks{};
    std::vector<std::string> Notes{};  // lines under the rooms
    double NotesY = 0;                  // the first note's baseline
};

// A row of the legend: a fill swatch, a flip room's dashed square, an item
// mark or a triggered sector's hatch.
struct TLegendEntry {
    enum class TShape { Fill, Dashed, Mark, Hatch };
    TShape Shape = TShape::Fill;
    const char* Colour = nullptr;
    TItemKind Kind = TItemKind::Other;
    std::string Label{};
    double X = 0, Y = 0;  // the swatch's top left corner, pixels; the text follows it
};

struct TMapLayout {
    double Width = 0, Height = 0;
    double Scale = 1;        // pixels per sector, the same in every panel
    int HatchLines = 1;      // a triggered sector's hatch: lines per side of the sector (MapHatchLines)
    std::string Title{};     // the picture's title
    std::string Heading{};   // the line at its top
    std::vector<TMapPanel> Panels{};
    std::vector<TLegendEntry> Legend{};
    std::vector<std::string> Notes{};  // about the whole picture, under the legend
    double NotesY = 0;                  // the first one's baseline
};

// Room fills and the note's spacing, shared by both renderers.
constexpr double MapFillOpacity = 0.55;
constexpr double MapHeadingY = 26, MapHeadingSize = 16, MapTitleSize = 13, MapNoteSize = 12, MapLegendSize = 13;
constexpr double MapTickSize = 10, MapLabelSize = 11, MapNoteLine = 16, MapMargin = 16;
constexpr double MapLongestSide = 8192;  // pixels, the picture's largest side: never passed
constexpr double MapLeastScale = 4;      // pixels per sector, unless the longest side forbids

// A triggered sector is hatched with thin lines parallel to its diagonal
// from the bottom left to the top right corner: the diagonal alone below 15
// pixels a sector, else two lines per side (three lines).
constexpr const char* MapTriggerColour = "#b0003a";
int MapHatchLines(double scale);

struct TMapLine {
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};
// The hatch of the square at (x, y), size units a side (y grows downwards):
// 2 * lines - 1 lines, the middle one its diagonal.
std::vector<TMapLine> HatchOf(double x, double y, double size, int lines);

// The layout of the map of rooms from..to (inside the level; to < from: no
// rooms), the storey numbers those of the whole level; storey > 0 draws only
// that storey. items: mark the items of the drawn rooms. triggers: the
// triggers of the level's rooms (those of rooms not drawn are left out), as
// far as their floor data could be read.
TMapLayout LayOutMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                     int32_t storey, const TLevelTriggers& triggers);

} // namespace qm
