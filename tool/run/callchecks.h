// The checks of a level's run before its level is loaded (the existence of
// the level, each function's row and arguments, the options against the
// chain, the pictures no earlier function can write) and the check of the
// --output name against the loaded level's kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "functable.h"
#include "options.h"
#include "pngread.h"
#include "result.h"
#include "trlevel.h"

namespace qm {

// A step's failure, or nothing to go on.
using TStep = std::optional<TFailure>;

// The functions of the level's run, and what they share: whether any edits,
// and so loads for a save, locks the level and saves once at the end.
struct TCalls {
    std::vector<TArgs> Args{};               // one per function, as calls.h splits them
    std::vector<const TFunctionRow*> Rows{};  // the row of each
    bool Saves = false;                      // one of them edits the level
    // A row with PictureAt: its picture when read with the argument checks.
    std::vector<const TPagePicture*> Pictures{};
    const std::string& Level() const { return Args.front().At(1); }
};

// Whether any of the count arguments from first is given.
inline bool AnyPresent(const TArgs& args, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (args.Present(first + i)) return true;
    return false;
}

// "X not found.", and the line under it that says what was probably meant.
TStep CheckExists(const std::string& name);

// The row of each function. The first word after the level must name one;
// every later call starts with a word that does.
TStep FindRows(TCalls& calls);

// Every function's arguments (and the pictures no earlier function can
// write), then the options against what the run does; each function's value
// converted into values (a bad number ends the run here).
TStep CheckCalls(TCalls& calls, const TOptions& options, std::vector<int32_t>& values);

// An edit's --output name that would make the level read back as another kind.
TStep CheckOutputKind(const Ttrlevel& level, const std::string& output);

} // namespace qm
