// The storeys of a level: layers of rooms such that no two rooms of one
// layer lie over each other, so that a drawing seen from above hides nothing.
//
// A room's floor sectors are its sectors that are neither walls (floor and
// ceiling bytes both -127) nor on its outer ring (walls and the doorways it
// shares with the rooms beside it). Two rooms lie over each other when a
// floor sector of each covers the same world cell (x and z in sectors). A
// room and its flip rooms (the alternates, linked either way) are one place
// in two states: they never count against each other and always share a
// storey.
//
// The rooms are taken lowest floor first (y grows downwards: the largest
// floor y, then the largest ceiling y, then the room number), each with its
// flip rooms, and each put into the first storey in which it lies over no
// room; a new storey is opened when there is none. Storeys are numbered from
// 1 in the order they are opened, so storey 1 holds the lowest room. A
// storey's height range may overlap another's: it is a layer of the drawing,
// not a slice of height.
#pragma once

#include <cstdint>
#include <vector>

#include "trlevel.h"

namespace qm {

// A world cell: x and z in sectors.
struct TCell {
    int32_t X = 0, Z = 0;
};

// A room as the storey rule sees it.
struct TStoreyRoom {
    int32_t Floor = 0, Ceiling = 0;  // y; a room stored the other way round is taken with the two swapped
    std::vector<TCell> Cells{};      // the cells its floor sectors cover
    int32_t Flip = -1;               // the room it names as its alternate; -1 (or out of range) for none
};

struct TStorey {
    int32_t Low = 0;   // the largest floor y of its rooms
    int32_t High = 0;  // the smallest ceiling y of its rooms
    std::vector<int32_t> Rooms{};  // in room order
};

struct TStoreys {
    std::vector<TStorey> List{};          // storey n is List[n - 1]
    std::vector<int32_t> StoreyOf{};      // per room: its storey number (1 ..)
};

// The storeys of these rooms (room i is rooms[i]). Time near-linear in the
// rooms' cells while storeys are few, and so on a tower of thousands of rooms
// above one place too.
TStoreys AssignStoreys(const std::vector<TStoreyRoom>& rooms);

// The cells covered by the floor sectors of room i of the level.
std::vector<TCell> FloorCells(const Ttrlevel& L, size_t i);

// The storeys of all the level's rooms.
TStoreys LevelStoreys(const Ttrlevel& L);

} // namespace qm
