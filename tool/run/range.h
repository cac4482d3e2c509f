// The range of a function's From and To arguments: rooms for the edits and
// views, texture pages for /ExportPages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "args.h"

namespace qm {

// What a range counts: its rooms, or (/ExportPages) the texture pages.
struct TRangeWords {
    const char* One;    // "Room 45 is outside ..."
    const char* Many;   // "... (rooms 0 to 12)."
    const char* None;   // the refusal of a level with none
};
constexpr TRangeWords RoomWords{"Room", "rooms", "This level has no rooms to change."};
constexpr TRangeWords PageWords{"Page", "pages", "This level has no texture pages."};

// Resolves the range from the arguments at fromPos and fromPos + 1 over count
// rooms or pages: From defaults to 0, To to the last one and is cut to it, and
// a To below From becomes From. A range that does not start inside the level
// is refused: the one-line message is returned, "" otherwise. A bad number
// throws EConvertError.
std::string ResolveRange(const TArgs& args, size_t fromPos, int32_t count, const TRangeWords& words, int32_t& from,
                         int32_t& to);

} // namespace qm
