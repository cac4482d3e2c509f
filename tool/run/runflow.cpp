// The run in three stages: the options, the levels, and for each level the
// function (levelrun.cpp); then the results, as text or as one JSON document.
#include <algorithm>
#include <exception>
#include <new>

#include "functable.h"
#include "jsonout.h"
#include "jsonvalue.h"
#include "levels.h"
#include "options.h"
#include "outputs.h"
#include "platform.h"
#include "run.h"
#include "runlevel.h"
#include "textout.h"
#include "utf8path.h"
#include "version.h"

namespace qm {

namespace {

// A word that looks like an option but is none, wherever it stands. The second
// line says what may have been meant: a function written with "-", an option
// it nearly spells, and how to reach a file that really has that name.
TFailure UnknownOption(const std::string& word) {
    TFailure refusal{.Message = "Unknown option " + word};
    const size_t dashes = std::min(word.find_first_not_of('-'), word.size());
    const std::string function = NearestFunction(word.substr(dashes));
    const bool named = FindRow(std::string("/").append(word, dashes)) != nullptr;  // "-Info": the function exactly
    const std::string likely = LikelyOption(word);
    if (!function.empty() && (named || likely.empty()))
        refusal.Hint = "functions start with /: did you mean " + function + "?";
    else if (!likely.empty()) refusal.Hint = word + " is not an option of Quillmap: did you mean " + likely + "?";
    else refusal.Hint = word + " is not an option of Quillmap, type Quillmap /h";
    if (FileExists(word))
        refusal.Hint += " (the file " + word + " is reached after --: quillmap -- " + word + " /Function \u2026)";
    return refusal;
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
// option without its value, or options that do not go together.
std::optional<TFailure> RefuseRun(const TCommandLine& line, size_t levels) {
    if (!line.Unknown.empty()) return UnknownOption(line.Unknown);
    if (!line.MissingValue.empty()) return Refusal(line.MissingValue + " needs a value, type Quillmap /h");
    if (line.Options.Jobs < 1 || line.Options.Jobs > 256)
        return Refusal("--jobs needs a number of levels from 1 to 256.");
    if (line.Options.Storey < 0) return Refusal("--storey needs a storey number from 1 (the lowest), not '" + line.Options.StoreyText + "'.");
    if (levels > 1 && !line.Options.Output.empty())
        return Refusal("--output takes one level; " + std::to_string(levels) + " were given.");
    return {};
}

// The level's file name without its folder and extension.
std::string LevelStem(const std::string& level) {
    const std::u8string stem = PathOf(level).stem().u8string();
    return std::string(stem.begin(), stem.end());
}

// "{name}" in the file a function writes (the word after its switch: /Map's
// picture, /ExportPages' folder) becomes the level's name, so that one run
// writes one picture per level.
void NameOutputs(std::vector<std::string>& args) {
    static const std::string Mark = "{name}";
    for (size_t k = 1; k + 1 < args.size(); ++k) {
        const TFunctionRow* fn = FindRow(args[k]);
        if (!fn || !fn->FirstFile) continue;
        std::string& file = args[k + 1];
        for (size_t at = file.find(Mark); at != std::string::npos; at = file.find(Mark, at))
            file.replace(at, Mark.size(), LevelStem(args[0])), at += LevelStem(args[0]).size();
    }
}

// Each level's name, then the function switch and its arguments.
std::vector<TLevelRun> LevelRuns(const std::vector<std::string>& words, size_t levels) {
    std::vector<TLevelRun> runs(levels);
    for (size_t i = 0; i < levels; ++i) {
        runs[i].Args = {words[i]};
        runs[i].Args.insert(runs[i].Args.end(), words.begin() + std::ptrdiff_t(levels), words.end());
        NameOutputs(runs[i].Args);
        runs[i].Header = levels > 1;
        // Any word that names a function writing a file counts (taken widely:
        // a run that may write is never cut short).
        runs[i].Writes = std::any_of(runs[i].Args.begin() + 1, runs[i].Args.end(), [](const std::string& word) {
            const TFunctionRow* row = FindRow(word);
            return row && (row->Saves() || row->FirstFile);
        });
    }
    return runs;
}

// The document of a run that has the levels' results. A level of one
// function (or refused before any) has the result's members in its entry; a
// level of several has one entry per function that ran, in order, under
// "functions", the one whose failure ended the level last; a failure of the
// save, which is no function's, is the entry's "error".
TJson Document(const std::vector<TLevelRun>& runs) {
    TJson document{{"format", 1}, {"levels", TJson::array()}};
    for (const TLevelRun& run : runs) {
        TJson entry{{"level", run.Args[0]}, {"status", StatusOf(run.Results)}};
        if (run.Results.size() == 1) AddJson(run.Results.front().Result, entry);
        else {
            entry["functions"] = TJson::array();
            for (const TStepResult& step : run.Results) {
                if (step.Function.empty()) {
                    AddJson(step.Result, entry);
                    continue;
                }
                TJson function{{"function", step.Function}, {"status", StatusOf(step.Result)}};
                AddJson(step.Result, function);
                entry["functions"].push_back(std::move(function));
            }
        }
        document["levels"].push_back(std::move(entry));
    }
    return document;
}

// The lines of the error reports, for saying them elsewhere when standard
// output is lost.
void KeepReports(const std::vector<TLevelRun>& runs, std::vector<std::string>& report) {
    for (const TLevelRun& run : runs) {
        const TFailure* failure = run.Results.empty() ? nullptr : std::get_if<TFailure>(&run.Results.back().Result);
        if (!failure || failure->Form != TFailure::TForm::Report) continue;
        std::string message = failure->Message;
        if (message.empty() || message.back() != '.') message += '.';
        report.push_back(message);
        if (!failure->Place.empty()) report.push_back(failure->Place);
    }
}

// The run after its options are read: help, refusal, or the levels.
int RunWords(const TCommandLine& line, TConsole& console, bool keepLevel,
             std::vector<TLevelRun>& runs) {
    const TOptions& options = line.Options;
    TQuietConsole quiet(console);
    TConsole& out = options.Quiet || options.Json ? quiet : console;
    if (!options.Quiet && !options.Json) Banner(out);
    const std::vector<std::string>& words = line.Positional;
    if (options.Help || (words.empty() && line.Unknown.empty()) || (!words.empty() && IsHelpSwitch(words[0]))) {
        if (!options.Json) Help(out);
        else console.Raw(DocumentText({{"format", 1}, {"help", HelpLines()}}));
        return ExitDone;
    }
    const size_t levels = LevelCount(words);
    std::optional<TFailure> refusal = RefuseRun(line, levels);
    std::vector<TLevelRun> planned = refusal ? std::vector<TLevelRun>{} : LevelRuns(words, levels);
    if (!refusal) refusal = OutputClash(planned, options);
    if (refusal) {
        if (!options.Json) WriteText(*refusal, out);
        else console.Raw(DocumentText({{"format", 1}, {"levels", TJson::array()}, {"error", FailureJson(*refusal)}}));
        return refusal->Status;
    }
    runs = std::move(planned);
    RunLevels(runs, options, keepLevel, out);
    if (options.Json) console.Raw(DocumentText(Document(runs)));
    int status = ExitDone;
    for (const TLevelRun& run : runs) status = std::max(status, StatusOf(run.Results));
    return status;
}

// An exception nobody expected ends the run with an error report that still
// says which levels were saved before it.
TFailure Unexpected(const std::exception_ptr& error, const std::vector<TLevelRun>& runs) {
    TFailure report{.Form = TFailure::TForm::Report, .Message = "An unexpected error ended the run", .Status = ExitError};
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        report.Message = "Out of memory";
    } catch (const std::exception& e) {
        report.Message = e.what();
    } catch (...) {
    }
    std::string saved;
    for (const TLevelRun& run : runs)
        if (run.Saved) saved += (saved.empty() ? "" : ", ") + run.Args[0];
    report.Hint = saved.empty() ? "no level was saved" : "saved before it: " + saved;
    return report;
}

} // namespace

int RunTool(const std::vector<std::string>& args, TConsole& console, bool keepLevel, bool* saved,
            std::vector<std::string>* errorReport) {
    if (saved) *saved = false;
    if (errorReport) errorReport->clear();
    const TCommandLine line = ParseCommandLine(args);
    if (line.Options.Version) {
        if (!line.Options.Json) console.Line(VersionLine(ThisBuild()));
        else console.Raw(DocumentText(VersionDocument(ThisBuild())));
        return ExitDone;
    }
    std::vector<TLevelRun> runs;
    int status = ExitDone;
    try {
        status = RunWords(line, console, keepLevel, runs);
        if (errorReport) KeepReports(runs, *errorReport);
    } catch (...) {
        const TFailure report = Unexpected(std::current_exception(), runs);
        if (!line.Options.Json) WriteText(report, console);
        else console.Raw(DocumentText({{"format", 1}, {"levels", TJson::array()}, {"error", FailureJson(report)}}));
        if (errorReport) *errorReport = {report.Message + (report.Message.ends_with('.') ? "" : "."), report.Hint};
        status = ExitError;
    }
    for (const TLevelRun& run : runs)
        if (saved && run.Saved) *saved = true;
    return status;
}

} // namespace qm
