// The floor data of a level: the entries a sector's floor data index starts,
// read word by word with every read checked against the array, and the names
// of the functions, trigger types and trigger actions of each game.
//
// A sector (8 bytes) holds its floor data index in bytes 0-1; index 0 means
// the sector has none. Each entry is a setup word (bits 0-4 the function,
// bits 8-14 its sub-function, bit 15 set on the sector's last entry) and the
// words the function takes. A trigger's setup word is followed by the trigger
// word (bits 0-7 timer, bit 8 one-shot, bits 9-13 activation mask) and its
// actions: each a word of the parameter (bits 0-9) and the action (bits
// 10-14), bit 15 set on the last; a camera or flyby action has one more word
// (bits 0-7 time, bit 8 once, bits 9-13 move time) that carries that bit in
// its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trlevel.h"

namespace qm {

// Floor data function numbers the tool computes with.
enum : uint8_t {
    FdPortal = 1,
    FdFloorSlope = 2,
    FdCeilingSlope = 3,
    FdTrigger = 4,
};

// Trigger action numbers that name an item by its index.
enum : uint8_t {
    ActObject = 0,
    ActCamera = 1,
    ActLookAt = 6,
    ActSecret = 10,
};

struct TTriggerAction {
    uint8_t Action = 0;
    uint16_t Param = 0;        // bits 0-9 of the action word
    bool HasExtra = false;     // a camera or flyby action: its second word
    uint16_t Extra = 0;
    uint32_t At = 0;           // the action word's index in the floor data
};

struct TTrigger {
    uint8_t Type = 0;          // the setup word's sub-function
    uint8_t Timer = 0;
    bool Once = false;
    uint8_t Mask = 0;          // five bits
    std::vector<TTriggerAction> Actions;
};

struct TFloorEntry {
    uint8_t Function = 0;
    uint8_t Sub = 0;
    uint16_t Setup = 0;        // the whole setup word (the triangles keep heights in it)
    uint16_t Data = 0;         // the one data word of a portal, slope or triangle
    uint32_t At = 0;           // the setup word's index
    std::optional<TTrigger> Trigger;
};

// The entries of one sector, as far as they could be read; Damage says why
// the reading stopped before an end bit ("" when it did not).
struct TSectorFloor {
    std::vector<TFloorEntry> Entries;
    std::string Damage;
};

// The entries from floor data index `index` (0: none) of a level of its kind.
TSectorFloor ReadSectorFloor(const Ttrlevel& L, uint16_t index);
// The same into `into`, whose arrays are reused: a reading of many sectors
// allocates only for what they hold beyond the sectors before them.
void ReadSectorFloor(const Ttrlevel& L, uint16_t index, TSectorFloor& into);

// A sector's floor data index.
inline uint16_t FloorIndexOf(const TRec<8>& sector) { return GetU16(sector.data()); }

// Names by game: nullptr for a number the game does not have.
const char* FloorFunctionName(int32_t version, uint8_t function);
const char* TriggerTypeName(int32_t version, uint8_t type);

// What an action's parameter means: its name ("Object", "FlipMap"), the JSON
// key of its parameter ("item", "flipMap"), whether it has the second word
// and whether the parameter is an item index. An action the game does not
// have is named nullptr, with the key "value".
struct TActionInfo {
    const char* Name = nullptr;
    const char* Key = "value";
    bool Extra = false;
    bool NamesItem = false;
};
TActionInfo ActionInfoOf(int32_t version, uint8_t action);

} // namespace qm

namespace qm {

// The floor's y under a point of a sector (dx, dz: the point's offset from the
// sector's corner, 0-1023) as the games compute it: the floor byte × 256,
// then the sector's floor slope (bits 0-7 of its word the slope along x,
// bits 8-15 along z, in quarter units per unit) or, from TR3 on, its floor
// triangle (the half that holds the point: its height step in the setup word,
// bits 5-9 or 10-14, and the four corner heights of its data word).
int32_t FloorUnder(const Ttrlevel& L, const TRec<8>& sector, int32_t dx, int32_t dz);

} // namespace qm
