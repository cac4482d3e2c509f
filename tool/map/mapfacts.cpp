#include "mapfacts.h"

#include "itemnames.h"
#include "items.h"
#include "jsonout.h"
#include "jsonvalue.h"
#include "kinds.h"
#include "roomflags.h"
#include "rooms.h"

namespace qm {

std::string MapTitle(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to) {
    const std::string range = to < from ? "no rooms" : "rooms " + std::to_string(from) + " to " + std::to_string(to);
    return FileNamePart(levelName) + " (" + KindName(L.LevelVersion) + "), " + range;
}

TJson MapFacts(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items) {
    const TRoomTable table = RoomTableOf(L, from, to);
    TJson rooms = RoomTableJson(table);
    const auto inRange = [&](int32_t room) { return room >= from && room <= to; };
    // The first room that names a room as its flip room is its partner, as on the map.
    std::vector<int32_t> flipOf(table.Rows.size(), -1);
    for (int32_t i = 0; i < int32_t(L.RoomCount); ++i) {
        const int16_t a = L.Rooms[size_t(i)].AlternateRoom;
        if (inRange(a) && flipOf[size_t(a - from)] < 0) flipOf[size_t(a - from)] = i;
    }
    std::vector<TJson> itemsOf(items ? table.Rows.size() : 0, TJson::array());
    for (int32_t i = 0; items && i < L.ItemCount; ++i) {
        const TItem it = ReadItem(L, i);
        if (inRange(it.Room))
            itemsOf[size_t(it.Room - from)].push_back(
                {{"index", i}, {"type", it.Type}, {"name", ItemTypeLabel(L.LevelVersion, it.Type)}});
    }
    for (size_t k = 0; k < table.Rows.size(); ++k) {
        TJson& room = rooms[k];
        room["flagNames"] = FlagNamesSet(table.Rows[k].Facts.Flags, L);
        if (flipOf[k] >= 0) room["flipOf"] = flipOf[k];
        if (items) room["items"] = std::move(itemsOf[k]);
    }
    return TJson{{"title", MapTitle(L, levelName, from, to)}, {"items", items}, {"rooms", std::move(rooms)}};
}

} // namespace qm
