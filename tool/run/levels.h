// The levels of a run, one after another or side by side (--jobs).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "options.h"
#include "result.h"

namespace qm {

// One level of the run: its arguments, and what it gave.
struct TLevelRun {
    std::vector<std::string> Args;      // the level's name, then each function switch and its arguments
    bool Header = false;                // a line names the level first (a run of several levels)
    bool Saved = false;                 // the edited level was written
    std::vector<TStepResult> Results;   // one per function, or one failure: set once RunLevels returns
    bool Writes = false;                // a function of the level writes a file (the level, a map, a page)
};

// Runs every level and keeps its result. In text form each level's lines go to
// out (already quiet when the run is) in the order of the levels; with --json
// nothing is written. keepLevel: the last level object is never released.
// Once out's reader has gone, a run that writes no file (a listing) takes no
// further level: nobody would see what it shows. A run that writes goes on.
void RunLevels(std::vector<TLevelRun>& runs, const TOptions& options, bool keepLevel, TConsole& out);

// Test seam: when set, called before each worker thread of --jobs is started;
// true makes that start fail as the system's would (std::system_error).
extern std::function<bool()> GThreadStartHook;

} // namespace qm
