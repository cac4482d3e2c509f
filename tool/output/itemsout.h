// The two forms of the item functions' results: the text lines and the JSON.
#pragma once

#include "console.h"
#include "items.h"
#include "jsonout.h"

namespace qm {

// "/ShowEntities": heading, empty line, the table (aligned columns), the
// count per type, "Done.".
void PrintEntityTable(const TEntityTable& table, TConsole& out);
// {"entities": [ITEM, ...], "types": [{"type", "name", "count"}, ...]}
TJson EntityTableJson(const TEntityTable& table);

// An item edit: the item's fields before and after, the notes, and with
// dryRun the line that says nothing was saved.
void PrintItemChange(const TItemChange& change, bool dryRun, TConsole& out);
// {"items": [{"index", "before": ITEM or null, "after": ITEM}], "notes": [...]}
// and, with dryRun, "saved": false.
TJson ItemChangeJson(const TItemChange& change, bool dryRun);

} // namespace qm
