// The storeys of a level: rooms grouped by height. Two rooms are on one storey
// when their spans from ceiling to floor overlap by at least half of the
// shorter span; a storey is a connected group of that relation, so a tall
// room that meets two others this way joins them into one storey. Storeys are
// numbered from 1, the lowest first (y grows downwards: the largest floor).
#pragma once

#include <cstdint>
#include <vector>

#include "trlevel.h"

namespace qm {

// A room's height span: Ceiling <= Floor (a room stored the other way round
// is taken with the two swapped).
struct TRoomSpan {
    int32_t Ceiling = 0, Floor = 0;
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

// The storeys of rooms with these spans (room i has spans[i]).
TStoreys GroupStoreys(const std::vector<TRoomSpan>& spans);

// The storeys of all the level's rooms.
TStoreys LevelStoreys(const Ttrlevel& L);

} // namespace qm
