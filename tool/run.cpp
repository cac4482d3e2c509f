#include "run.h"

#include <new>

#include "args.h"
#include "errors.h"
#include "functions.h"
#include "platform.h"
#include "trlevel.h"

namespace qm {

namespace {

enum class TFunction { Info, StepSound, LaraLight, Water, Sky, QuickSand, Textures, ShowItems, ShowStatics, ShowAnimText, ShowRooms, Map };

struct TSwitch {
    const char* Text;
    TFunction Function;
};

constexpr TSwitch Switches[] = {
    {"/INFO", TFunction::Info},           {"/STEP_SOUND", TFunction::StepSound},
    {"/LARA_LIGHT", TFunction::LaraLight}, {"/WATER", TFunction::Water},
    {"/SKY", TFunction::Sky},             {"/QUICKSAND", TFunction::QuickSand},
    {"/TEXTURES", TFunction::Textures},   {"/SHOWITEMS", TFunction::ShowItems},
    {"/SHOWSTATICS", TFunction::ShowStatics}, {"/SHOWANIMTEXT", TFunction::ShowAnimText},
    {"/SHOWROOMS", TFunction::ShowRooms},     {"/MAP", TFunction::Map},
};

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

void Help(TConsole& out) {
    static const char* const lines[] = {
        "Sintax: Quillmap filename /<function>  From_Room To_Room",
        "",
        "<functions> availibles are:",
        "/Info = get level info",
        "/Step_sound  <floorSoundId> = replace floor sound ids. (0-3)",
        "/Lara_Light <newlaralight> = change Lara light 0-31",
        "/Sky  0/1  = enable/disable sky",
        "/Water 0/1 = enable/disable water",
        "/QuickSand 0/1 = enable/disable quicksand",
        "/Textures <oldtextid> <newtextid> = Change textures ids",
        "/ShowItems = Show ItemsId used in level",
        "/Showstatics = Show Statics Mesh id used in levels",
        "/ShowAnimtext = Show animated textures table",
        "/ShowRooms = Show rooms table (position, size, flags, light, counts)",
        "/Map <file.svg> = Draw the rooms seen from above into an SVG picture",
        "",
        "If rooms range is not especified all rooms are assumed.",
    };
    for (const char* line : lines) out.Line(line);
}

// The load step: false (after its message) when the file is not a level.
bool Load(Ttrlevel& level, const std::string& name, TConsole& out) {
    out.Line("Loading Level...");
    if (level.LoadLevel(name) != 0) {
        out.Line("Invalid tr level format.");
        return false;
    }
    return true;
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

// "/ShowRooms [From_Room [To_Room]]" and "/Map OUT.svg [From_Room [To_Room]]":
// read-only views of the rooms. One-line refusals end with status 2.
int RunRoomView(bool map, const TArgs& args, const std::string& name, Ttrlevel& level, TConsole& out) {
    const std::string& mapName = args.At(3);
    if (map && !args.Present(3)) {
        out.Line("Missing parameter");
        return 2;
    }
    if (const char* refusal = map ? MapTargetRefusal(mapName, name) : nullptr) {
        out.Line(refusal);
        return 2;
    }
    if (!Load(level, name, out)) return 0;
    const size_t fromPos = map ? 4 : 3;
    int32_t from = 0, to = int32_t(level.RoomCount) - 1;
    // No range on a level without rooms shows its (empty) list of rooms.
    const bool anyRange = args.Present(fromPos) || args.Present(fromPos + 1);
    if ((level.RoomCount > 0 || anyRange) && !RoomRange(args, fromPos, level.RoomCount, from, to, out)) return 2;
    if (!map) {
        PrintRoomTable(level, from, to, out);
        return 0;
    }
    out.Line("Drawing the map...");
    const std::string svg = MapSvg(level, name, from, to);
    out.Line("Saving the map...");
    StoreMap(mapName, svg);
    out.Line("Done.");
    return 0;
}

int Run(const TArgs& args, TConsole& out, Ttrlevel& level) {
    Banner(out);
    if (args.Count() == 0 || UpperAscii(args.At(1)) == "/H") {
        Help(out);
        return 0;
    }
    const std::string& name = args.At(1);
    if (!FileExists(name)) {
        out.Line(name + " not found.");
        return 0;
    }
    const std::string wanted = UpperAscii(args.At(2));
    const TSwitch* match = nullptr;
    for (const TSwitch& s : Switches)
        if (wanted == s.Text) {
            match = &s;
            break;
        }
    if (!match) {
        out.Line("Invalid command function, type Quillmap /h");
        return 0;
    }
    const TFunction fn = match->Function;

    switch (fn) {
    case TFunction::Info:
    case TFunction::ShowItems:
    case TFunction::ShowStatics:
    case TFunction::ShowAnimText:
        if (!Load(level, name, out)) return 0;
        if (fn == TFunction::Info) PrintReport(level, out);
        else if (fn == TFunction::ShowItems) PrintItemIds(level, out);
        else if (fn == TFunction::ShowStatics) PrintStaticIds(level, out);
        else PrintAnimatedTextures(level, out);
        return 0;
    case TFunction::ShowRooms:
    case TFunction::Map: return RunRoomView(fn == TFunction::Map, args, name, level, out);
    default: break;
    }

    // The edit functions.
    const bool isFlag = fn == TFunction::Water || fn == TFunction::Sky || fn == TFunction::QuickSand;
    if (fn == TFunction::Textures ? !args.Present(3) && !args.Present(4) : !args.Present(3)) {
        out.Line(isFlag ? "Please especify 0 or 1" : "Missing parameter");
        return 0;
    }
    const int32_t value = StrToInt(args.At(3));
    if (!Load(level, name, out)) return 0;

    if (fn == TFunction::StepSound && level.LevelVersion < KindTR3) {
        out.Line("Function Only for Tr3 and above version");
        return 0;
    }
    const char* progress = "";
    switch (fn) {
    case TFunction::StepSound: progress = "Changing Floor Sound..."; break;
    case TFunction::LaraLight: progress = "Changing Lara Light..."; break;
    case TFunction::Water: progress = "Turning On/Off the water..."; break;
    case TFunction::Sky: progress = "Turning On/Off the Sky..."; break;
    case TFunction::QuickSand: progress = "Turning On/Off the Quicksand..."; break;
    case TFunction::Textures: progress = "Changing Textures Ids..."; break;
    default: break;
    }
    out.Line(progress);

    int32_t from = 0, to = 0;
    if (!RoomRange(args, fn == TFunction::Textures ? 5 : 4, level.RoomCount, from, to, out)) return 0;

    switch (fn) {
    case TFunction::StepSound: EditStepSound(level, uint16_t(value), from, to); break;
    case TFunction::LaraLight: EditLaraLight(level, uint16_t(value), from, to); break;
    case TFunction::Water: EditRoomFlag(level, 0x01, value != 0, from, to); break;
    case TFunction::Sky: EditRoomFlag(level, 0x08, value != 0, from, to); break;
    case TFunction::QuickSand: EditRoomFlag(level, QuickSandFlag(level), value != 0, from, to); break;
    case TFunction::Textures: {
        const int32_t oldId = StrToInt(args.At(3));
        const uint16_t newId = uint16_t(StrToInt(args.At(4)));
        EditTextures(level, oldId, newId, from, to);
        break;
    }
    default: break;
    }
    out.Line("Saving the level...");
    level.SaveLevel(name);
    out.Line("Done.");
    return 0;
}

void ErrorReport(TConsole& out, std::string message, const std::string& where) {
    if (message.empty() || message.back() != '.') message += '.';
    out.Line(message);
    if (!where.empty()) out.Line(where);
}

} // namespace

// The level a run keeps to the end of the process: a global with external
// linkage, so the pointer is really stored and the level stays reachable (leak
// checkers do not count it as lost).
Ttrlevel* GKeptLevel = nullptr;

int RunTool(const std::vector<std::string>& args, TConsole& out, bool keepLevel) {
    try {
        if (keepLevel) {
            GKeptLevel = new Ttrlevel;
            return Run(TArgs(args), out, *GKeptLevel);
        }
        Ttrlevel level;
        return Run(TArgs(args), out, level);
    } catch (const EQuillError& e) {
        ErrorReport(out, e.what(), e.Where);
    } catch (const std::bad_alloc&) {
        ErrorReport(out, "Out of memory", "");
    } catch (const std::exception& e) {
        ErrorReport(out, e.what(), "");
    }
    return 1;
}

} // namespace qm
