// One room as the room table and the map present it: the values as stored in
// the level, with the meanings the room edits give them.
#pragma once

#include <cstdint>
#include <string>

#include "trlevel.h"

namespace qm {

// A sector is 1024 world units square.
constexpr int32_t SectorUnits = 1024;

struct TRoomFacts {
    int32_t X = 0, Z = 0;            // world position of the sector grid's corner
    int32_t Floor = 0, Ceiling = 0;  // lowest and highest y (y grows downwards)
    uint16_t SizeX = 0, SizeZ = 0;   // sectors along x and z
    uint16_t Flags = 0;              // the 16-bit flags word
    bool Water = false, Sky = false, QuickSand = false;
    uint16_t Light = 0;              // the value "/Lara_Light" sets
    bool HasColour = false;          // TR4 family and TR5: the room has a colour
    uint32_t Colour = 0;             // 0xRRGGBB, the value "/Room_Colour" sets
    int16_t Alternate = -1;          // the flip room, -1 for none
    uint32_t Vertices = 0, Rectangles = 0, Triangles = 0, Sprites = 0, Portals = 0, Lights = 0, Statics = 0;
};

// The facts of room i (0 <= i < RoomCount).
TRoomFacts RoomFacts(const Ttrlevel& L, size_t i);

// The colour as "#RRGGBB".
std::string ColourText(uint32_t rgb);
// "W", "S", "Q" for water, sky and quicksand, in that order, or "-".
std::string FlagLetters(const TRoomFacts& r);

// The name the map's title gives the level kind.
const char* KindName(int32_t version);

// Sector (x, z) of a room is a wall: its floor byte is -127. Sectors outside
// the grid, or beyond what the room holds, count as walls.
bool IsWallSector(const RoomRecord& r, uint32_t x, uint32_t z);

// Arithmetic shift: the sector that holds a world coordinate, also below 0.
inline int32_t SectorOf(int32_t world) { return world >= 0 ? world / SectorUnits : -((-(world + 1)) / SectorUnits) - 1; }

} // namespace qm
