// The run in three stages: the options, the levels, and for each level the
// function (run.cpp).
#include <algorithm>

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
    if (levels > 1 && !line.Options.Output.empty())
        return Refuse(out, "--output takes one level; " + std::to_string(levels) + " were given.");
    return -1;
}

// One level's part of the run; with --json its result or error is added to
// the document instead of being written.
int RunOneLevel(const std::vector<std::string>& levelArgs, const TOptions& options, TConsole& out, bool keep,
                bool* saved, TJson* document) {
    TJsonCapture capture;
    TJson result;
    TConsole& sink = document ? capture : out;
    TJson* resultSlot = document ? &result : nullptr;
    // The last level of the process is kept to its end; the others are
    // released before the next is loaded, so a run holds one level at a time.
    int status;
    if (keep) {
        GKeptLevel = new Ttrlevel;
        status = RunLevel(levelArgs, options, sink, *GKeptLevel, saved, resultSlot);
    } else {
        Ttrlevel level;
        status = RunLevel(levelArgs, options, sink, level, saved, resultSlot);
    }
    if (document) {
        TJson entry{{"level", levelArgs[0]}, {"status", status}};
        if (status != ExitDone) entry["error"] = capture.ErrorJson();
        else entry.update(result);
        (*document)["levels"].push_back(entry);
    }
    return status;
}

} // namespace

// A run in three stages: the options, the levels, and for each level the function.
int RunTool(const std::vector<std::string>& args, TConsole& console, bool keepLevel, bool* saved) {
    if (saved) *saved = false;
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
    if (status >= 0) {
        document["error"] = runRefusal.ErrorJson();
    } else {
        status = ExitDone;
        for (size_t i = 0; i < levels; ++i) {
            std::vector<std::string> levelArgs{words[i]};
            levelArgs.insert(levelArgs.end(), words.begin() + std::ptrdiff_t(levels), words.end());
            if (levels > 1 && !options.Json) out.Line("== " + words[i] + " ==");
            const bool keep = keepLevel && i + 1 == levels;
            status = std::max(status, RunOneLevel(levelArgs, options, out, keep, saved, options.Json ? &document : nullptr));
        }
    }
    if (options.Json) console.Raw(document.dump(2) + "\n");
    return status;
}

} // namespace qm