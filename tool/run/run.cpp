// One level's part of a run: the function table, and the steps of one function
// from the argument checks to the save.
#include "run.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>

#include "args.h"
#include "backup.h"
#include "dryrun.h"
#include "errors.h"
#include "functions.h"
#include "jsonout.h"
#include "lock.h"
#include "materials.h"
#include "options.h"
#include "pageimport.h"
#include "pages.h"
#include "platform.h"
#include "range.h"
#include "roomflags.h"
#include "roomset.h"
#include "runlevel.h"
#include "trlevel.h"
#include "utf8path.h"
#include "views.h"
#include "water.h"

namespace qm {

namespace {

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

} // namespace

void Banner(TConsole& out) {
    out.Line("Quillmap V 1.0 - March 2001");
    out.Line("");
    out.Line("Some nice tools for TR levels");
    out.Line("Type Quillmap /h for get full info.");
    out.Line("");
}

int Refuse(TConsole& out, const std::string& message) {
    // A refusal may carry a second line that says what was meant.
    const size_t newline = message.find('\n');
    out.Line(message.substr(0, newline));
    if (newline != std::string::npos) out.Line(message.substr(newline + 1));
    return ExitUserError;
}

namespace {

// What a function works with: the loaded level, the arguments, the output, the
// value converted from argument 3 (functions that take one) and the resolved
// room range (functions that take one).
struct TJob {
    Ttrlevel& Level;
    const TArgs& Args;
    TConsole& Out;
    bool DryRun = false;  // show what would be written, write nothing
    TJson* Result = nullptr;  // --json: the function's result goes here instead of to Out
    int32_t Value = 0;
    int32_t From = 0, To = 0;
    const std::vector<int32_t>* Rooms = nullptr;  // a row with WholeSet: the rooms of its set
};

// One function of the tool. A run matches the switch, then takes these steps in
// order, each only when the row asks for it: the argument checks, the conversion
// of argument 3, loading, the version test, the progress line, the room range,
// the check against the loaded level, the work, and saving with its two lines.
// A new function is one more row.
struct TFunctionRow {
    const char* Switch;                  // upper case; matched against argument 2 upper-cased
    const char* Help;                    // the function's line of the help
    size_t Needed = 0;                   // arguments 3 .. 2 + Needed: at least one must be present
    const char* Missing = nullptr;       // the message when none of them is
    // A further check of the arguments before loading (a file name to write, for
    // example): the one-line message that refuses the run, or nullptr.
    const char* (*Check)(const TArgs&) = nullptr;
    bool NumberValue = false;            // argument 3 is a number, converted before loading
    int32_t (*ValueOf)(const TArgs&) = nullptr;  // or this conversion of the arguments instead of StrToInt
    int32_t MinVersion = 0;              // the lowest LevelVersion the function works on
    const char* TooOld = nullptr;        // the message for an older level
    const char* Progress = nullptr;      // the line printed after loading
    std::string (*ProgressOf)(const TArgs&) = nullptr;  // or that line, made from the arguments
    size_t RangeAt = 0;                  // the position of From_Room; 0 for no room range
    bool Pages = false;                  // the range counts texture pages, not rooms
    bool ShowsRooms = false;             // read-only: a level without rooms and no range shows none
    // A check of the arguments against the loaded level, after the room range
    // and before the work: the one-line message that refuses the run, or "".
    std::string (*CheckLoaded)(const TJob&) = nullptr;
    void (*Work)(TJob&) = nullptr;
    bool Saves = false;
    // An edit whose work takes its whole room set at once (job.Rooms) and says
    // itself what it changed, also in a dry run.
    bool WholeSet = false;
};

// "/Step_sound": a material name stores its value; a number is mapped as always.
int32_t StepSoundValue(const TArgs& a) {
    const auto material = MaterialOfName(a.At(3));
    return material ? *material : MapFloorSound(uint16_t(StrToInt(a.At(3))));
}
void WorkStepSound(TJob& j) { SetMaterial(j.Level, uint16_t(j.Value), j.From, j.To); }
void WorkReplaceSound(TJob& j) {
    ReplaceMaterial(j.Level, *MaterialOf(j.Args.At(3)), *MaterialOf(j.Args.At(4)), j.From, j.To);
}
void WorkLaraLight(TJob& j) { EditLaraLight(j.Level, uint16_t(j.Value), j.From, j.To); }
void WorkWater(TJob& j) { EditRoomFlag(j.Level, WaterBit, j.Value != 0, j.From, j.To); }
void WorkSky(TJob& j) { EditRoomFlag(j.Level, SkyBit, j.Value != 0, j.From, j.To); }
void WorkQuickSand(TJob& j) { EditRoomFlag(j.Level, QuickSandFlag(j.Level), j.Value != 0, j.From, j.To); }
// The new texture word: the low 16 bits of argument 4, converted after the
// room range (a missing new id fails there).
uint16_t NewTextureWord(const TJob& j) { return uint16_t(StrToInt(j.Args.At(4))); }
std::string CheckTextures(const TJob& j) { return TextureRefusal(j.Level, NewTextureWord(j)); }
void WorkTextures(TJob& j) {
    const int32_t oldId = StrToInt(j.Args.At(3));
    EditTextures(j.Level, oldId, NewTextureWord(j), j.From, j.To);
}

bool IsFolder(const std::string& name) {
    std::error_code error;
    return !name.empty() && std::filesystem::is_directory(PathOf(name), error);
}

// The line under a failed store of a new file whose folder is not there.
std::string MissingFolderHint(const std::string& fileName) {
    const std::filesystem::path folder = PathOf(fileName).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::exists(folder, error)) return {};
    const std::u8string name = folder.u8string();
    return "the folder " + std::string(name.begin(), name.end()) + " does not exist";
}

// "/Map OUT.svg": the picture is drawn in memory, then stored crash-safely.
void WorkMap(TJob& j) {
    const std::string svg = MapSvg(j.Level, j.Args.At(1), j.From, j.To);
    if (j.DryRun) {
        j.Out.Line("The map was drawn; nothing was saved.");
        return;
    }
    j.Out.Progress("Saving the map...");
    try {
        StoreMap(j.Args.At(3), svg);
        if (j.Result) *j.Result = TJson{{"saved", j.Args.At(3)}};
    } catch (EQuillError& e) {
        e.Hint = MissingFolderHint(j.Args.At(3));
        throw;
    }
    j.Out.Line("Done.");
}

constexpr const char* kMissing = "Missing parameter";
constexpr const char* kNoFlag = "Please especify 0 or 1";

// "/Replace_sound OLD NEW": names or stored values, both checked before loading.
const char* MaterialsRefusal(const TArgs& a) {
    if (!a.Present(3) || !a.Present(4)) return kMissing;
    thread_local std::string refusal;  // kept until the run has reported it
    refusal = MaterialRefusal(a.At(3));
    if (refusal.empty()) refusal = MaterialRefusal(a.At(4));
    return refusal.empty() ? nullptr : refusal.c_str();
}

// "/ImportPage N FILE.png": the picture is read and checked before loading,
// once per run; the work takes the pixels read then.
const char* PictureRefusal(const TArgs& a) {
    if (!a.Present(4)) return kMissing;
    const TPagePicture& picture = PagePicture(a.At(4));
    return picture.Refusal.empty() ? nullptr : picture.Refusal.c_str();
}
void WorkImportPage(TJob& j) {
    const TPagePicture& picture = PagePicture(j.Args.At(4));
    if (!picture.Refusal.empty()) throw EQuillError(picture.Refusal, j.Args.At(4));
    j.Out.Progress("Replacing page " + std::to_string(j.Value) + "...");
    ImportPage(j.Level, j.Value, picture.Rgba);
    if (j.DryRun) j.Out.Line("The page was converted; nothing was saved.");
}

// "/Flag NAME 0|1": the name (or raw bits) and the value are checked before
// loading; the kind's bit after it.
TFlagChoice FlagOf(const TJob& j) { return *ParseFlag(j.Args.At(3)); }
std::string CheckFlagKind(const TJob& j) {
    const TFlagChoice flag = FlagOf(j);
    if (flag.Raw || FlagBits(flag, j.Level) != 0) return "";
    return "The flag " + FlagLabel(flag) + " is not in " + FlagKindName(j.Level) + " levels.";
}
void WorkFlag(TJob& j) {
    EditRoomFlag(j.Level, FlagBits(FlagOf(j), j.Level), StrToInt(j.Args.At(4)) != 0, j.From, j.To);
}

// "/Flood", "/Drain": the notes after the edit, before the save.
void ShowWaterEdit(TJob& j, const TWaterEdit& edit) {
    if (j.Result) *j.Result = WaterEditJson(edit, j.DryRun);
    else PrintWaterEdit(edit, j.DryRun, j.Out);
}
void WorkShowWater(TJob& j) {
    const std::vector<TWaterRoom> rooms = WaterRooms(j.Level, j.From, j.To);
    j.Result ? void(*j.Result = TJson{{"rooms", WaterRoomsJson(rooms)}}) : PrintWaterRooms(rooms, j.Out);
}

void WorkRoomColour(TJob& j) {
    const auto byte = [&j](size_t at) { return uint8_t(StrToInt(j.Args.At(at))); };
    EditRoomColour(j.Level, byte(3), byte(4), byte(5), j.From, j.To);
}

// In the order of the help. A switch matches exactly one row, so the order of
// the rows does not change which function a switch selects.
constexpr TFunctionRow Functions[] = {
    {.Switch = "/INFO", .Help = "/Info = get level info", .Work = [](TJob& j) { j.Result ? void(*j.Result = TJson{{"report", ReportJson(j.Level)}}) : PrintReport(j.Level, j.Out); }},
    {.Switch = "/STEP_SOUND", .Help = "/Step_sound  <floorSoundId> = replace floor sound ids. (0-3)", .Needed = 1,
     .Missing = kMissing, .NumberValue = true, .ValueOf = StepSoundValue, .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .Progress = "Changing Floor Sound...", .RangeAt = 4,
     .Work = WorkStepSound, .Saves = true},
    {.Switch = "/REPLACE_SOUND", .Help = "/Replace_sound <old> <new> = change one floor sound (material) into another",
     .Needed = 2, .Missing = kMissing, .Check = MaterialsRefusal, .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .Progress = "Changing Floor Sound...", .RangeAt = 5,
     .Work = WorkReplaceSound, .Saves = true},
    {.Switch = "/LARA_LIGHT", .Help = "/Lara_Light <newlaralight> = change Lara light 0-31", .Needed = 1,
     .Missing = kMissing, .NumberValue = true, .Progress = "Changing Lara Light...", .RangeAt = 4,
     .Work = WorkLaraLight, .Saves = true},
    {.Switch = "/SKY", .Help = "/Sky  0/1  = enable/disable sky", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the Sky...", .RangeAt = 4, .Work = WorkSky, .Saves = true},
    {.Switch = "/WATER", .Help = "/Water 0/1 = enable/disable water", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the water...", .RangeAt = 4, .Work = WorkWater, .Saves = true},
    {.Switch = "/QUICKSAND", .Help = "/QuickSand 0/1 = enable/disable quicksand", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the Quicksand...", .RangeAt = 4, .Work = WorkQuickSand,
     .Saves = true},
    {.Switch = "/FLAG", .Help = "/Flag <name> 0/1 = enable/disable a room flag (Water, Sky, Wind, QuickSand ...)",
     .Needed = 2, .Missing = kMissing, .Check = FlagRefusal,
     .ProgressOf = [](const TArgs& a) { return "Turning On/Off the " + FlagLabel(*ParseFlag(a.At(3))) + "..."; },
     .RangeAt = 5, .CheckLoaded = CheckFlagKind, .Work = WorkFlag, .Saves = true},
    {.Switch = "/ROOM_COLOUR", .Help = "/Room_Colour <R> <G> <B> = change room colour (0-255 each)", .Needed = 3,
     .Missing = kMissing, .Check = ColourRefusal, .MinVersion = KindTR4,
     .TooOld = "Function Only for Tr4 and above version", .Progress = "Changing Room Colour...", .RangeAt = 6,
     .Work = WorkRoomColour, .Saves = true},
    {.Switch = "/FLOOD", .Help = "/Flood = flood the dry rooms (water flag; TR3 and TR4 also the shimmer of their vertices)",
     .Progress = "Flooding the rooms...", .RangeAt = 3,
     .Work = [](TJob& j) { ShowWaterEdit(j, Flood(j.Level, *j.Rooms)); }, .Saves = true, .WholeSet = true},
    {.Switch = "/DRAIN", .Help = "/Drain = drain the water rooms (water flag; TR3 and TR4 also the shimmer and waves)",
     .Progress = "Draining the rooms...", .RangeAt = 3,
     .Work = [](TJob& j) { ShowWaterEdit(j, Drain(j.Level, *j.Rooms)); }, .Saves = true, .WholeSet = true},
    {.Switch = "/TEXTURES", .Help = "/Textures <oldtextid> <newtextid> = Change textures ids", .Needed = 2,
     .Missing = kMissing, .NumberValue = true, .Progress = "Changing Textures Ids...", .RangeAt = 5,
     .CheckLoaded = CheckTextures, .Work = WorkTextures, .Saves = true},
    {.Switch = "/SHOWITEMS", .Help = "/ShowItems = Show ItemsId used in level",
     .Work = [](TJob& j) { j.Result ? void(*j.Result = TJson{{"items", ItemIds(j.Level)}}) : PrintItemIds(j.Level, j.Out); }},
    {.Switch = "/SHOWSTATICS", .Help = "/Showstatics = Show Statics Mesh id used in levels",
     .Work = [](TJob& j) { j.Result ? void(*j.Result = TJson{{"statics", StaticIds(j.Level)}}) : PrintStaticIds(j.Level, j.Out); }},
    {.Switch = "/SHOWANIMTEXT", .Help = "/ShowAnimtext = Show animated textures table",
     .Work = [](TJob& j) {
         j.Result ? void(*j.Result = TJson{{"animatedTextures", AnimatedTextureGroups(j.Level)}})
                  : PrintAnimatedTextures(j.Level, j.Out);
     }},
    {.Switch = "/SHOWROOMS", .Help = "/ShowRooms = Show rooms table (position, size, flags, light, counts)",
     .RangeAt = 3, .ShowsRooms = true, .Work = [](TJob& j) {
         j.Result ? void(*j.Result = TJson{{"rooms", RoomTableJson(j.Level, j.From, j.To)}})
                  : PrintRoomTable(j.Level, j.From, j.To, j.Out);
     }},
    {.Switch = "/SHOWWATER", .Help = "/ShowWater = Show water rooms, the rooms above and below, surfaces and vertex effects",
     .RangeAt = 3, .ShowsRooms = true, .Work = WorkShowWater},
    {.Switch = "/SHOWSOUNDS", .Help = "/ShowSounds = Show floor sound ids and their sectors per room", .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .RangeAt = 3, .ShowsRooms = true, .Work = [](TJob& j) {
         j.Result ? void(*j.Result = TJson{{"rooms", RoomSoundsJson(j.Level, j.From, j.To)}})
                  : PrintRoomSounds(j.Level, j.From, j.To, j.Out);
     }},
    {.Switch = "/SHOWTEXTURES", .Help = "/ShowTextures = Show textures ids and their faces per room", .RangeAt = 3,
     .ShowsRooms = true, .Work = [](TJob& j) {
         j.Result ? void(*j.Result = TJson{{"rooms", RoomTexturesJson(j.Level, j.From, j.To)}})
                  : PrintRoomTextures(j.Level, j.From, j.To, j.Out);
     }},
    {.Switch = "/MAP", .Help = "/Map <file.svg> = Draw the rooms seen from above into an SVG picture", .Needed = 1,
     .Missing = kMissing, .Check = [](const TArgs& a) { return MapTargetRefusal(a.At(3), a.At(1)); },
     .Progress = "Drawing the map...", .RangeAt = 4, .ShowsRooms = true, .Work = WorkMap},
    {.Switch = "/EXPORTPAGES", .Help = "/ExportPages <folder> = Write texture pages as PNG pictures page_000.png ...",
     .Needed = 1, .Missing = kMissing, .RangeAt = 4, .Pages = true, .Work = [](TJob& j) {
         ExportPages(j.Level, j.Args.At(3), j.From, j.To, j.DryRun, j.Out, j.Result);
     }},
    {.Switch = "/IMPORTPAGE", .Help = "/ImportPage <page> <file.png> = Replace a texture page with a 256x256 PNG picture",
     .Needed = 2, .Missing = kMissing, .Check = PictureRefusal, .NumberValue = true,
     .CheckLoaded = [](const TJob& j) { return PageRefusal(j.Level, j.Value); }, .Work = WorkImportPage, .Saves = true},
};

} // namespace

void Help(TConsole& out) {
    out.Line("Sintax: Quillmap filename /<function>  From_Room To_Room");
    out.Line("");
    out.Line("<functions> availibles are:");
    for (const TFunctionRow& row : Functions) out.Line(row.Help);
    out.Line("");
    out.Line("If rooms range is not especified all rooms are assumed.");
}

namespace {

const TFunctionRow* FindRow(const std::string& text) {
    const std::string wanted = UpperAscii(text);
    for (const TFunctionRow& row : Functions)
        if (wanted == row.Switch) return &row;
    return nullptr;
}

bool AnyPresent(const TArgs& args, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (args.Present(first + i)) return true;
    return false;
}

// nullptr when the edited level may be written to output (none given: the
// level itself); otherwise the one-line message that refuses it. The level
// must never be replaced through another of its names.
const char* OutputRefusal(const TFunctionRow& fn, const std::string& output, const std::string& levelName) {
    if (output.empty()) return nullptr;
    if (!fn.Saves) return "--output is for the functions that edit a level.";
    std::error_code error;
    if (output == levelName || std::filesystem::equivalent(PathOf(output), PathOf(levelName), error))
        return "--output must name another file than the level.";
    if (IsFolder(output)) return "--output must name a file, not a folder.";
    return nullptr;
}

// The work of a function: a function that shows or draws rooms takes the job's
// range as it is; an edit runs over each run of consecutive rooms of its set.
void WorkOn(const TFunctionRow& fn, const std::vector<int32_t>& rooms, TJob& job) {
    if (!fn.Saves || fn.RangeAt == 0) return fn.Work(job);
    if (fn.WholeSet) {
        job.Rooms = &rooms;
        return fn.Work(job);
    }
    for (const auto& [first, last] : RoomSpans(rooms)) {
        job.From = first;
        job.To = last;
        fn.Work(job);
    }
}

// The steps of one matched function, from the argument check to "Done.".
int RunFunction(const TFunctionRow& fn, const TArgs& args, const TOptions& options, TConsole& out, Ttrlevel& level,
                bool* saved, TJson* result) {
    const std::string& name = args.At(1);
    if (fn.Needed > 0 && !AnyPresent(args, 3, fn.Needed)) return Refuse(out, fn.Missing);
    if (const char* refusal = fn.Check ? fn.Check(args) : nullptr) return Refuse(out, refusal);
    if (const char* refusal = OutputRefusal(fn, options.Output, name)) return Refuse(out, refusal);
    if (options.Alternates && !fn.Saves) return Refuse(out, "--alternates is for the functions that edit a level.");
    TJob job{.Level = level, .Args = args, .Out = out, .DryRun = options.DryRun, .Result = result};
    if (fn.NumberValue) job.Value = fn.ValueOf ? fn.ValueOf(args) : StrToInt(args.At(3));

    // An edit holds the level's lock from before loading until its save is in
    // place, so that another edit of the level waits and then loads this one's
    // result instead of overwriting it. A dry run and a save to another file
    // leave the level as it is and need none.
    std::optional<TEditLock> lock;
    if (fn.Saves && !options.DryRun && options.Output.empty())
        lock.emplace(name, [&out] { out.Line("Waiting for another edit of this level to finish..."); });
    out.Progress("Loading Level...");
    if (level.LoadLevel(name) != 0) return Refuse(out, "Invalid tr level format.");
    if (level.LevelVersion < fn.MinVersion) return Refuse(out, fn.TooOld);
    if (fn.Progress) out.Progress(fn.Progress);
    else if (fn.ProgressOf) out.Progress(fn.ProgressOf(args));
    if (fn.RangeAt > 0) {
        // Without a range, a function that only shows rooms shows none of a
        // level without rooms; the edits refuse such a level.
        if (fn.ShowsRooms && level.RoomCount == 0 && !AnyPresent(args, fn.RangeAt, 2)) job.To = -1;
        else if (!ResolveRange(args, fn.RangeAt, fn.Pages ? PictureCount(level) : int32_t(level.RoomCount),
                               fn.Pages ? PageWords : RoomWords, job.From, job.To, out))
            return ExitUserError;
    }
    if (fn.CheckLoaded)
        if (const std::string refusal = fn.CheckLoaded(job); !refusal.empty()) return Refuse(out, refusal);

    // An edit acts on the range and, with --alternates, on the flip rooms of
    // the range too: once for each run of consecutive rooms of that set.
    // A dry run keeps those rooms as they were, to show what the edit changed.
    const bool preview = fn.Saves && options.DryRun;
    const std::vector<int32_t> rooms = fn.Saves && fn.RangeAt > 0 ? RoomSet(level, job.From, job.To, options.Alternates)
                                                : std::vector<int32_t>{};
    const std::vector<TRoomBefore> before = preview ? RoomsBefore(level, rooms) : std::vector<TRoomBefore>{};
    WorkOn(fn, rooms, job);
    if (preview && (fn.RangeAt == 0 || fn.WholeSet)) return ExitDone;  // such an edit says what it did itself
    if (preview) {
        const std::vector<TRoomChange> changes = RoomChanges(before, level, rooms);
        if (result) *result = TJson{{"changes", RoomChangesJson(changes)}};
        else PrintRoomChanges(changes, out);
        return ExitDone;
    }
    if (fn.Saves) {
        out.Progress("Saving the level...");
        const std::string& target = options.Output.empty() ? name : options.Output;
        if (options.Backup && options.Output.empty()) KeepBackup(name, level.Stamp);
        level.SaveLevel(target);
        if (saved) *saved = true;
        if (result) (*result)["saved"] = target;  // after what the work put there
        out.Line("Done.");
    }
    return ExitDone;
}

// The line under "X not found." that says what was probably meant.
void NotFoundHint(const std::string& name, TConsole& out) {
    if (FindRow(name)) out.Line("the level file comes first: quillmap LEVEL /Function \u2026");
    else if (IsFolder(name)) out.Line(name + " is a folder, not a level file");
}

} // namespace

bool IsFunctionSwitch(const std::string& text) { return FindRow(text) != nullptr; }

// "/h" in any case, and "/?": no level file can sensibly be called by either
// name. The option spellings -h and --help are options and may stand anywhere.
bool IsHelpSwitch(const std::string& arg) { return UpperAscii(arg) == "/H" || arg == "/?"; }

// One level of a run: the existence test, then the function, as a run of this
// level alone would take them. An error ends this level only.
int RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options, TConsole& out, Ttrlevel& level,
             bool* saved, TJson* result) {
    const TArgs args(levelArgs);
    try {
        const std::string& name = args.At(1);
        if (!FileExists(name)) {
            out.Line(name + " not found.");
            NotFoundHint(name, out);
            return ExitUserError;
        }
        const TFunctionRow* fn = FindRow(args.At(2));
        if (!fn) return Refuse(out, "Invalid command function, type Quillmap /h");
        return RunFunction(*fn, args, options, out, level, saved, result);
    } catch (const EQuillError& e) {
        out.Error(e.what(), e.Where, e.Hint);
    } catch (const std::bad_alloc&) {
        out.Error("Out of memory", "", "");
    } catch (const std::exception& e) {
        out.Error(e.what(), "", "");
    }
    return ExitError;
}

} // namespace qm
