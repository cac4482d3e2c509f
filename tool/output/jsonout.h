// The machine-readable form of a run (--json): one document for the whole run,
// {"format": 1, "levels": [...]}, made from the same result values as the text.
#pragma once

#include "jsonfwd.h"
#include "result.h"

namespace qm {

// Adds a level's result to its entry of the document, after "level" and
// "status": "error" for a failure, otherwise the function's own members.
void AddJson(const TResult& result, TJson& entry);

// The rows of "/ShowRooms" as its JSON array, one object per room; the map's
// page shows the same facts.
TJson RoomTableJson(const TRoomTable& table);

// {"message": ..., "place": ..., "hint": ...}; the message as the text shows it,
// place and hint only when known.
TJson FailureJson(const TFailure& failure);

// The document as text, indented, LF line ends. Text that is not valid UTF-8
// (a level name, an argument) shows U+FFFD in place of each bad byte, so the
// document is always valid JSON.
std::string DocumentText(const TJson& document);

} // namespace qm
