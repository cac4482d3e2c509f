// The run in three stages: the options, the levels, and for each level the
// function (run.cpp).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "jsonout.h"
#include "options.h"
#include "run.h"
#include "runlevel.h"

namespace qm {

// The level a run keeps to the end of the process: a global with external
// linkage, so the pointer is really stored and the level stays reachable (leak
// checkers do not count it as lost).
Ttrlevel* GKeptLevel = nullptr;

namespace {

// A word that looks like an option but is none. Where it stands in the level's
// place it is refused as a missing level, as every run has done; elsewhere it is
// named as an unknown option. The second line says what may have been meant.
int RefuseUnknownOption(const TCommandLine& line, const std::vector<std::string>& args, TConsole& out) {
    const std::string& word = line.Unknown;
    out.Line(!args.empty() && args[0] == word ? word + " not found." : "Unknown option " + word);
    const std::string likely = LikelyOption(word);
    out.Line(likely.empty() ? word + " is not an option of Quillmap, type Quillmap /h"
                            : word + " is not an option of Quillmap: did you mean " + likely + "?");
    return ExitUserError;
}

// The levels of a run are the words before the first function switch (the
// first word is always a level). Without a switch, the first word is the one
// level and the second stands where the switch belongs, to be refused there.
size_t LevelCount(const std::vector<std::string>& words) {
    for (size_t i = 1; i < words.size(); ++i)
        if (IsFunctionSwitch(words[i])) return i;
    return 1;
}


// The whole run refused before any level is looked at: an unknown option, an
// option without its value, or options that do not go together. -1 when the
// run goes on.
int RefuseRun(const TCommandLine& line, size_t levels, const std::vector<std::string>& args, TConsole& out) {
    if (!line.Unknown.empty()) return RefuseUnknownOption(line, args, out);
    if (!line.MissingValue.empty()) return Refuse(out, line.MissingValue + " needs a value, type Quillmap /h");
    if (line.Options.Jobs < 1 || line.Options.Jobs > 256)
        return Refuse(out, "--jobs needs a number of levels from 1 to 256.");
    if (levels > 1 && !line.Options.Output.empty())
        return Refuse(out, "--output takes one level; " + std::to_string(levels) + " were given.");
    return -1;
}

// One level of the run: its arguments, and what it gave.
struct TLevelRun {
    std::vector<std::string> Args;  // the level's name, the function switch, its arguments
    bool Header = false;            // a line names the level first (a run of several levels)
    bool Keep = false;              // the level object is kept to the end of the process
    int Status = ExitDone;
    bool Saved = false;
    TJson Entry;                    // --json: the level's part of the document
    TStringConsole Kept;            // --jobs: the level's lines, written when its turn comes
    std::vector<std::string> Report;  // the lines of its error report, if it ended with one
};

// Passes every line on, and keeps the lines of an error report.
class TReportKeeper : public TConsole {
public:
    TReportKeeper(TConsole& inner, std::vector<std::string>& report) : Inner_(inner), Report_(report) {}
    void Line(std::string_view text) override { Inner_.Line(text); }
    void Progress(std::string_view text) override { Inner_.Progress(text); }
    void Raw(std::string_view text) override { Inner_.Raw(text); }
    void Error(std::string_view message, std::string_view where, std::string_view hint) override {
        Inner_.Error(message, where, hint);
        std::string text(message);
        if (text.empty() || text.back() != '.') text += '.';
        Report_.push_back(text);
        if (!where.empty()) Report_.emplace_back(where);
    }

private:
    TConsole& Inner_;
    std::vector<std::string>& Report_;
};

// Works on one level; with --json its result or error becomes its entry of the
// document instead of being written.
void RunOneLevel(TLevelRun& run, const TOptions& options, TConsole& out) {
    if (run.Header && !options.Json) out.Line("== " + run.Args[0] + " ==");
    TJsonCapture capture;
    TJson result;
    TReportKeeper keeper(options.Json ? static_cast<TConsole&>(capture) : out, run.Report);
    TConsole& sink = keeper;
    TJson* resultSlot = options.Json ? &result : nullptr;
    if (run.Keep) {
        GKeptLevel = new Ttrlevel;
        run.Status = RunLevel(run.Args, options, sink, *GKeptLevel, &run.Saved, resultSlot);
    } else {
        Ttrlevel level;
        run.Status = RunLevel(run.Args, options, sink, level, &run.Saved, resultSlot);
    }
    if (options.Json) {
        run.Entry = TJson{{"level", run.Args[0]}, {"status", run.Status}};
        if (run.Status != ExitDone) run.Entry["error"] = capture.ErrorJson();
        else run.Entry.update(result);
    }
}

// Up to jobs levels side by side. Each level's lines are kept and written in
// the order of the levels, each as soon as the ones before it are written, so
// the output is the same as one level after another.
void RunSideBySide(std::vector<TLevelRun>& runs, size_t jobs, const TOptions& options, TConsole& out) {
    std::mutex turn;
    std::condition_variable finished;
    std::vector<bool> done(runs.size(), false);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < runs.size();) {
            TQuietConsole quiet(runs[i].Kept);
            RunOneLevel(runs[i], options, options.Quiet ? static_cast<TConsole&>(quiet) : runs[i].Kept);
            std::lock_guard<std::mutex> lock(turn);
            done[i] = true;
            finished.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (size_t w = 0; w < std::min(jobs, runs.size()); ++w) workers.emplace_back(worker);
    for (size_t i = 0; i < runs.size(); ++i) {
        std::unique_lock<std::mutex> lock(turn);
        finished.wait(lock, [&] { return done[i]; });
        lock.unlock();
        out.Raw(runs[i].Kept.Text);
        runs[i].Kept.Text.clear();
    }
    for (std::thread& w : workers) w.join();
}

// The levels of the run, one after another or side by side; returns the
// highest of their exit statuses.
int RunLevels(const std::vector<std::string>& words, size_t levels, const TOptions& options, bool keepLevel,
              bool* saved, std::vector<std::string>* errorReport, TConsole& out, TJson& document) {
    std::vector<TLevelRun> runs(levels);
    for (size_t i = 0; i < levels; ++i) {
        runs[i].Args = {words[i]};
        runs[i].Args.insert(runs[i].Args.end(), words.begin() + std::ptrdiff_t(levels), words.end());
        runs[i].Header = levels > 1;
    }
    if (options.Jobs > 1 && levels > 1) {
        RunSideBySide(runs, size_t(options.Jobs), options, out);
    } else {
        // The last level of the process is kept to its end; the others are
        // released before the next is loaded, so a run holds one level at a time.
        runs.back().Keep = keepLevel;
        for (TLevelRun& run : runs) RunOneLevel(run, options, out);
    }
    int status = ExitDone;
    for (TLevelRun& run : runs) {
        status = std::max(status, run.Status);
        if (saved && run.Saved) *saved = true;
        if (errorReport) errorReport->insert(errorReport->end(), run.Report.begin(), run.Report.end());
        if (options.Json) document["levels"].push_back(std::move(run.Entry));
    }
    return status;
}

} // namespace

// A run in three stages: the options, the levels, and for each level the function.
int RunTool(const std::vector<std::string>& args, TConsole& console, bool keepLevel, bool* saved,
            std::vector<std::string>* errorReport) {
    if (saved) *saved = false;
    if (errorReport) errorReport->clear();
    const TCommandLine line = ParseCommandLine(args);
    const TOptions& options = line.Options;
    if (options.Version) {
        console.Line("Quillmap " QM_VERSION);
        return ExitDone;
    }
    TQuietConsole quiet(console);
    TConsole& out = options.Quiet || options.Json ? quiet : console;
    if (!options.Quiet && !options.Json) Banner(out);
    const std::vector<std::string>& words = line.Positional;
    if (options.Help || (words.empty() && line.Unknown.empty()) || (!words.empty() && IsHelpSwitch(words[0]))) {
        Help(out);
        return ExitDone;
    }

    // The levels: every word before the function switch.
    const size_t levels = LevelCount(words);
    TJson document{{"format", 1}, {"levels", TJson::array()}};
    TJsonCapture runRefusal;
    int status = RefuseRun(line, levels, args, options.Json ? runRefusal : out);
    if (status >= 0) document["error"] = runRefusal.ErrorJson();
    else status = RunLevels(words, levels, options, keepLevel, saved, errorReport, out, document);
    if (options.Json) console.Raw(document.dump(2) + "\n");
    return status;
}

} // namespace qm
