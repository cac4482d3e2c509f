// One level's part of a run, as short steps from the argument checks to the
// save: each returns the failure that ends the level, or nothing to go on.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "backup.h"
#include "calls.h"
#include "errors.h"
#include "functable.h"
#include "lock.h"
#include "pages.h"
#include "platform.h"
#include "range.h"
#include "roomset.h"
#include "runlevel.h"
#include "utf8path.h"

namespace qm {

namespace {

using TStep = std::optional<TFailure>;

TFailure Report(const std::string& message, const std::string& place = {}, const std::string& hint = {}) {
    return {.Form = TFailure::TForm::Report, .Message = message, .Place = place, .Hint = hint, .Status = ExitError};
}

bool IsFolder(const std::string& name) {
    std::error_code error;
    return !name.empty() && std::filesystem::is_directory(PathOf(name), error);
}

bool AnyPresent(const TArgs& args, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (args.Present(first + i)) return true;
    return false;
}

// "X not found.", and the line under it that says what was probably meant.
TStep CheckExists(const std::string& name) {
    if (FileExists(name)) return {};
    TFailure refusal{.Message = name + " not found."};
    if (FindRow(name)) refusal.Hint = "the level file comes first: quillmap LEVEL /Function \u2026";
    else if (IsFolder(name)) refusal.Hint = name + " is a folder, not a level file";
    return refusal;
}

// The functions of the level's run, and what they share: whether any edits,
// and so loads for a save, locks the level and saves once at the end.
struct TCalls {
    std::vector<TArgs> Args{};               // one per function, as calls.h splits them
    std::vector<const TFunctionRow*> Rows{};  // the row of each
    bool Saves = false;                      // one of them edits the level
    const std::string& Level() const { return Args.front().At(1); }
};

// The row of each function. The first word after the level must name one;
// every later call starts with a word that does.
TStep FindRows(TCalls& calls) {
    for (const TArgs& args : calls.Args) {
        const TFunctionRow* fn = FindRow(args.At(2));
        if (!fn) {
            TFailure refusal = Refusal("Invalid command function, type Quillmap /h");
            if (const std::string nearest = NearestFunction(args.At(2)); !nearest.empty())
                refusal.Hint = "did you mean " + nearest + "?";
            return refusal;
        }
        calls.Rows.push_back(fn);
        calls.Saves = calls.Saves || fn->Saves();
    }
    return {};
}

// nullptr when the edited level may be written to output (none given: the
// level itself); otherwise the one-line message that refuses it. The level
// must never be replaced through another of its names.
const char* OutputRefusal(bool saves, const std::string& output, const std::string& levelName) {
    if (output.empty()) return nullptr;
    if (!saves) return "--output is for the functions that edit a level.";
    std::error_code error;
    if (output == levelName || std::filesystem::equivalent(PathOf(output), PathOf(levelName), error))
        return "--output must name another file than the level.";
    if (IsFolder(output)) return "--output must name a file, not a folder.";
    return nullptr;
}

// The checks of one function's arguments that need no level.
TStep CheckArguments(const TFunctionRow& fn, const TArgs& args) {
    if (fn.Needed > 0 && !AnyPresent(args, 3, fn.Needed)) return Refusal(fn.Missing);
    if (const char* refusal = fn.Check ? fn.Check(args) : nullptr) return Refusal(refusal);
    return {};
}

// Every function's arguments, then the options against what the run does;
// each function's value converted (a bad number ends the run here).
TStep CheckCalls(const TCalls& calls, const TOptions& options, std::vector<int32_t>& values) {
    for (size_t i = 0; i < calls.Rows.size(); ++i)
        if (TStep failure = CheckArguments(*calls.Rows[i], calls.Args[i])) return failure;
    if (const char* refusal = OutputRefusal(calls.Saves, options.Output, calls.Level())) return Refusal(refusal);
    if (options.Alternates && !calls.Saves) return Refusal("--alternates is for the functions that edit a level.");
    const auto drawsStoreys = [](const TFunctionRow* fn) { return fn->Storeys; };
    if (options.Storey > 0 && std::none_of(calls.Rows.begin(), calls.Rows.end(), drawsStoreys))
        return Refusal("--storey is for /Map.");
    for (size_t i = 0; i < calls.Rows.size(); ++i) {
        const TFunctionRow& fn = *calls.Rows[i];
        values.push_back(!fn.NumberValue ? 0 : fn.ValueOf ? fn.ValueOf(calls.Args[i]) : StrToInt(calls.Args[i].At(3)));
    }
    return {};
}

// An edit holds the level's lock from before loading until its save is in
// place, so that another edit of the level waits and then loads this one's
// result instead of overwriting it. A dry run and a save to another file
// leave the level as it is and need none.
std::unique_ptr<TEditLock> LockForEdit(const TCalls& calls, const TOptions& options, const TLevelIo& io) {
    if (!calls.Saves || options.DryRun || !options.Output.empty()) return nullptr;
    return std::make_unique<TEditLock>(calls.Level(), io.OnLockWait);
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
    return {};
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

// Every function's range and check against the loaded level, before any of
// them works: a refusal refuses the whole run. It shows under the function's
// progress line, where a run of that function alone shows it.
TStep CheckJobs(const TCalls& calls, std::vector<TJob>& jobs, TConsole& progress) {
    for (size_t i = 0; i < jobs.size(); ++i) {
        const TFunctionRow& fn = *calls.Rows[i];
        TStep failure;
        try {
            failure = ResolveJobRange(fn, jobs[i]);
            if (!failure) failure = CheckAgainstLevel(fn, jobs[i]);
        } catch (...) {
            SayProgress(fn, calls.Args[i], progress);
            throw;
        }
        if (failure) {
            SayProgress(fn, calls.Args[i], progress);
            return failure;
        }
    }
    return {};
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

void Save(const std::string& target, const TOptions& options, Ttrlevel& level, const TLevelIo& io) {
    io.Progress.Progress("Saving the level...");
    // --backup: the level as it was loaded is kept beside it, put in place by
    // the save once the new level is.
    SaveEdit(level, target, options.Backup && options.Output.empty());
    if (io.Saved) *io.Saved = true;
}

// The functions in order, each result shown as it comes; then, when one of
// them edited the level, its one save.
std::vector<TStepResult> RunJobs(const TCalls& calls, std::vector<TJob>& jobs, const TOptions& options,
                                 const TLevelIo& io) {
    std::vector<TStepResult> results;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const TFunctionRow& fn = *calls.Rows[i];
        SayProgress(fn, calls.Args[i], io.Progress);
        TResult result = fn.Saves() ? TResult(RunEdit(fn, jobs[i], options, Target(calls, options))) : fn.Show(jobs[i]);
        if (const TFailure* failure = std::get_if<TFailure>(&result)) return {{.Function = fn.Name(), .Result = *failure}};
        if (io.OnResult) io.OnResult(result);
        results.push_back({.Function = fn.Name(), .Result = std::move(result)});
    }
    if (calls.Saves && !options.DryRun) Save(Target(calls, options), options, jobs.front().Level, io);
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
    const std::unique_ptr<TEditLock> lock = LockForEdit(calls, options, io);
    if (TStep failure = Load(calls, options, level, io.Progress)) return refused(*failure);
    std::vector<TJob> jobs;
    jobs.reserve(calls.Args.size());
    for (size_t i = 0; i < calls.Args.size(); ++i)
        jobs.push_back({.Level = level, .Args = calls.Args[i], .Progress = io.Progress, .DryRun = options.DryRun,
                        .Value = values[i], .ItemMarks = !options.NoItems, .Storey = options.Storey});
    if (TStep failure = CheckJobs(calls, jobs, io.Progress)) return refused(*failure);
    return RunJobs(calls, jobs, options, io);
}

} // namespace

bool IsFunctionSwitch(const std::string& text) { return FindRow(text) != nullptr; }

std::vector<TStepResult> RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options,
                                  const TLevelIo& io, Ttrlevel& level) {
    const auto failed = [](TFailure failure) { return std::vector<TStepResult>{{.Result = std::move(failure)}}; };
    try {
        return RunSteps(levelArgs, options, io, level);
    } catch (const EConvertError& e) {
        // A number on the command line that is none: the command was wrong.
        TFailure report = Report(e.what(), e.Where, e.Hint);
        report.Status = ExitUserError;
        return failed(report);
    } catch (const EQuillError& e) {
        return failed(Report(e.what(), e.Where, e.Hint));
    } catch (const std::bad_alloc&) {
        return failed(Report("Out of memory"));
    } catch (const std::exception& e) {
        return failed(Report(e.what()));
    } catch (...) {
        return failed(Report("An unexpected error ended the work on this level"));
    }
}

} // namespace qm
