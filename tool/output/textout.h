// The text form of a result: the lines each function shows after its progress
// lines, in the tool's own words.
#pragma once

#include "console.h"
#include "result.h"

namespace qm {

// The lines of any result, closed by "Done." as a level's only result is.
void WriteText(const TResult& result, TConsole& out);

// A level's results in their places: each function's result once it has run,
// before the level is saved (its lines without "Done."), and after the last,
// the lines that close the level: the failure that ended it, or "Done." once
// when a function showed a listing or wrote a file.
void WriteStep(const TResult& result, TConsole& out);
void WriteEnd(const std::vector<TStepResult>& results, TConsole& out);

// The parts of it, one per kind of result.
void WriteReport(const TReport& r, TConsole& out);
void WriteIdList(const TIdList& list, TConsole& out);
void WriteAnimatedTextures(const TAnimatedTextures& list, TConsole& out);
void WriteRoomTable(const TRoomTable& table, TConsole& out);
void WriteRoomUses(const TRoomUses& uses, TConsole& out);
// What was written, or in a dry run what would have been.
void WriteWritten(const TWritten& written, TConsole& out);
// A refusal: its line and the hint under it. A report: the message with its
// full stop, the place and the hint, each on a line when not empty.
void WriteFailure(const TFailure& failure, TConsole& out);

// One line per changed room, then the line of totals that says nothing was saved.
void WriteRoomChanges(const std::vector<TRoomChange>& changes, TConsole& out);

} // namespace qm
