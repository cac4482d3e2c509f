// Output files that would overwrite a level, or each other.
#include "outputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "calls.h"
#include "errors.h"
#include "pages.h"
#include "utf8path.h"

namespace qm {

namespace {

namespace fs = std::filesystem;

// The first file a function that shows writes, as named from the arguments alone;
// "" when it writes none or the arguments do not say (the level refuses them).
std::string FirstOutput(const TFunctionRow& fn, const TArgs& args) {
    if (!fn.FirstFile) return "";
    try {
        return fn.FirstFile(args);
    } catch (const EConvertError&) {
        return "";
    }
}

// The name a file is compared by: the path with every link of its existing
// part followed, or as written when it cannot be resolved.
std::string PathKey(const std::string& name) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(PathOf(name), error), error);
    return error ? name : resolved.generic_string();
}

bool HasHardLinks(const std::string& name) {
    std::error_code error;
    const auto links = fs::hard_link_count(PathOf(name), error);
    return !error && links > 1 && links != static_cast<std::uintmax_t>(-1);
}

// The first file each function of a level writes, and the level's own file
// (or --output) once when one of them edits it.
std::vector<std::string> LevelOutputs(const TLevelRun& run, const TOptions& options) {
    std::vector<std::string> files;
    bool saves = false;
    for (const TArgs& call : FunctionCalls(run.Args)) {
        const TFunctionRow* fn = FindRow(call.At(2));
        if (!fn) break;
        if (fn->Saves()) {
            if (!saves) files.push_back(options.Output.empty() ? call.At(1) : options.Output);
            saves = true;
        } else if (std::string file = FirstOutput(*fn, call); !file.empty()) {
            files.push_back(std::move(file));
        }
    }
    return files;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return a == b || fs::equivalent(PathOf(a), PathOf(b), error);
}

std::string PagesOverLevelRefusal(const TJob& job) {
    for (int32_t page = job.From; page <= job.To; ++page) {
        const std::string file = PageFilePath(job.Args.At(3), page);
        if (SameFile(file, job.Args.At(1)))
            return "The pages cannot be written over the level file.\n" + file + " is the level under another name";
    }
    return "";
}

std::optional<TFailure> OutputClash(const std::vector<TLevelRun>& runs, const TOptions& options) {
    if (runs.size() < 2) return {};
    // Each file of each level, sorted by the path it resolves to: equal
    // neighbours of two levels clash. Files with a second name (hard links) are
    // also compared by identity.
    struct TOutput {
        std::string Key, File;
        size_t Level;
    };
    std::vector<TOutput> outputs;
    for (size_t i = 0; i < runs.size(); ++i)
        for (const std::string& file : LevelOutputs(runs[i], options)) outputs.push_back({PathKey(file), file, i});
    std::stable_sort(outputs.begin(), outputs.end(), [](const TOutput& x, const TOutput& y) {
        return x.Key != y.Key ? x.Key < y.Key : x.Level < y.Level;
    });
    struct TClash {
        size_t First, Second;
        std::string File;
    };
    std::optional<TClash> first;  // the clash of the earliest levels
    auto note = [&](const TOutput& x, const TOutput& y) {
        if (x.Level == y.Level) return;  // a level may write one file twice: the later function's wins
        const TOutput& a = x.Level < y.Level ? x : y;
        const TOutput& b = x.Level < y.Level ? y : x;
        if (!first || std::pair(a.Level, b.Level) < std::pair(first->First, first->Second))
            first = TClash{a.Level, b.Level, a.File};
    };
    for (size_t k = 1; k < outputs.size(); ++k)
        if (outputs[k].Key == outputs[k - 1].Key) note(outputs[k - 1], outputs[k]);
    std::vector<const TOutput*> linked;
    for (const TOutput& o : outputs)
        if (HasHardLinks(o.File)) linked.push_back(&o);
    for (size_t x = 0; x < linked.size(); ++x)
        for (size_t y = x + 1; y < linked.size(); ++y)
            if (linked[x]->Key != linked[y]->Key && SameFile(linked[x]->File, linked[y]->File)) note(*linked[x], *linked[y]);
    if (!first) return {};
    return Refusal(runs[first->First].Args[0] + " and " + runs[first->Second].Args[0] + " would both write " +
                   first->File);
}

} // namespace qm
