// One level's part of a run (levelrun.cpp), and what the stages of a run share.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "lock.h"
#include "options.h"
#include "platform.h"
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
    // When set, the level's save is only prepared, in the place Slot of this
    // batch, and Saved is left alone; the level's edit lock then goes to
    // *KeptLock, to be held until the batch has been committed.
    TStoreBatch* Batch = nullptr;
    size_t Slot = 0;
    std::unique_ptr<TEditLock>* KeptLock = nullptr;
    // Another run holds the level's edit lock: the level is about to wait for
    // it (a level of a batch then leaves its batch, so that the others' saves
    // do not wait with it).
    std::function<void()> OnLockBusy = {};
};

// The failure that an exception stands for, as a level's result shows it.
TFailure FailureOf(const std::exception_ptr& error);

// One level: levelArgs is the level's name, then its functions, each switch
// followed by its arguments. The existence test, every function's argument
// checks, one load, then the functions in order, each checked against the
// level as the functions before it left it, and one save when any of them
// edits. Gives one result per function; when the level was not done, its last
// result is the failure that ended it (after the results of the functions
// that ran before it; a run of one function, or one that failed before any
// function ran, gives the failure alone), and then nothing was saved. A
// failure of the save itself has no function's name. No exception leaves it.
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
