// The level's items: each record decoded by its meaning, the entity table
// (/ShowEntities) and the item edits (/MoveItem, /SetItem, /ItemFlags,
// /AddItem, /RemoveItem) as values, from the arguments' checks to the change
// they make.
//
// The triggers of the floor data name items by their index: an edit keeps
// every index, /AddItem appends, and /RemoveItem renumbers every trigger
// action that names an item after the one removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "triggers.h"
#include "trlevel.h"

namespace qm {

// Which fields a kind's item record has after the first 20 bytes (type u16,
// room i16, x, y, z i32, angle u16, intensity i16).
enum class TItemForm {
    Tr1,  // 22 bytes: flags
    Tr2,  // 24 bytes: a second intensity, flags (TR2, TR3)
    Tr4,  // 24 bytes: the OCB (object code bits), flags (TR4 family, TR5)
};
TItemForm ItemFormOf(const Ttrlevel& L);

// The flags word: bit 8 invisible (the item is not there until triggered),
// bits 9-13 the five activation bits, bit 15 clear body (a dead enemy's body
// is removed). The other bits are kept as they are.
constexpr uint16_t InvisibleBit = 0x0100;
constexpr uint16_t ClearBodyBit = 0x8000;
constexpr uint16_t ActivationBits = 0x3E00;
constexpr int ActivationShift = 9;

// One item as stored; Second is the second intensity (TR2, TR3) or the OCB
// (TR4 family, TR5), and 0 in TR1.
struct TItem {
    int32_t Index = 0;
    uint16_t Type = 0;
    int16_t Room = 0;
    int32_t X = 0, Y = 0, Z = 0;
    uint16_t Angle = 0;  // 65536 steps to the full turn
    int16_t Intensity = 0;
    int16_t Second = 0;
    uint16_t Flags = 0;

    bool Invisible() const { return (Flags & InvisibleBit) != 0; }
    bool ClearBody() const { return (Flags & ClearBodyBit) != 0; }
    int Activation() const { return (Flags & ActivationBits) >> ActivationShift; }
    double Degrees() const { return Angle * 360.0 / 65536.0; }
    bool operator==(const TItem&) const = default;
};

// Item index (0 <= index < ItemCount), read from the record of the level's kind.
TItem ReadItem(const Ttrlevel& L, int32_t index);
// Writes the item over item.Index (0 <= Index < ItemCount), in both record
// forms the model keeps; Second is not written to the 22-byte form.
void WriteItem(Ttrlevel& L, const TItem& item);

// "/ShowEntities [From [To]]": the items from..to and how many of each type
// they hold, most frequent first (then by type).
struct TTypeCount {
    uint16_t Type = 0;
    size_t Count = 0;
};
struct TEntityTable {
    int32_t Version = 0;
    TItemForm Form = TItemForm::Tr1;
    std::vector<TItem> Items;
    std::vector<TTypeCount> Types;
    std::vector<std::vector<TSectorRef>> TriggeredBy;  // per row of Items: the sectors whose triggers name it
};
// The refusal of the range (arguments 3 and 4, item indices), or "".
std::string EntityRangeRefusal(const Ttrlevel& L, const TArgs& args);
TEntityTable EntityTable(const Ttrlevel& L, const TArgs& args);

// "/ShowTypes [PART]": the object types of the level's game by id, those
// whose name holds PART (any letter case, blanks as underscores) when it is
// given, each with whether the level holds a model or sprite of it.
struct TTypeList {
    struct TRow {
        int32_t Type = 0;
        std::string Name;
        bool Model = false;
    };
    int32_t Version = 0;
    std::string Part;  // "" for every named type
    std::vector<TRow> Rows;
};
TTypeList TypeListOf(const Ttrlevel& L, const std::string& part);

// True when the level's moveables or sprite sequences hold the object type.
bool HasModel(const Ttrlevel& L, int32_t type);

// What an item edit did: the item before (none for an added item) and after,
// and the notes that do not stop it.
struct TItemChange {
    int32_t Version = 0;
    TItemForm Form = TItemForm::Tr1;
    std::optional<TItem> Before;
    TItem After;
    std::vector<std::string> Notes;
    // /RemoveItem: Before is the item removed (After the same), and the number
    // of trigger action words renumbered.
    bool Removed = false;
    size_t Renumbered = 0;
};

// The four edits. Each has a check of its arguments before loading (nullptr
// or the one-line refusal), a check against the loaded level ("" or the
// refusal) and the edit itself, which the run calls only after both checks
// passed. A number argument that does not convert is refused by the first
// check.
//   /MoveItem N ROOM X Y Z [ANGLE]
//   /SetItem N TYPE
//   /ItemFlags N [invisible=0|1] [clearbody=0|1] [activation=0-31] [ocb=N]
//   /AddItem TYPE ROOM X Y Z [ANGLE]
// ANGLE is in degrees (decimals allowed); TYPE a number or a name of the
// game's table (itemnames.h).
const char* MoveItemArgsRefusal(const TArgs& args);
std::string MoveItemRefusal(const Ttrlevel& L, const TArgs& args);
TItemChange MoveItem(Ttrlevel& L, const TArgs& args);

const char* SetItemArgsRefusal(const TArgs& args);
std::string SetItemRefusal(const Ttrlevel& L, const TArgs& args);
TItemChange SetItem(Ttrlevel& L, const TArgs& args);

const char* ItemFlagsArgsRefusal(const TArgs& args);
std::string ItemFlagsRefusal(const Ttrlevel& L, const TArgs& args);
TItemChange SetItemFlags(Ttrlevel& L, const TArgs& args);

const char* AddItemArgsRefusal(const TArgs& args);
std::string AddItemRefusal(const Ttrlevel& L, const TArgs& args);
TItemChange AddItem(Ttrlevel& L, const TArgs& args);

// /RemoveItem N: refused when a trigger names item N, or when damaged floor
// data leaves triggers that cannot be read (and so not renumbered). The check
// reads the floor data once and keeps for the edit what the edit changes: the
// floor data words of the actions that name a later item.
struct TItemRemoval {
    std::vector<uint32_t> Words;  // each once, in increasing order
};
const char* RemoveItemArgsRefusal(const TArgs& args);
std::string RemoveItemRefusal(const Ttrlevel& L, const TArgs& args, TItemRemoval& removal);
// Removes the item and renumbers the words the check found, on the level as
// the check saw it.
TItemChange RemoveItem(Ttrlevel& L, const TArgs& args, const TItemRemoval& removal);

} // namespace qm
