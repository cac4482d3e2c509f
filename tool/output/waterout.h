// The text and JSON forms of "/ShowWater" and of what "/Flood" and "/Drain" add
// to the result of an edit.
#pragma once

#include "console.h"
#include "jsonout.h"
#include "water.h"

namespace qm {

// "/ShowWater": heading, empty line, column headings, one line per room.
void WriteWaterView(const TWaterView& view, TConsole& out);
// [{"room", "water", "above", "below", "surface", "vertices"?, "waterScheme"?, "reverb"?}, ...]
TJson WaterViewJson(const TWaterView& view);

// The notes, one line each.
void WriteWaterNotes(const TWaterEdit& edit, TConsole& out);
// A dry run: one line per changed room, then the line of totals that says
// nothing was saved.
void WriteWaterChanges(const TWaterEdit& edit, TConsole& out);
// "notes": [...] and "changes": {"rooms", "totals", "saved"}.
void AddWaterEdit(const TWaterEdit& edit, bool saved, TJson& entry);

} // namespace qm
