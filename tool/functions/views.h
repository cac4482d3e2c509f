// What the room edits act on, room by room: the floor step sounds that
// "/Step_sound" sets and the texture ids that "/Textures" matches.
#pragma once

#include <cstdint>
#include <vector>

#include "console.h"
#include "jsonout.h"
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

// "/ShowSounds", "/ShowTextures": heading, empty line, one line per room
// from..to (inside the level; to < from lists none) of "value x count" pairs,
// "Done.".
void PrintRoomSounds(const Ttrlevel& L, int32_t from, int32_t to, TConsole& out);
void PrintRoomTextures(const Ttrlevel& L, int32_t from, int32_t to, TConsole& out);

// The same as JSON: [{"room": i, "sounds": [{"value": v, "sectors": n}, ...]}, ...]
// ("material": its name between the two) and [{"room": i, "textures": [{"id": t, "faces": n}, ...]}, ...].
TJson RoomSoundsJson(const Ttrlevel& L, int32_t from, int32_t to);
TJson RoomTexturesJson(const Ttrlevel& L, int32_t from, int32_t to);

} // namespace qm
