// The two forms of the item functions' results: the text lines and the JSON.
#pragma once

#include "console.h"
#include "items.h"
#include "jsonout.h"

namespace qm {

// "/ShowEntities": heading, empty line, the table (aligned columns), the
// count per type.
void WriteEntityTable(const TEntityTable& table, TConsole& out);
// Adds "entities": [ITEM, ...] and "types": [{"type", "name", "count"}, ...]
// to a level's entry.
void AddEntityTableJson(const TEntityTable& table, TJson& entry);

// "/ShowTypes": heading, empty line, the table of ids, names and models (or
// the line that no name holds the part), the count.
void WriteTypeList(const TTypeList& list, TConsole& out);
// Adds "game" and "objectTypes": [{"type", "name", "model"}, ...] to a level's entry.
void AddTypeListJson(const TTypeList& list, TJson& entry);

// An item edit: the item's fields before and after, the notes, then with
// dryRun the line that says nothing was saved.
void WriteItemChange(const TItemChange& change, bool dryRun, TConsole& out);
// {"items": [{"index", "before": ITEM or null, "after": ITEM}], "notes": [...]}
// and, with dryRun, "saved": false.
TJson ItemChangeJson(const TItemChange& change, bool dryRun);

} // namespace qm
