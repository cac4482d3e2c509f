// The levels of a run, one after another or side by side.
#include "levels.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "runlevel.h"
#include "textout.h"

namespace qm {

// The level a run keeps to the end of the process: a global with external
// linkage, so the pointer is really stored and the level stays reachable (leak
// checkers do not count it as lost).
Ttrlevel* GKeptLevel = nullptr;

std::function<bool()> GThreadStartHook;

namespace {

// Works on one level: its name first when the run has several, its progress
// lines as they happen, then its result, all to out in text form.
void RunOneLevel(TLevelRun& run, const TOptions& options, bool keep, TConsole& out) {
    if (run.Header && !options.Json) out.Line("== " + run.Args[0] + " ==");
    TNullConsole none;
    const TLevelIo io{.Progress = options.Json ? static_cast<TConsole&>(none) : out,
                      .OnLockWait = [&out, &options] {
                          if (!options.Json) out.Line("Waiting for another edit of this level to finish...");
                      },
                      .Saved = &run.Saved};
    if (keep) {
        GKeptLevel = new Ttrlevel;
        run.Result = RunLevel(run.Args, options, io, *GKeptLevel);
    } else {
        Ttrlevel level;
        run.Result = RunLevel(run.Args, options, io, level);
    }
    if (!options.Json) WriteText(*run.Result, out);
}

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

// Up to jobs levels side by side. Each level's lines are kept and written in
// the order of the levels, each as soon as the ones before it are written, so
// the output is the same as one level after another. An exception nobody
// expected stops the workers from taking further levels and is raised again
// once every worker has ended.
void RunSideBySide(std::vector<TLevelRun>& runs, size_t jobs, const TOptions& options, TConsole& out) {
    std::mutex turn;
    std::condition_variable finished;
    std::vector<bool> done(runs.size(), false);
    std::vector<TStringConsole> kept(runs.size());
    std::atomic<size_t> next{0};
    std::exception_ptr unexpected;
    auto worker = [&] {
        for (size_t i; (i = next++) < runs.size();) {
            std::exception_ptr failed;
            try {
                TQuietConsole quiet(kept[i]);
                RunOneLevel(runs[i], options, false, options.Quiet ? static_cast<TConsole&>(quiet) : kept[i]);
            } catch (...) {
                failed = std::current_exception();
                next = runs.size();
            }
            std::lock_guard<std::mutex> lock(turn);
            if (failed && !unexpected) unexpected = failed;
            done[i] = true;
            finished.notify_all();
        }
    };
    std::vector<std::jthread> workers = StartWorkers(std::min(jobs, runs.size()), worker);
    if (workers.empty()) worker();  // no thread to be had: this one does the work
    for (size_t i = 0; i < runs.size(); ++i) {
        std::unique_lock<std::mutex> lock(turn);
        finished.wait(lock, [&] { return done[i] || unexpected; });
        if (unexpected) break;
        lock.unlock();
        out.Raw(kept[i].Text);
        kept[i].Text.clear();
    }
    workers.clear();  // joins them
    if (unexpected) std::rethrow_exception(unexpected);
}

} // namespace

void RunLevels(std::vector<TLevelRun>& runs, const TOptions& options, bool keepLevel, TConsole& out) {
    if (options.Jobs > 1 && runs.size() > 1) return RunSideBySide(runs, size_t(options.Jobs), options, out);
    // The last level of the process is kept to its end; the others are
    // released before the next is loaded, so a run holds one level at a time.
    for (size_t i = 0; i < runs.size(); ++i) RunOneLevel(runs[i], options, keepLevel && i + 1 == runs.size(), out);
}

} // namespace qm
