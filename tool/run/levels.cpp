// The levels of a run, one after another or side by side.
#include "levels.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "functable.h"
#include "runlevel.h"
#include "savegroups.h"
#include "textout.h"

namespace qm {

// The level a run keeps to the end of the process: a global with external
// linkage, so the pointer is really stored and the level stays reachable (leak
// checkers do not count it as lost).
Ttrlevel* GKeptLevel = nullptr;

std::function<bool()> GThreadStartHook;

namespace {

constexpr const char* LockWaitNotice = "Waiting for another edit of this level to finish...";

// A level whose run would only show, once the output's reader has gone.
bool Unseen(const TLevelRun& run, const TConsole& out) { return !run.Writes && out.Closed(); }

// Works on one level: its name first when the run has several, its progress
// lines as they happen, then its result, all to out in text form. onLockWait
// says that the level waits for its lock. With groups, a save is only
// prepared in the level's group, and the level's end is written once the
// group is committed (the level is then Waiting).
void RunOneLevel(TLevelRun& run, const TOptions& options, bool keep, TConsole& out,
                 const std::function<void()>& onLockWait, TSaveGroups* groups = nullptr, size_t index = 0,
                 const TSaveGroups::TFinish& finish = {}) {
    if (run.Header && !options.Json) out.Line("== " + run.Args[0] + " ==");
    TNullConsole none;
    TLevelIo io{.Progress = options.Json ? static_cast<TConsole&>(none) : out,
                .OnLockWait = options.Json ? std::function<void()>() : onLockWait,
                .Saved = &run.Saved,
                .OnResult = options.Json ? std::function<void(const TResult&)>()
                                         : [&out](const TResult& result) { WriteStep(result, out); }};
    if (groups) groups->Attach(index, io, finish);
    if (keep) {
        GKeptLevel = new Ttrlevel;
        run.Results = RunLevel(run.Args, options, io, *GKeptLevel);
    } else {
        Ttrlevel level;
        run.Results = RunLevel(run.Args, options, io, level);
    }
    if (!options.Json && !(groups && groups->Waiting(index))) WriteEnd(run.Results, out);
}

// A level's save committed with its group: a failure ends the level's
// results, as a failed save does (alone for a level of one function).
void SaveCommitted(TLevelRun& run, const std::exception_ptr& error) {
    if (!error) {
        run.Saved = true;
        return;
    }
    TStepResult failure{.Result = FailureOf(error)};
    if (run.Results.size() == 1) run.Results.clear();
    run.Results.push_back(std::move(failure));
}

// The order of the levels' lines when they run side by side: the head level
// (the first whose lines are not all shown) writes straight through, as it
// works; every later level keeps its lines until it becomes the head. So the
// output is that of one level after another, and the head level's progress
// shows as it happens.
//
// Only the head's own thread makes a level the next head (when it ends), and
// it does so only after that level's kept lines are out; so the head writes
// without waiting for the levels that keep theirs, and a level that sees it
// is not the head checks again under the lock before it keeps a line.
class TTurns {
public:
    TTurns(size_t levels, TConsole& out) : Out_(out), Kept_(levels), Ended_(levels, false) {}

    void Write(size_t level, std::string_view text) {
        if (level != Head_.load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lock(Mutex_);
            if (level != Head_.load(std::memory_order_relaxed)) {
                Kept_[level].append(text);
                return;
            }
        }
        Put(text);
    }

    // The level has written its last line: the levels after it whose turn
    // has come are shown, each up to where it has got.
    void End(size_t level) {
        std::lock_guard<std::mutex> lock(Mutex_);
        Ended_[level] = true;
        size_t head = Head_.load(std::memory_order_relaxed);
        while (head < Ended_.size() && Ended_[head]) {
            if (++head == Ended_.size()) break;
            Put(Kept_[head]);
            std::string().swap(Kept_[head]);
        }
        Head_.store(head, std::memory_order_release);
    }

    // A line that must be seen when it happens: in its place for the head
    // level, at once and marked with the level's name for a later one.
    void Notice(size_t level, const std::string& name, const std::string& text) {
        std::lock_guard<std::mutex> lock(Mutex_);
        Put(level == Head_.load(std::memory_order_relaxed) ? text + "\r\n" : name + ": " + text + "\r\n");
    }

private:
    void Put(std::string_view text) {
        std::lock_guard<std::mutex> lock(OutMutex_);
        Out_.Raw(text);
    }

    std::mutex Mutex_;     // the kept lines and the end of a level; taken before OutMutex_
    std::mutex OutMutex_;  // one write to out at a time
    TConsole& Out_;
    std::vector<std::string> Kept_;
    std::vector<bool> Ended_;
    std::atomic<size_t> Head_{0};
};

// One level's console when levels run side by side.
class TTurnConsole : public TConsole {
public:
    TTurnConsole(TTurns& turns, size_t level, bool quiet) : Turns_(turns), Level_(level), Quiet_(quiet) {}
    void Line(std::string_view text) override { Turns_.Write(Level_, std::string(text) + "\r\n"); }
    void Progress(std::string_view text) override {
        if (!Quiet_) Line(text);
    }
    void Raw(std::string_view text) override { Turns_.Write(Level_, text); }

private:
    TTurns& Turns_;
    size_t Level_;
    bool Quiet_;
};

// Up to count threads running work, fewer when the system cannot start more
// (no memory for a stack, a limit on threads): possibly none.
std::vector<std::jthread> StartWorkers(size_t count, const std::function<void()>& work) {
    std::vector<std::jthread> workers;
    try {
        for (size_t w = 0; w < count; ++w) {
            if (GThreadStartHook && GThreadStartHook())
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            workers.emplace_back(work);
        }
    } catch (const std::system_error&) {
    }
    return workers;
}

// Up to jobs levels side by side: the calling thread and as many more as can
// be started, each taking the next level. An exception nobody expected stops
// the workers from taking further levels and is raised again once every
// worker has ended.
// With groups (a run that saves its levels), each level's save is committed
// with its group's, by the thread that runs the group's last level; the
// levels' ends are written then.
void RunSideBySide(std::vector<TLevelRun>& runs, size_t jobs, const TOptions& options, TConsole& out,
                   TSaveGroups* groups = nullptr) {
    TTurns turns(runs.size(), out);
    std::atomic<size_t> next{0};
    std::mutex failing;
    std::exception_ptr unexpected;
    const TSaveGroups::TFinish finish{
        .Saved = [&](size_t level, const std::exception_ptr& error) { SaveCommitted(runs[level], error); },
        .Shown =
            [&](size_t level) {
                if (options.Json) return;
                TTurnConsole console(turns, level, options.Quiet);
                WriteEnd(runs[level].Results, console);
                turns.End(level);
            }};
    auto worker = [&] {
        for (size_t i; (i = next++) < runs.size();) {
            try {
                if (!Unseen(runs[i], out)) {
                    TTurnConsole console(turns, i, options.Quiet);
                    RunOneLevel(runs[i], options, false, console,
                                [&turns, i, &runs] { turns.Notice(i, runs[i].Args[0], LockWaitNotice); }, groups, i,
                                finish);
                    if (!groups || !groups->Waiting(i)) turns.End(i);
                }
                if (groups) groups->Finished(i, finish);
            } catch (...) {
                next = runs.size();
                std::lock_guard<std::mutex> lock(failing);
                if (!unexpected) unexpected = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> helpers = StartWorkers(std::min(jobs, runs.size()) - 1, worker);
        worker();
    }  // the helpers are joined here
    // The groups that a failure left unfinished still commit what they prepared.
    if (groups) groups->CommitRest(finish);
    if (unexpected) std::rethrow_exception(unexpected);
}

// A run of several levels that saves them commits their saves in groups (one
// file cannot be among them twice: the run refuses that before it starts).
bool SavesInGroups(const std::vector<TLevelRun>& runs, const TOptions& options) {
    if (runs.size() < 2 || options.DryRun || !options.Output.empty() || SaveGroupSize(options.Jobs) < 2) return false;
    return std::any_of(runs[0].Args.begin() + 1, runs[0].Args.end(), [](const std::string& word) {
        const TFunctionRow* row = FindRow(word);
        return row && row->Saves();
    });
}

} // namespace

void RunLevels(std::vector<TLevelRun>& runs, const TOptions& options, bool keepLevel, TConsole& out) {
    if (SavesInGroups(runs, options)) {
        TSaveGroups groups(runs.size(), SaveGroupSize(options.Jobs));
        return RunSideBySide(runs, size_t(options.Jobs), options, out, &groups);
    }
    if (options.Jobs > 1 && runs.size() > 1) return RunSideBySide(runs, size_t(options.Jobs), options, out);
    // The last level of the process is kept to its end; the others are
    // released before the next is loaded, so a run holds one level at a time.
    auto notice = [&out] { out.Line(LockWaitNotice); };
    for (size_t i = 0; i < runs.size(); ++i)
        if (!Unseen(runs[i], out)) RunOneLevel(runs[i], options, keepLevel && i + 1 == runs.size(), out, notice);
}

} // namespace qm
