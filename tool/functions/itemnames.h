// The object types of each game: their names by type id, the ids a level of
// the game may use, a broad kind per id for the map, and the engine's item
// limit. TR1 ".TUB" levels use the TR1 table, ".TRG" the TR2 table, ".TRC"
// (either layout) the TR5 table, and TR4 levels built with the NG editor the
// TR4 table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm {

enum class TItemKind { Player, Pickup, Enemy, Other };

// "TR1" .. "TR5": the game whose table a level kind uses.
const char* ItemGameName(int32_t version);

// The number of object type ids of the game: a level may use 0 .. count-1.
int32_t ItemTypeCount(int32_t version);

// The most items a level of the game may hold: the size of the engine's item
// array, which the level's items fill from its start.
int32_t ItemLimit(int32_t version);

// The type's name ("Small_medipack"), or nullptr for an id the table does not
// name (outside the game's range included).
const char* ItemTypeName(int32_t version, int32_t type);

// The name, or the id as a number when the table has none.
std::string ItemTypeLabel(int32_t version, int32_t type);

// The type a name stands for: the table's names in any letter case, with
// blanks and underscores alike ("small medipack", "SMALL_MEDIPACK"). Empty
// for a name the game's table does not have.
std::optional<int32_t> ItemTypeByName(int32_t version, const std::string& name);

// The ids the game's table names, in id order; with a part, those whose name
// holds it (any letter case, blanks and underscores alike: "medi pack").
std::vector<int32_t> NamedTypes(int32_t version, const std::string& part = "");

// Up to four names of the game's table nearest to an unknown name: those a
// few edits away or holding it, nearest first.
std::vector<std::string> NearestTypeNames(int32_t version, const std::string& name);

// The broad kind of a type, for the map's marks.
TItemKind ItemKindOf(int32_t version, int32_t type);

} // namespace qm
