// What the room edits act on, room by room: the floor step sounds that
// "/Step_sound" sets and the texture ids that "/Textures" matches.
#pragma once

#include <cstdint>
#include <vector>

#include "trlevel.h"

namespace qm {

// One value a room uses and how many of its sectors or faces use it.
struct TUse {
    int32_t Value = 0;
    size_t Count = 0;
};

// The step sound values (bits 0-3 of each sector's word 1) of a room, in value
// order, each with its number of sectors.
std::vector<TUse> RoomSounds(const RoomRecord& r);
// The texture ids of a room's faces as "/Textures" matches them (a rectangle's
// 12-bit index, a triangle's whole word), in id order, each with its number of
// faces.
std::vector<TUse> RoomTextures(const RoomRecord& r);

} // namespace qm
