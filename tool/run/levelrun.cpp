// One level's part of a run, as short steps from the argument checks to the
// save: each returns the failure that ends the level, or nothing to go on.
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "backup.h"
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

// nullptr when the edited level may be written to output (none given: the
// level itself); otherwise the one-line message that refuses it. The level
// must never be replaced through another of its names.
const char* OutputRefusal(const TFunctionRow& fn, const std::string& output, const std::string& levelName) {
    if (output.empty()) return nullptr;
    if (!fn.Saves()) return "--output is for the functions that edit a level.";
    std::error_code error;
    if (output == levelName || std::filesystem::equivalent(PathOf(output), PathOf(levelName), error))
        return "--output must name another file than the level.";
    if (IsFolder(output)) return "--output must name a file, not a folder.";
    return nullptr;
}

// The checks of the arguments that need no level.
TStep CheckArguments(const TFunctionRow& fn, const TArgs& args, const TOptions& options) {
    if (fn.Needed > 0 && !AnyPresent(args, 3, fn.Needed)) return Refusal(fn.Missing);
    if (const char* refusal = fn.Check ? fn.Check(args) : nullptr) return Refusal(refusal);
    if (const char* refusal = OutputRefusal(fn, options.Output, args.At(1))) return Refusal(refusal);
    if (options.Alternates && !fn.Saves()) return Refusal("--alternates is for the functions that edit a level.");
    if (options.Storey > 0 && !fn.Storeys) return Refusal("--storey is for /Map.");
    return {};
}

// An edit holds the level's lock from before loading until its save is in
// place, so that another edit of the level waits and then loads this one's
// result instead of overwriting it. A dry run and a save to another file
// leave the level as it is and need none.
std::unique_ptr<TEditLock> LockForEdit(const TFunctionRow& fn, const TOptions& options, const std::string& name,
                                       const TLevelIo& io) {
    if (!fn.Saves() || options.DryRun || !options.Output.empty()) return nullptr;
    return std::make_unique<TEditLock>(name, io.OnLockWait);
}

// Loading, the version test and the function's progress line. An edit that
// saves checks the texture chunks it does not change while it packs the level
// data (a damaged one refuses the save).
TStep Load(const TFunctionRow& fn, const TArgs& args, const TOptions& options, Ttrlevel& level, TConsole& progress) {
    progress.Progress("Loading Level...");
    level.DeferPageChecks = fn.Saves() && !options.DryRun;
    if (level.LoadLevel(args.At(1)) != 0) return Refusal("Invalid tr level format.");
    if (level.LevelVersion < fn.MinVersion) return Refusal(fn.TooOld);
    if (fn.Progress) progress.Progress(fn.Progress);
    else if (fn.ProgressOf) progress.Progress(fn.ProgressOf(args));
    return {};
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

void Save(const std::string& target, const TOptions& options, Ttrlevel& level,
          const TLevelIo& io) {
    io.Progress.Progress("Saving the level...");
    // --backup: the level as it was loaded is kept beside it, put in place by
    // the save once the new level is.
    SaveEdit(level, target, options.Backup && options.Output.empty());
    if (io.Saved) *io.Saved = true;
}

// The edit and its save. A dry run (and a run read as JSON) keeps the rooms as
// they were, to say what the edit changed; a dry run saves nothing.
TResult RunEdit(const TFunctionRow& fn, TJob& job, const TOptions& options, const TLevelIo& io) {
    const std::string& name = job.Args.At(1);
    const std::vector<int32_t> rooms =
        fn.RangeAt > 0 ? RoomSet(job.Level, job.From, job.To, options.Alternates) : std::vector<int32_t>{};
    const bool keepChanges = fn.RangeAt > 0 && !fn.WholeSet && (options.DryRun || options.Json);
    const std::vector<TRoomBefore> before = keepChanges ? RoomsBefore(job.Level, rooms) : std::vector<TRoomBefore>{};
    EditRooms(fn, rooms, job);
    TWritten written{.What = fn.Writes,
                     .Files = {options.Output.empty() ? name : options.Output},
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
    if (!options.DryRun) Save(written.Files.front(), options, job.Level, io);
    return written;
}

// The steps of one matched function, from the argument checks to the result.
TResult RunFunction(const TFunctionRow& fn, const TArgs& args, const TOptions& options, const TLevelIo& io,
                    Ttrlevel& level) {
    if (TStep failure = CheckArguments(fn, args, options)) return *failure;
    TJob job{.Level = level, .Args = args, .Progress = io.Progress, .DryRun = options.DryRun,
             .ItemMarks = !options.NoItems, .Storey = options.Storey};
    if (fn.NumberValue) job.Value = fn.ValueOf ? fn.ValueOf(args) : StrToInt(args.At(3));
    const std::unique_ptr<TEditLock> lock = LockForEdit(fn, options, args.At(1), io);
    if (TStep failure = Load(fn, args, options, level, io.Progress)) return *failure;
    if (TStep failure = ResolveJobRange(fn, job)) return *failure;
    if (TStep failure = CheckAgainstLevel(fn, job)) return *failure;
    return fn.Saves() ? RunEdit(fn, job, options, io) : fn.Show(job);
}

TResult RunSteps(const TArgs& args, const TOptions& options, const TLevelIo& io, Ttrlevel& level) {
    if (TStep failure = CheckExists(args.At(1))) return *failure;
    const TFunctionRow* fn = FindRow(args.At(2));
    if (!fn) {
        TFailure refusal = Refusal("Invalid command function, type Quillmap /h");
        if (const std::string nearest = NearestFunction(args.At(2)); !nearest.empty())
            refusal.Hint = "did you mean " + nearest + "?";
        return refusal;
    }
    return RunFunction(*fn, args, options, io, level);
}

} // namespace

bool IsFunctionSwitch(const std::string& text) { return FindRow(text) != nullptr; }

TResult RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options, const TLevelIo& io,
                 Ttrlevel& level) {
    const TArgs args(levelArgs);
    try {
        return RunSteps(args, options, io, level);
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

} // namespace qm
