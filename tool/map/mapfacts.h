// The facts the map page shows about its rooms, made from the same values as
// the room table (/ShowRooms).
#pragma once

#include <cstdint>
#include <string>

#include "jsonfwd.h"
#include "trlevel.h"

namespace qm {

// The map's title: "lvl.tr4 (TR4), rooms 0 to 15", or "..., no rooms".
std::string MapTitle(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to);

// {"title": ..., "items": bool, "rooms": [{...}, ...]} for rooms from..to
// (inside the level; to < from gives none), in room order. Each room has the
// members of its "/ShowRooms" JSON row, "flagNames" (the named flags set, as the level's
// kind reads them), "flipOf" when another room names it as its flip room, and
// with items its items: [{"index", "type", "name"}, ...].
nlohmann::ordered_json MapFacts(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to,
                                bool items);

} // namespace qm
