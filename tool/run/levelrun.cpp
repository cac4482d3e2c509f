// One level's part of a run, as short steps from the argument checks to the
// save: each returns the failure that ends the level, or nothing to go on.
//
// A level's functions (a chain) are a true sequence. What needs no level (the
// arguments, the options, the numbers) is checked for every function before
// the level is loaded. Then each function in turn is checked against the
// level as the functions before it have left it (its range, its own checks,
// the item limit), reads what it takes from outside the level (a picture)
// and works; so a chain does and refuses exactly what its functions run one
// by one would. A refusal or failure anywhere ends the chain: what ran before
// it has been shown, and nothing is saved, since the level is written only
// once, after the last function.
#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "backup.h"
#include "callchecks.h"
#include "calls.h"
#include "errors.h"
#include "functable.h"
#include "lock.h"
#include "pageimport.h"
#include "pages.h"
#include "platform.h"
#include "range.h"
#include "roomset.h"
#include "runlevel.h"

namespace qm {

namespace {

TFailure Report(const std::string& message, const std::string& place = {}, const std::string& hint = {}) {
    return {.Form = TFailure::TForm::Report, .Message = message, .Place = place, .Hint = hint, .Status = ExitError};
}

// The failure that the exception being handled stands for.
TFailure CaughtFailure() {
    try {
        throw;
    } catch (const EConvertError& e) {
        // A number on the command line that is none: the command was wrong.
        TFailure report = Report(e.what(), e.Where, e.Hint);
        report.Status = ExitUserError;
        return report;
    } catch (const EQuillError& e) {
        return Report(e.what(), e.Where, e.Hint);
    } catch (const std::bad_alloc&) {
        return Report("Out of memory");
    } catch (const std::exception& e) {
        return Report(e.what());
    } catch (...) {
        return Report("An unexpected error ended the work on this level");
    }
}

// An edit holds the level's lock from before loading until its save is in
// place, so that another edit of the level waits and then loads this one's
// result instead of overwriting it. A dry run and a save to another file
// leave the level as it is and need none.
std::unique_ptr<TEditLock> LockForEdit(const TCalls& calls, const TOptions& options, const TLevelIo& io) {
    if (!calls.Saves || options.DryRun || !options.Output.empty()) return nullptr;
    return std::make_unique<TEditLock>(calls.Level(), io.OnLockWait, io.OnLockBusy);
}

// Loading, and the test of each function's lowest level kind. A run that
// saves checks the texture chunks it does not change while it packs the
// level data (a damaged one refuses the save).
TStep Load(const TCalls& calls, const TOptions& options, Ttrlevel& level, TConsole& progress) {
    progress.Progress("Loading Level...");
    level.DeferPageChecks = calls.Saves && !options.DryRun;
    if (level.LoadLevel(calls.Level()) != 0) return Refusal("Invalid tr level format.");
    for (const TFunctionRow* fn : calls.Rows)
        if (level.LevelVersion < fn->MinVersion) return Refusal(fn->TooOld);
    return calls.Saves ? CheckOutputKind(level, options.Output) : TStep{};
}

void SayProgress(const TFunctionRow& fn, const TArgs& args, TConsole& progress) {
    if (fn.Progress) progress.Progress(fn.Progress);
    else if (fn.ProgressOf) progress.Progress(fn.ProgressOf(args));
}

// The rooms or pages of the function's range. Without a range, a function that
// only shows rooms shows none of a level without rooms; the edits refuse such
// a level.
TStep ResolveJobRange(const TFunctionRow& fn, TJob& job) {
    if (fn.RangeAt == 0) return {};
    const Ttrlevel& level = job.Level;
    if (fn.ShowsRooms && level.RoomCount == 0 && !AnyPresent(job.Args, fn.RangeAt, 2)) {
        job.To = -1;
        return {};
    }
    const int32_t count = fn.Pages ? PictureCount(level) : int32_t(level.RoomCount);
    const std::string refusal =
        ResolveRange(job.Args, fn.RangeAt, count, fn.Pages ? PageWords : RoomWords, job.From, job.To);
    if (!refusal.empty()) return Refusal(refusal);
    return {};
}

TStep CheckAgainstLevel(const TFunctionRow& fn, const TJob& job) {
    if (!fn.CheckLoaded) return {};
    if (const std::string refusal = fn.CheckLoaded(job); !refusal.empty()) return Refusal(refusal);
    return {};
}

// The picture of a function whose picture was not read with the argument
// checks: read now, after the functions before it have run.
TStep ReadPicture(const TFunctionRow& fn, TJob& job) {
    if (fn.PictureAt == 0 || job.Picture) return {};
    job.OwnPicture = ReadPagePicture(job.Args.At(fn.PictureAt));
    if (!job.OwnPicture->Refusal.empty()) return Refusal(job.OwnPicture->Refusal);
    job.Picture = &*job.OwnPicture;
    return {};
}

// A function's range, its check against the level as the functions before it
// in the chain have left it, and what it reads from outside the level, right
// before its work: a refusal refuses the whole run. It shows under the
// function's progress line, as in a run of that function alone.
TStep CheckJob(const TFunctionRow& fn, TJob& job) {
    if (TStep failure = ResolveJobRange(fn, job)) return failure;
    if (TStep failure = CheckAgainstLevel(fn, job)) return failure;
    return ReadPicture(fn, job);
}

// An edit acts on the range and, with --alternates, on the flip rooms of the
// range too: once for each run of consecutive rooms of that set, or once on
// the whole set.
void EditRooms(const TFunctionRow& fn, const std::vector<int32_t>& rooms, TJob& job) {
    if (fn.RangeAt == 0) return fn.Edit(job);
    if (fn.WholeSet) {
        job.Rooms = &rooms;
        return fn.Edit(job);
    }
    for (const auto& [first, last] : RoomSpans(rooms)) {
        job.From = first;
        job.To = last;
        fn.Edit(job);
    }
}

// The file the run's edits are written to.
const std::string& Target(const TCalls& calls, const TOptions& options) {
    return options.Output.empty() ? calls.Level() : options.Output;
}

// One edit, in memory. A dry run (and a run read as JSON) keeps the rooms as
// they were, to say what the edit changed.
TWritten RunEdit(const TFunctionRow& fn, TJob& job, const TOptions& options, const std::string& target) {
    const std::vector<int32_t> rooms =
        fn.RangeAt > 0 ? RoomSet(job.Level, job.From, job.To, options.Alternates) : std::vector<int32_t>{};
    const bool keepChanges = fn.RangeAt > 0 && !fn.WholeSet && (options.DryRun || options.Json);
    const std::vector<TRoomBefore> before = keepChanges ? RoomsBefore(job.Level, rooms) : std::vector<TRoomBefore>{};
    EditRooms(fn, rooms, job);
    TWritten written{.What = fn.Writes,
                     .Files = {target},
                     .DryRun = options.DryRun,
                     .Page = fn.Writes == TWritten::TWhat::Page ? job.Value : -1,
                     .HasItemChange = job.HasItemChange,
                     .ItemChange = std::move(job.ItemChange)};
    if (job.Water) {
        written.HasWater = true;
        written.Water = std::move(*job.Water);
    }
    if (keepChanges) {
        written.HasChanges = true;
        written.Changes = RoomChanges(before, job.Level, rooms);
    }
    return written;
}

// locked: the run holds the level's edit lock, so the save may remove what
// killed runs left beside the level.
void Save(const std::string& target, const TOptions& options, Ttrlevel& level, const TLevelIo& io, bool locked) {
    io.Progress.Progress("Saving the level...");
    // --backup: the level as it was loaded is kept beside it, put in place by
    // the save once the new level is.
    SaveEdit(level, target, {.Backup = options.Backup && options.Output.empty(), .RemoveStale = locked,
                             .Batch = io.Batch, .Slot = io.Slot});
    if (io.Saved && !io.Batch) *io.Saved = true;
}

// A refusal after an edit of the chain has run: the edit is not saved, and
// the refusal says so when it has nothing else to say under its line.
TFailure AfterEdits(TFailure failure, const std::vector<TStepResult>& results) {
    const auto edited = [](const TStepResult& step) { return std::holds_alternative<TWritten>(step.Result); };
    if (failure.Hint.empty() && std::any_of(results.begin(), results.end(), edited))
        failure.Hint = "nothing was saved: the level stays as it was";
    return failure;
}

// A function's turn: its progress line, its checks, its work. Its result, or
// the failure that ends the chain.
TResult RunJob(const TCalls& calls, size_t i, TJob& job, const TOptions& options, const TLevelIo& io) {
    const TFunctionRow& fn = *calls.Rows[i];
    SayProgress(fn, calls.Args[i], io.Progress);
    try {
        if (TStep failure = CheckJob(fn, job)) return std::move(*failure);
        return fn.Saves() ? TResult(RunEdit(fn, job, options, Target(calls, options))) : fn.Show(job);
    } catch (...) {
        return CaughtFailure();
    }
}

// The functions in order, each checked against the level as the functions
// before it left it, then run, its result shown as it comes; then, when one of
// them edited the level, its one save. A failure ends the chain: the results
// before it are kept, the failure comes last (a run of one function gives the
// failure alone), and nothing is saved.
std::vector<TStepResult> RunJobs(const TCalls& calls, std::vector<TJob>& jobs, const TOptions& options,
                                 const TLevelIo& io, bool locked) {
    std::vector<TStepResult> results;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const TFunctionRow& fn = *calls.Rows[i];
        TResult result = RunJob(calls, i, jobs[i], options, io);
        if (TFailure* failure = std::get_if<TFailure>(&result)) {
            results.push_back({.Function = fn.Name(), .Result = AfterEdits(std::move(*failure), results)});
            return results;
        }
        if (io.OnResult) io.OnResult(result);
        results.push_back({.Function = fn.Name(), .Result = std::move(result)});
    }
    if (calls.Saves && !options.DryRun) {
        try {
            Save(Target(calls, options), options, jobs.front().Level, io, locked);
        } catch (...) {
            results.push_back({.Result = CaughtFailure()});  // the save's failure is no function's
        }
    }
    return results;
}

// The steps of a level's functions, from the argument checks to the results.
std::vector<TStepResult> RunSteps(const std::vector<std::string>& levelArgs, const TOptions& options,
                                  const TLevelIo& io, Ttrlevel& level) {
    const auto refused = [](TFailure failure) { return std::vector<TStepResult>{{.Result = std::move(failure)}}; };
    TCalls calls{.Args = FunctionCalls(levelArgs)};
    if (TStep failure = CheckExists(calls.Level())) return refused(*failure);
    if (TStep failure = FindRows(calls)) return refused(*failure);
    std::vector<int32_t> values;
    if (TStep failure = CheckCalls(calls, options, values)) return refused(*failure);
    std::unique_ptr<TEditLock> lock = LockForEdit(calls, options, io);
    if (TStep failure = Load(calls, options, level, io.Progress)) return refused(*failure);
    std::vector<TJob> jobs;
    jobs.reserve(calls.Args.size());
    for (size_t i = 0; i < calls.Args.size(); ++i)
        jobs.push_back({.Level = level, .Args = calls.Args[i], .Progress = io.Progress, .DryRun = options.DryRun,
                        .Value = values[i], .ItemMarks = !options.NoItems, .Storey = options.Storey,
                        .Picture = calls.Pictures[i]});
    std::vector<TStepResult> results = RunJobs(calls, jobs, options, io, lock && lock->Held());
    // A save prepared in a batch is not in place yet: the lock stays held.
    if (io.KeptLock && io.Batch && io.Batch->Prepared(io.Slot)) *io.KeptLock = std::move(lock);
    // A run of one function that failed gives the failure alone.
    if (calls.Args.size() == 1 && results.size() > 1 && std::holds_alternative<TFailure>(results.back().Result))
        results.erase(results.begin(), results.end() - 1);
    return results;
}

} // namespace

bool IsFunctionSwitch(const std::string& text) { return FindRow(text) != nullptr; }

TFailure FailureOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (...) {
        return CaughtFailure();
    }
}

std::vector<TStepResult> RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options,
                                  const TLevelIo& io, Ttrlevel& level) {
    try {
        return RunSteps(levelArgs, options, io, level);
    } catch (...) {
        return {{.Result = CaughtFailure()}};
    }
}

} // namespace qm
