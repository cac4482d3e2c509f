#include "mapfacts.h"

#include "itemnames.h"
#include "items.h"
#include "jsonout.h"
#include "kinds.h"
#include "roomflags.h"
#include "rooms.h"

namespace qm {

std::string MapTitle(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to) {
    const std::string range = to < from ? "no rooms" : "rooms " + std::to_string(from) + " to " + std::to_string(to);
    return FileNamePart(levelName) + " (" + KindName(L.LevelVersion) + "), " + range;
}

TJson MapFacts(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items) {
    TJson rooms = TJson::object();
    const TRoomTable table = RoomTableOf(L, from, to);
    const TJson rows = RoomTableJson(table);
    for (size_t k = 0; k < table.Rows.size(); ++k) {
        TJson room = rows[k];
        room["flagNames"] = FlagNamesSet(table.Rows[k].Facts.Flags, L);
        if (items) room["items"] = TJson::array();
        rooms[std::to_string(table.Rows[k].Room)] = std::move(room);
    }
    // The first room that names a room as its flip room is its partner, as on the map.
    for (int32_t i = 0; i < int32_t(L.RoomCount); ++i) {
        const int16_t a = L.Rooms[size_t(i)].AlternateRoom;
        if (a < from || a > to) continue;
        TJson& room = rooms[std::to_string(a)];
        if (!room.contains("flipOf")) room["flipOf"] = i;
    }
    if (items)
        for (int32_t i = 0; i < L.ItemCount; ++i) {
            const TItem it = ReadItem(L, i);
            if (it.Room < from || it.Room > to) continue;
            rooms[std::to_string(it.Room)]["items"].push_back(
                {{"index", i}, {"type", it.Type}, {"name", ItemTypeLabel(L.LevelVersion, it.Type)}});
        }
    return TJson{{"title", MapTitle(L, levelName, from, to)}, {"items", items}, {"rooms", std::move(rooms)}};
}

} // namespace qm
