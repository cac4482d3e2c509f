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
};

// One level: levelArgs is the level's name, then the function switch and its
// arguments, as a run of this level alone gets them. The existence test, the
// function and its save. Every end is a result, a failure included: no
// exception leaves it.
TResult RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options, const TLevelIo& io,
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
