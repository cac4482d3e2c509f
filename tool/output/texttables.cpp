// The text form of the room table and of the two per-room views.
#include <cstdio>
#include <iterator>
#include <string>

#include "materials.h"
#include "textout.h"

namespace qm {

namespace {

std::string Pad(std::string text, int width, bool left) {
    if (int(text.size()) < width) text.insert(left ? text.size() : 0, size_t(width) - text.size(), ' ');
    return text;
}

// The table's columns: heading and width. Widths hold real levels' values; a
// longer value widens its line.
struct TColumn {
    const char* Name;
    int Width;
};
constexpr TColumn Columns[] = {
    {.Name = "Room", .Width = 5},    {.Name = "X", .Width = 6},       {.Name = "Z", .Width = 6},
    {.Name = "SizeX", .Width = 5},   {.Name = "SizeZ", .Width = 5},   {.Name = "Floor", .Width = 7},
    {.Name = "Ceiling", .Width = 7}, {.Name = "Flags", .Width = 5},   {.Name = "Set", .Width = 3},
    {.Name = "Light", .Width = 5},   {.Name = "Alt", .Width = 5},     {.Name = "Verts", .Width = 5},
    {.Name = "Rects", .Width = 5},   {.Name = "Tris", .Width = 5},    {.Name = "Sprites", .Width = 7},
    {.Name = "Portals", .Width = 7}, {.Name = "Lights", .Width = 6},  {.Name = "Statics", .Width = 7},
    {.Name = "Storey", .Width = 6},
};
constexpr size_t SetColumn = 8;  // the one text column, left-aligned
constexpr size_t LightColumn = 9;
constexpr int ColourWidth = 7;   // "#RRGGBB", the light of kinds with a room colour

int WidthOf(size_t column, bool colour) {
    return column == LightColumn && colour ? ColourWidth : Columns[column].Width;
}

std::string TableLine(const std::string (&cells)[std::size(Columns)], bool colour) {
    std::string line;
    for (size_t c = 0; c < std::size(Columns); ++c) {
        if (c) line += ' ';
        line += Pad(cells[c], WidthOf(c, colour), c == SetColumn);
    }
    return line;
}

// "Room   7:  5 x 12  13 x 4": the room, then each value with its count; with
// names (the step sounds' materials) "Room   7:  5 (Water) x 12  13 (Old metal) x 4".
std::string UsesLine(int32_t room, const std::vector<TUse>& uses, bool named) {
    char head[32];
    std::snprintf(head, sizeof head, "Room %3d:", int(room));
    std::string line = head;
    for (const TUse& use : uses) {
        line += "  " + std::to_string(use.Value);
        if (named) line.append(" (").append(MaterialName(use.Value)).append(")");
        line += " x " + std::to_string(use.Count);
    }
    return line;
}

} // namespace

void WriteRoomTable(const TRoomTable& table, TConsole& out) {
    out.Line("Showing ROOMS of this level:");
    out.Line("");
    std::string headings[std::size(Columns)];
    for (size_t c = 0; c < std::size(Columns); ++c) headings[c] = Columns[c].Name;
    out.Line(TableLine(headings, table.Colour));
    for (const TRoomTable::TRow& row : table.Rows) {
        const TRoomFacts& f = row.Facts;
        char flags[8];
        std::snprintf(flags, sizeof flags, "%04X", unsigned(f.Flags));
        const std::string cells[] = {
            std::to_string(row.Room),  std::to_string(SectorOf(f.X)), std::to_string(SectorOf(f.Z)),
            std::to_string(f.SizeX),   std::to_string(f.SizeZ),       std::to_string(f.Floor),
            std::to_string(f.Ceiling), flags,                         FlagLetters(f),
            f.HasColour ? ColourText(f.Colour) : std::to_string(f.Light), std::to_string(f.Alternate),
            std::to_string(f.Vertices), std::to_string(f.Rectangles), std::to_string(f.Triangles),
            std::to_string(f.Sprites), std::to_string(f.Portals),     std::to_string(f.Lights),
            std::to_string(f.Statics), std::to_string(row.Storey),
        };
        static_assert(std::size(cells) == std::size(Columns));
        out.Line(TableLine(cells, table.Colour));
    }
}

void WriteRoomUses(const TRoomUses& uses, TConsole& out) {
    out.Line(uses.Kind == TRoomUses::TKind::Sounds ? "Showing FLOOR SOUNDS of this level:"
                                                   : "Showing ROOM TEXTURES Ids of this level:");
    out.Line("");
    const bool named = uses.Kind == TRoomUses::TKind::Sounds;
    for (const TRoomUses::TRow& row : uses.Rows) out.Line(UsesLine(row.Room, row.Uses, named));
}

} // namespace qm
