#include "triggers.h"

#include <algorithm>
#include <map>

#include "items.h"
#include "rooms.h"

namespace qm {

namespace {

// Reads every sector of a room; sectors sharing one floor data index are each
// listed, as each is a place the trigger fires.
void AddRoom(const Ttrlevel& L, int32_t room, TLevelTriggers& out) {
    const RoomRecord& r = L.Rooms[size_t(room)];
    const TRoomFacts f = RoomFacts(L, size_t(room));
    TSectorFloor floor;
    for (size_t at = 0; at < r.Sectors.size(); ++at) {
        const uint16_t index = FloorIndexOf(r.Sectors[at]);
        if (index == 0 || r.SectorCountZ == 0) continue;
        const uint16_t column = uint16_t(at / r.SectorCountZ), row = uint16_t(at % r.SectorCountZ);
        const TSectorPlace place{.Sector = {room, column, row},
                                 .X = int32_t(int64_t(f.X) + int64_t(column) * SectorUnits),
                                 .Z = int32_t(int64_t(f.Z) + int64_t(row) * SectorUnits)};
        ReadSectorFloor(L, index, floor);
        for (TFloorEntry& e : floor.Entries)
            if (e.Trigger) out.Triggers.push_back({place, std::move(*e.Trigger)});
        if (!floor.Damage.empty()) out.Damage.push_back({place, std::move(floor.Damage)});
    }
}

} // namespace

TLevelTriggers LevelTriggers(const Ttrlevel& L, int32_t from, int32_t to) {
    TLevelTriggers t;
    for (int32_t room = from; room <= to; ++room) AddRoom(L, room, t);
    return t;
}

TLevelTriggers LevelTriggers(const Ttrlevel& L) { return LevelTriggers(L, 0, int32_t(L.RoomCount) - 1); }

bool NamesItem(int32_t version, const TTriggerAction& a, int32_t item) {
    return a.Param == item && ActionInfoOf(version, a.Action).NamesItem;
}

std::vector<std::vector<TSectorRef>> ItemTriggers(int32_t version, const TLevelTriggers& t, int32_t itemCount) {
    std::vector<std::vector<TSectorRef>> named(size_t(std::max(itemCount, 0)));
    for (const TTriggeredSector& s : t.Triggers)
        for (const TTriggerAction& a : s.Trigger.Actions) {
            if (!ActionInfoOf(version, a.Action).NamesItem || a.Param >= named.size()) continue;
            std::vector<TSectorRef>& list = named[a.Param];
            if (list.empty() || !(list.back() == s.Place.Sector)) list.push_back(s.Place.Sector);
        }
    return named;
}

TTriggerTable TriggerTable(const Ttrlevel& L, int32_t from, int32_t to) {
    TTriggerTable table;
    table.Version = L.LevelVersion;
    for (int32_t i = 0; i < L.ItemCount; ++i) table.ItemTypes.push_back(ReadItem(L, i).Type);
    std::map<uint8_t, size_t> types;
    for (int32_t room = from; room <= to; ++room) {
        TLevelTriggers t;
        AddRoom(L, room, t);
        for (const TTriggeredSector& s : t.Triggers) ++types[s.Trigger.Type];
        table.Rooms.push_back({room, std::move(t.Triggers), std::move(t.Damage)});
    }
    for (const auto& [type, count] : types) table.Types.push_back({type, count});
    // The items no trigger of the whole level names, whatever the range.
    const std::vector<std::vector<TSectorRef>> named = ItemTriggers(L.LevelVersion, LevelTriggers(L), L.ItemCount);
    for (size_t i = 0; i < named.size(); ++i)
        if (named[i].empty()) table.Untriggered.push_back(int32_t(i));
    return table;
}

std::string TriggerTypeLabel(int32_t version, uint8_t type) {
    const char* name = TriggerTypeName(version, type);
    return name ? std::string(name) : std::string("Type ").append(std::to_string(type));
}

} // namespace qm
