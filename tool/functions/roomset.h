// The rooms an edit acts on: the rooms of its range and, when asked, the
// alternate (flip) room of each of them, so that both states of a flipping
// room are edited alike.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "trlevel.h"

namespace qm {

// Rooms from..to (inside the level) and, with alternates, the alternate room of
// each of them when it names another room of the level, and each room whose
// alternate room is one of them; each room once, in increasing order.
std::vector<int32_t> RoomSet(const Ttrlevel& L, int32_t from, int32_t to, bool alternates);

// The set as runs of consecutive rooms (first, last), in increasing order.
std::vector<std::pair<int32_t, int32_t>> RoomSpans(const std::vector<int32_t>& rooms);

} // namespace qm
