#include "run.h"

#include <new>
#include <optional>
#include <utility>

#include "args.h"
#include "errors.h"
#include "functions.h"
#include "lock.h"
#include "platform.h"
#include "trlevel.h"

namespace qm {

namespace {

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

void Banner(TConsole& out) {
    out.Line("Quillmap V 1.0 - March 2001");
    out.Line("");
    out.Line("Some nice tools for TR levels");
    out.Line("Type Quillmap /h for get full info.");
    out.Line("");
}

// Ends a run with a one-line user error.
int Refuse(TConsole& out, const std::string& message) {
    out.Line(message);
    return ExitUserError;
}

// Resolves the room range from the arguments at fromPos and fromPos + 1. A range
// that does not start inside the level is refused with a message (false).
bool RoomRange(const TArgs& args, size_t fromPos, uint16_t roomCount, int32_t& from, int32_t& to, TConsole& out) {
    from = 0;
    to = int32_t(roomCount) - 1;
    if (args.Present(fromPos)) from = StrToInt(args.At(fromPos));
    if (args.Present(fromPos + 1)) to = StrToInt(args.At(fromPos + 1));
    if (to > int32_t(roomCount) - 1) to = int32_t(roomCount) - 1;
    if (from > to) to = from;
    if (roomCount == 0) {
        out.Line("This level has no rooms to change.");
        return false;
    }
    if (from < 0 || from >= int32_t(roomCount)) {
        out.Line("Room " + std::to_string(from) + " is outside this level (rooms 0 to " +
                 std::to_string(roomCount - 1) + ").");
        return false;
    }
    return true;
}

// What a function works with: the loaded level, the arguments, the output, the
// value converted from argument 3 (functions that take one) and the resolved
// room range (functions that take one).
struct TJob {
    Ttrlevel& Level;
    const TArgs& Args;
    TConsole& Out;
    int32_t Value = 0;
    int32_t From = 0, To = 0;
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
    int32_t MinVersion = 0;              // the lowest LevelVersion the function works on
    const char* TooOld = nullptr;        // the message for an older level
    const char* Progress = nullptr;      // the line printed after loading
    size_t RangeAt = 0;                  // the position of From_Room; 0 for no room range
    bool ShowsRooms = false;             // read-only: a level without rooms and no range shows none
    // A check of the arguments against the loaded level, after the room range
    // and before the work: the one-line message that refuses the run, or "".
    std::string (*CheckLoaded)(const TJob&) = nullptr;
    void (*Work)(TJob&) = nullptr;
    bool Saves = false;
};

void WorkStepSound(TJob& j) { EditStepSound(j.Level, uint16_t(j.Value), j.From, j.To); }
void WorkLaraLight(TJob& j) { EditLaraLight(j.Level, uint16_t(j.Value), j.From, j.To); }
void WorkWater(TJob& j) { EditRoomFlag(j.Level, 0x01, j.Value != 0, j.From, j.To); }
void WorkSky(TJob& j) { EditRoomFlag(j.Level, 0x08, j.Value != 0, j.From, j.To); }
void WorkQuickSand(TJob& j) { EditRoomFlag(j.Level, QuickSandFlag(j.Level), j.Value != 0, j.From, j.To); }
// The new texture word: the low 16 bits of argument 4, converted after the
// room range (a missing new id fails there).
uint16_t NewTextureWord(const TJob& j) { return uint16_t(StrToInt(j.Args.At(4))); }
std::string CheckTextures(const TJob& j) { return TextureRefusal(j.Level, NewTextureWord(j)); }
void WorkTextures(TJob& j) {
    const int32_t oldId = StrToInt(j.Args.At(3));
    EditTextures(j.Level, oldId, NewTextureWord(j), j.From, j.To);
}

// "/Map OUT.svg": the picture is drawn in memory, then stored crash-safely.
void WorkMap(TJob& j) {
    const std::string svg = MapSvg(j.Level, j.Args.At(1), j.From, j.To);
    j.Out.Line("Saving the map...");
    StoreMap(j.Args.At(3), svg);
    j.Out.Line("Done.");
}

constexpr const char* kMissing = "Missing parameter";
constexpr const char* kNoFlag = "Please especify 0 or 1";

// In the order of the help. A switch matches exactly one row, so the order of
// the rows does not change which function a switch selects.
constexpr TFunctionRow Functions[] = {
    {.Switch = "/INFO", .Help = "/Info = get level info", .Work = [](TJob& j) { PrintReport(j.Level, j.Out); }},
    {.Switch = "/STEP_SOUND", .Help = "/Step_sound  <floorSoundId> = replace floor sound ids. (0-3)", .Needed = 1,
     .Missing = kMissing, .NumberValue = true, .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .Progress = "Changing Floor Sound...", .RangeAt = 4,
     .Work = WorkStepSound, .Saves = true},
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
    {.Switch = "/TEXTURES", .Help = "/Textures <oldtextid> <newtextid> = Change textures ids", .Needed = 2,
     .Missing = kMissing, .NumberValue = true, .Progress = "Changing Textures Ids...", .RangeAt = 5,
     .CheckLoaded = CheckTextures, .Work = WorkTextures, .Saves = true},
    {.Switch = "/SHOWITEMS", .Help = "/ShowItems = Show ItemsId used in level",
     .Work = [](TJob& j) { PrintItemIds(j.Level, j.Out); }},
    {.Switch = "/SHOWSTATICS", .Help = "/Showstatics = Show Statics Mesh id used in levels",
     .Work = [](TJob& j) { PrintStaticIds(j.Level, j.Out); }},
    {.Switch = "/SHOWANIMTEXT", .Help = "/ShowAnimtext = Show animated textures table",
     .Work = [](TJob& j) { PrintAnimatedTextures(j.Level, j.Out); }},
    {.Switch = "/SHOWROOMS", .Help = "/ShowRooms = Show rooms table (position, size, flags, light, counts)",
     .RangeAt = 3, .ShowsRooms = true, .Work = [](TJob& j) { PrintRoomTable(j.Level, j.From, j.To, j.Out); }},
    {.Switch = "/MAP", .Help = "/Map <file.svg> = Draw the rooms seen from above into an SVG picture", .Needed = 1,
     .Missing = kMissing, .Check = [](const TArgs& a) { return MapTargetRefusal(a.At(3), a.At(1)); },
     .Progress = "Drawing the map...", .RangeAt = 4, .ShowsRooms = true, .Work = WorkMap},
};

void Help(TConsole& out) {
    out.Line("Sintax: Quillmap filename /<function>  From_Room To_Room");
    out.Line("");
    out.Line("<functions> availibles are:");
    for (const TFunctionRow& row : Functions) out.Line(row.Help);
    out.Line("");
    out.Line("If rooms range is not especified all rooms are assumed.");
}

const TFunctionRow* FindFunction(const std::string& text) {
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

// The steps of one matched function, from the argument check to "Done.".
int RunFunction(const TFunctionRow& fn, const TArgs& args, TConsole& out, Ttrlevel& level, bool* saved) {
    const std::string& name = args.At(1);
    if (fn.Needed > 0 && !AnyPresent(args, 3, fn.Needed)) return Refuse(out, fn.Missing);
    if (const char* refusal = fn.Check ? fn.Check(args) : nullptr) return Refuse(out, refusal);
    TJob job{.Level = level, .Args = args, .Out = out};
    if (fn.NumberValue) job.Value = StrToInt(args.At(3));

    // An edit holds the level's lock from before loading until its save is in
    // place, so that another edit of the level waits and then loads this one's
    // result instead of overwriting it.
    std::optional<TEditLock> lock;
    if (fn.Saves) lock.emplace(name, [&out] { out.Line("Waiting for another edit of this level to finish..."); });
    out.Line("Loading Level...");
    if (level.LoadLevel(name) != 0) return Refuse(out, "Invalid tr level format.");
    if (level.LevelVersion < fn.MinVersion) return Refuse(out, fn.TooOld);
    if (fn.Progress) out.Line(fn.Progress);
    if (fn.RangeAt > 0) {
        // Without a range, a function that only shows rooms shows none of a
        // level without rooms; the edits refuse such a level.
        if (fn.ShowsRooms && level.RoomCount == 0 && !AnyPresent(args, fn.RangeAt, 2)) job.To = -1;
        else if (!RoomRange(args, fn.RangeAt, level.RoomCount, job.From, job.To, out)) return ExitUserError;
    }
    if (fn.CheckLoaded)
        if (const std::string refusal = fn.CheckLoaded(job); !refusal.empty()) return Refuse(out, refusal);

    fn.Work(job);
    if (fn.Saves) {
        out.Line("Saving the level...");
        level.SaveLevel(name);
        if (saved) *saved = true;
        out.Line("Done.");
    }
    return ExitDone;
}

// "/h" in any case, and the help switches of other command-line programs: no
// level file can sensibly be called by any of these names.
bool IsHelpSwitch(const std::string& arg) {
    return UpperAscii(arg) == "/H" || arg == "-h" || arg == "--help" || arg == "/?";
}

int Run(const TArgs& args, TConsole& out, Ttrlevel& level, bool* saved) {
    if (args.At(1) == "--version") {
        out.Line("Quillmap " QM_VERSION);
        return ExitDone;
    }
    Banner(out);
    if (args.Count() == 0 || IsHelpSwitch(args.At(1))) {
        Help(out);
        return ExitDone;
    }
    const std::string& name = args.At(1);
    if (!FileExists(name)) return Refuse(out, name + " not found.");
    const TFunctionRow* fn = FindFunction(args.At(2));
    if (!fn) return Refuse(out, "Invalid command function, type Quillmap /h");
    return RunFunction(*fn, args, out, level, saved);
}

// Writes the error report to out, and keeps its lines in kept when given.
void ErrorReport(TConsole& out, std::string message, const std::string& where, std::vector<std::string>* kept) {
    if (message.empty() || message.back() != '.') message += '.';
    out.Line(message);
    if (!where.empty()) out.Line(where);
    if (!kept) return;
    kept->push_back(std::move(message));
    if (!where.empty()) kept->push_back(where);
}

} // namespace

// The level a run keeps to the end of the process: a global with external
// linkage, so the pointer is really stored and the level stays reachable (leak
// checkers do not count it as lost).
Ttrlevel* GKeptLevel = nullptr;

int RunTool(const std::vector<std::string>& args, TConsole& out, bool keepLevel, bool* saved,
            std::vector<std::string>* errorReport) {
    if (saved) *saved = false;
    if (errorReport) errorReport->clear();
    try {
        if (keepLevel) {
            GKeptLevel = new Ttrlevel;
            return Run(TArgs(args), out, *GKeptLevel, saved);
        }
        Ttrlevel level;
        return Run(TArgs(args), out, level, saved);
    } catch (const EQuillError& e) {
        ErrorReport(out, e.what(), e.Where, errorReport);
    } catch (const std::bad_alloc&) {
        ErrorReport(out, "Out of memory", "", errorReport);
    } catch (const std::exception& e) {
        ErrorReport(out, e.what(), "", errorReport);
    }
    return ExitError;
}

} // namespace qm
