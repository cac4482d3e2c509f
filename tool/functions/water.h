// Water rooms as modders mean them: the water flag of a room, and in TR3 and the
// TR4 family the effects its vertices carry (0x4000 glow: the underwater
// shimmer; 0x2000 movement: the wave of a water surface). The rooms a room meets
// above and below are read from its sectors (byte 4 the room below, byte 6 the
// room above, 255 for none).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trlevel.h"

namespace qm {

constexpr uint16_t VertexMovement = 0x2000;
constexpr uint16_t VertexGlow = 0x4000;
constexpr uint16_t VertexNoWibble = 0x8000;

// One room as "/ShowWater" shows it.
struct TWaterRoom {
    int32_t Room = 0;
    bool Water = false;
    std::vector<int32_t> Above, Below;  // the distinct rooms of the level its sectors link to, increasing
    // A water room with a dry room above it, or a dry room with a water room
    // below it: the two rooms meet at a water surface.
    bool Surface = false;
    bool HasAttributes = false;  // TR2-TR4: the counts of vertices with each effect bit
    size_t Movement = 0, Glow = 0, NoWibble = 0;
    bool HasScheme = false;      // TR3 and later: the water scheme and reverb bytes
    uint8_t Scheme = 0, Reverb = 0;
};

// Rooms from..to (inside the level; to < from gives none).
std::vector<TWaterRoom> WaterRooms(const Ttrlevel& L, int32_t from, int32_t to);

// What "/Flood" or "/Drain" changed in one room: its flags word and how many
// of its vertices' attribute words.
struct TWaterChange {
    int32_t Room = 0;
    uint16_t FlagsBefore = 0, FlagsAfter = 0;
    size_t Vertices = 0;
};

// What "/Flood" or "/Drain" adds to the result of the edit: the changed rooms
// in increasing order (rooms above a drained room too), and one line for each
// room that needs the modder's attention.
struct TWaterEdit {
    std::vector<TWaterChange> Changes;
    std::vector<std::string> Notes;
};

// rooms: inside the level, in increasing order. Flood acts on the dry rooms of
// the set: the water flag, and in TR3 and the TR4 family glow on every vertex.
// Drain acts on the water rooms: it clears the flag, and in TR3 and the TR4
// family movement and glow on every vertex, and movement on the vertices of
// each dry room above that lie on the old surface. Every other bit is kept.
TWaterEdit Flood(Ttrlevel& L, const std::vector<int32_t>& rooms);
TWaterEdit Drain(Ttrlevel& L, const std::vector<int32_t>& rooms);

// What "/ShowWater" gives: one entry per room of the range.
struct TWaterView {
    std::vector<TWaterRoom> Rooms;
};

} // namespace qm
