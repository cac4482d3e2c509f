// One level's part of a run (levelrun.cpp), and what the stages of a run share.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console.h"
#include "options.h"
#include "result.h"
#include "trlevel.h"

namespace qm {

// Where one level's run tells how it is getting on while it works; its result
// is returned, not written.
struct TLevelIo {
    TConsole& Progress;                // progress lines ("Loading Level..."): shown as they happen, or dropped
    std::function<void()> OnLockWait;  // the edit lock has been waited for a while: say so now
    bool* Saved = nullptr;             // set once the edited level has been written
    // Each function's result as soon as the function has run, before the
    // level is saved: to be shown in its place among the progress lines.
    std::function<void(const TResult&)> OnResult;
};

// One level: levelArgs is the level's name, then its functions, each switch
// followed by its arguments. The existence test, every function's checks, one
// load, the functions in order, and one save when any of them edits. Gives
// one result per function, or a single failure when the level was not done
// (then nothing was saved): no exception leaves it.
std::vector<TStepResult> RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options, const TLevelIo& io,
                 Ttrlevel& level);

// The five lines every run but --version and --json starts with.
void Banner(TConsole& out);
// The lines of the full help: the functions, then the options.
std::vector<std::string> HelpLines();
// The full help, after the banner.
void Help(TConsole& out);
// A function switch of the tool, in any letter case ("/Info").
bool IsFunctionSwitch(const std::string& text);
// "/h" in any case, and "/?".
bool IsHelpSwitch(const std::string& arg);

} // namespace qm
