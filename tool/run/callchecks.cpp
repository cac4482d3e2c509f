// The checks of a level's run that come before loading, and the kind of an
// --output name.
#include "callchecks.h"

#include <algorithm>
#include <filesystem>

#include "kinds.h"
#include "pageimport.h"
#include "platform.h"
#include "utf8path.h"

namespace qm {

namespace {

bool IsFolder(const std::string& name) {
    std::error_code error;
    return !name.empty() && std::filesystem::is_directory(PathOf(name), error);
}

} // namespace

TStep CheckExists(const std::string& name) {
    if (FileExists(name)) return {};
    TFailure refusal{.Message = name + " not found."};
    if (FindRow(name)) refusal.Hint = "the level file comes first: quillmap LEVEL /Function \u2026";
    else if (IsFolder(name)) refusal.Hint = name + " is a folder, not a level file";
    return refusal;
}

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

namespace {

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
    if (fn.PictureAt > 0 && !args.Present(fn.PictureAt)) return Refusal(fn.Missing);
    return {};
}

// A picture no function before call `at` can have written is read now, with
// the argument checks: once for the whole run, however many levels take it.
// One that an earlier function may write is read when its function runs.
TStep ReadEarlyPicture(TCalls& calls, size_t at) {
    const TFunctionRow& fn = *calls.Rows[at];
    if (fn.PictureAt == 0) return {};
    const auto writesFiles = [](const TFunctionRow* row) { return row->FirstFile != nullptr; };
    if (std::any_of(calls.Rows.begin(), calls.Rows.begin() + ptrdiff_t(at), writesFiles)) return {};
    const TPagePicture& picture = PagePicture(calls.Args[at].At(fn.PictureAt));
    if (!picture.Refusal.empty()) return Refusal(picture.Refusal);
    calls.Pictures[at] = &picture;
    return {};
}

} // namespace

TStep CheckCalls(TCalls& calls, const TOptions& options, std::vector<int32_t>& values) {
    calls.Pictures.assign(calls.Rows.size(), nullptr);
    for (size_t i = 0; i < calls.Rows.size(); ++i) {
        if (TStep failure = CheckArguments(*calls.Rows[i], calls.Args[i])) return failure;
        if (TStep failure = ReadEarlyPicture(calls, i)) return failure;
    }
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

namespace {

// What a kind is called in the refusal of an --output name of another kind.
const char* KindLabel(int32_t kind) {
    switch (kind) {
    case KindTR1: return "TR1";
    case KindTUB: return ".TUB";
    case KindTR2: return "TR2";
    case KindTRG: return ".TRG";
    case KindTR4: return "TR4";
    case KindTRC: return ".TRC";
    default: return "other";
    }
}

} // namespace

// The kind of some levels is told by their file name (".TUB", ".TRG", ".TRC"
// beside the same signature): the level saved under a name that tells another
// kind would be read back as that kind, its items and fields misread. A real
// TR5 level is told by its content, whatever its name.
TStep CheckOutputKind(const Ttrlevel& level, const std::string& output) {
    if (output.empty() || level.LevelVersion == KindTR5) return {};
    const int32_t named = KindFromSignature(level.FileSignature, output);
    if (named == level.LevelVersion) return {};
    TFailure refusal = Refusal("--output " + output + " would be read as a " + KindLabel(named) + " level; this is a " +
                               KindLabel(level.LevelVersion) + " level.");
    refusal.Hint = "give --output a name that keeps the level's kind, as the level's own name does";
    return refusal;
}

} // namespace qm
