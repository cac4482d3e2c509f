// The level's triggers: every sector's floor data read once, the triggers it
// holds and the damage found, the table of /ShowTriggers, and which sectors'
// triggers name each item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "floordata.h"
#include "trlevel.h"

namespace qm {

// A sector of a room: its column (along x) and row (along z) in the room's grid.
struct TSectorRef {
    int32_t Room = 0;
    uint16_t Column = 0, Row = 0;
    bool operator==(const TSectorRef&) const = default;
};

// A sector and the world x/z of its corner.
struct TSectorPlace {
    TSectorRef Sector;
    int32_t X = 0, Z = 0;
};

struct TTriggeredSector {
    TSectorPlace Place;
    TTrigger Trigger;
};

struct TFloorDamage {
    TSectorPlace Place;
    std::string Message;
};

// The triggers and the damage of rooms from..to (inside the level), in room,
// column, row order.
struct TLevelTriggers {
    std::vector<TTriggeredSector> Triggers;
    std::vector<TFloorDamage> Damage;
};
TLevelTriggers LevelTriggers(const Ttrlevel& L, int32_t from, int32_t to);
TLevelTriggers LevelTriggers(const Ttrlevel& L);  // every room

// True when the action names item `item` (an object or look-at action).
bool NamesItem(int32_t version, const TTriggerAction& a, int32_t item);

// For each item index 0..itemCount-1, the sectors whose triggers name it
// (each sector once).
std::vector<std::vector<TSectorRef>> ItemTriggers(int32_t version, const TLevelTriggers& t, int32_t itemCount);

// "/ShowTriggers [From [To]]": one block per room of the range, the count of
// triggers per type and the items no trigger of the level names.
struct TTriggerTable {
    struct TRoomBlock {
        int32_t Room = 0;
        std::vector<TTriggeredSector> Triggers;
        std::vector<TFloorDamage> Damage;
    };
    struct TTypeCount {
        uint8_t Type = 0;
        size_t Count = 0;
    };
    int32_t Version = 0;
    std::vector<TRoomBlock> Rooms;
    std::vector<uint16_t> ItemTypes;  // every item's object type, by index (for the names)
    std::vector<TTypeCount> Types;    // in the order of the type numbers
    std::vector<int32_t> Untriggered;
};
TTriggerTable TriggerTable(const Ttrlevel& L, int32_t from, int32_t to);

// "Trigger", or "Type 40" for a type the game does not name.
std::string TriggerTypeLabel(int32_t version, uint8_t type);

} // namespace qm
