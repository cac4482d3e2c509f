// The function table: each function's row, and the work of each.
#include "functable.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <utility>

#include "errors.h"
#include "functions.h"
#include "items.h"
#include "mapforms.h"
#include "materials.h"
#include "options.h"
#include "outputs.h"
#include "pageimport.h"
#include "pages.h"
#include "roomflags.h"
#include "storeys.h"
#include "textdistance.h"
#include "utf8path.h"
#include "water.h"

namespace qm {

namespace {

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

// "/Step_sound": a material name stores its value; a number is mapped as always.
int32_t StepSoundValue(const TArgs& a) {
    const auto material = MaterialOfName(a.At(3));
    return material ? *material : MapFloorSound(uint16_t(StrToInt(a.At(3))));
}
void EditStepSoundOf(TJob& j) { SetMaterial(j.Level, uint16_t(j.Value), j.From, j.To); }
void EditReplaceSound(TJob& j) {
    ReplaceMaterial(j.Level, *MaterialOf(j.Args.At(3)), *MaterialOf(j.Args.At(4)), j.From, j.To);
}
void EditLaraLightOf(TJob& j) { EditLaraLight(j.Level, uint16_t(j.Value), j.From, j.To); }
void EditWater(TJob& j) { EditRoomFlag(j.Level, WaterBit, j.Value != 0, j.From, j.To); }
void EditSky(TJob& j) { EditRoomFlag(j.Level, SkyBit, j.Value != 0, j.From, j.To); }
void EditQuickSand(TJob& j) { EditRoomFlag(j.Level, QuickSandFlag(j.Level), j.Value != 0, j.From, j.To); }
// The new texture word: the low 16 bits of argument 4, converted after the
// room range (a missing new id fails there).
uint16_t NewTextureWord(const TJob& j) { return uint16_t(StrToInt(j.Args.At(4))); }
std::string CheckTextures(const TJob& j) { return TextureRefusal(j.Level, NewTextureWord(j)); }
void EditTexturesOf(TJob& j) {
    const int32_t oldId = StrToInt(j.Args.At(3));
    EditTextures(j.Level, oldId, NewTextureWord(j), j.From, j.To);
}

// The line under a failed store of a new file whose folder is not there.
std::string MissingFolderHint(const std::string& fileName) {
    const std::filesystem::path folder = PathOf(fileName).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::exists(folder, error)) return {};
    const std::u8string name = folder.u8string();
    return "the folder " + std::string(name.begin(), name.end()) + " does not exist";
}

// "/Map OUT": the picture is drawn in memory in the form OUT's extension
// names, then stored crash-safely.
TResult ShowMap(TJob& j) {
    const TDrawnMap picture =
        DrawMap(j.Level, j.Args.At(1), j.From, j.To, j.ItemMarks, j.Storey, *MapFormOf(j.Args.At(3)));
    for (const std::string& note : picture.Notes) j.Progress.Progress(note);
    TWritten written{.What = TWritten::TWhat::Map, .Files = {j.Args.At(3)}, .DryRun = j.DryRun};
    if (j.DryRun) return written;
    j.Progress.Progress("Saving the map...");
    try {
        StoreMap(j.Args.At(3), picture.Bytes);
    } catch (EQuillError& e) {
        e.Hint = MissingFolderHint(j.Args.At(3));
        throw;
    }
    return written;
}

// The file of the first page of the range: a range that starts below page 0
// is refused with the level.
std::string FirstPageFile(const TArgs& a) {
    const int32_t from = a.Present(4) ? StrToInt(a.At(4)) : 0;
    return from < 0 ? "" : PageFilePath(a.At(3), from);
}

// --storey N: the level must have a storey N.
std::string StoreyRefusal(const TJob& j) {
    if (j.Storey <= 0) return "";
    const size_t count = LevelStoreys(j.Level).List.size();
    if (size_t(j.Storey) <= count) return "";
    return "The level has no storey " + std::to_string(j.Storey) + "; it has " +
           (count == 1 ? std::string("1 storey") : std::to_string(count) + " storeys") + ".";
}

TResult ShowPages(TJob& j) { return ExportPages(j.Level, j.Args.At(3), j.From, j.To, j.DryRun, j.Progress); }

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

// "/ImportPage N FILE.png": the run has read and checked the picture (see
// PictureAt); the edit takes its pixels.
void EditPage(TJob& j) {
    j.Progress.Progress("Replacing page " + std::to_string(j.Value) + "...");
    ImportPage(j.Level, j.Value, j.Picture->Rgba);
}

// "/Flag NAME 0|1": the name (or raw bits) and the value are checked before
// loading; the kind's bit after it.
TFlagChoice FlagOf(const TJob& j) { return *ParseFlag(j.Args.At(3)); }
std::string CheckFlagKind(const TJob& j) {
    const TFlagChoice flag = FlagOf(j);
    if (flag.Raw || FlagBits(flag, j.Level) != 0) return "";
    return "The flag " + FlagLabel(flag) + " is not in " + FlagKindName(j.Level) + " levels.";
}
void EditFlag(TJob& j) {
    EditRoomFlag(j.Level, FlagBits(FlagOf(j), j.Level), StrToInt(j.Args.At(4)) != 0, j.From, j.To);
}

void EditRoomColourOf(TJob& j) {
    const auto byte = [&j](size_t at) { return uint8_t(StrToInt(j.Args.At(at))); };
    EditRoomColour(j.Level, byte(3), byte(4), byte(5), j.From, j.To);
}

// The item edits: each keeps the item before and after for its result, which
// is all a dry run shows.
void KeepItemChange(TJob& j, TItemChange change) {
    j.ItemChange = std::move(change);
    j.HasItemChange = true;
}
void EditMoveItem(TJob& j) { KeepItemChange(j, MoveItem(j.Level, j.Args)); }
void EditSetItem(TJob& j) { KeepItemChange(j, SetItem(j.Level, j.Args)); }
void EditItemFlags(TJob& j) { KeepItemChange(j, SetItemFlags(j.Level, j.Args)); }
void EditAddItem(TJob& j) { KeepItemChange(j, AddItem(j.Level, j.Args)); }
void EditRemoveItem(TJob& j) { KeepItemChange(j, RemoveItem(j.Level, j.Args, j.Removal)); }

TResult ShowRooms(TJob& j) { return RoomTableOf(j.Level, j.From, j.To); }
TResult ShowSounds(TJob& j) { return RoomUsesOf(j.Level, j.From, j.To, TRoomUses::TKind::Sounds); }
TResult ShowTextures(TJob& j) { return RoomUsesOf(j.Level, j.From, j.To, TRoomUses::TKind::Textures); }
TResult ShowWater(TJob& j) { return TWaterView{WaterRooms(j.Level, j.From, j.To)}; }
TResult ShowTriggers(TJob& j) { return TriggerTable(j.Level, j.From, j.To); }

// "/Flood", "/Drain": the whole set at once; what they changed and their notes
// go into the result.
void EditFlood(TJob& j) { j.Water = Flood(j.Level, *j.Rooms); }
void EditDrain(TJob& j) { j.Water = Drain(j.Level, *j.Rooms); }

// In the order of the help. A switch matches exactly one row, so the order of
// the rows does not change which function a switch selects.
constexpr TFunctionRow Functions[] = {
    {.Switch = "/INFO", .Help = "/Info = get level info", .Show = [](TJob& j) -> TResult { return ReportOf(j.Level); }},
    {.Switch = "/STEP_SOUND", .Help = "/Step_sound  <floorSoundId> = replace floor sound ids. (0-3)", .Needed = 1,
     .Missing = kMissing, .NumberValue = true, .ValueOf = StepSoundValue, .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .Progress = "Changing Floor Sound...", .RangeAt = 4,
     .Edit = EditStepSoundOf},
    {.Switch = "/REPLACE_SOUND", .Help = "/Replace_sound <old> <new> = change one floor sound (material) into another",
     .Needed = 2, .Missing = kMissing, .Check = MaterialsRefusal, .MinVersion = KindTR3,
     .TooOld = "Function Only for Tr3 and above version", .Progress = "Changing Floor Sound...", .RangeAt = 5,
     .Edit = EditReplaceSound},
    {.Switch = "/LARA_LIGHT", .Help = "/Lara_Light <newlaralight> = change Lara light 0-31", .Needed = 1,
     .Missing = kMissing, .NumberValue = true, .Progress = "Changing Lara Light...", .RangeAt = 4,
     .Edit = EditLaraLightOf},
    {.Switch = "/SKY", .Help = "/Sky  0/1  = enable/disable sky", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the Sky...", .RangeAt = 4, .Edit = EditSky},
    {.Switch = "/WATER", .Help = "/Water 0/1 = enable/disable water", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the water...", .RangeAt = 4, .Edit = EditWater},
    {.Switch = "/QUICKSAND", .Help = "/QuickSand 0/1 = enable/disable quicksand", .Needed = 1, .Missing = kNoFlag,
     .NumberValue = true, .Progress = "Turning On/Off the Quicksand...", .RangeAt = 4, .Edit = EditQuickSand},
    {.Switch = "/FLAG", .Help = "/Flag <name> 0/1 = enable/disable a room flag (Water, Sky, Wind, QuickSand ...)",
     .Needed = 2, .Missing = kMissing, .Check = FlagRefusal,
     .ProgressOf = [](const TArgs& a) { return "Turning On/Off the " + FlagLabel(*ParseFlag(a.At(3))) + "..."; },
     .RangeAt = 5, .CheckLoaded = CheckFlagKind, .Edit = EditFlag},
    {.Switch = "/ROOM_COLOUR", .Help = "/Room_Colour <R> <G> <B> = change room colour (0-255 each)",
     .Also = "/ROOM_COLOR", .Needed = 3,
     .Missing = kMissing, .Check = ColourRefusal, .MinVersion = KindTR4,
     .TooOld = "Function Only for Tr4 and above version", .Progress = "Changing Room Colour...", .RangeAt = 6,
     .Edit = EditRoomColourOf},
    {.Switch = "/FLOOD", .Help = "/Flood = flood the dry rooms (water flag; TR3 and TR4 also the shimmer of their vertices)",
     .Progress = "Flooding the rooms...", .RangeAt = 3, .Edit = EditFlood, .WholeSet = true},
    {.Switch = "/DRAIN", .Help = "/Drain = drain the water rooms (water flag; TR3 and TR4 also the shimmer and waves)",
     .Progress = "Draining the rooms...", .RangeAt = 3, .Edit = EditDrain, .WholeSet = true},
    {.Switch = "/TEXTURES", .Help = "/Textures <oldtextid> <newtextid> = Change textures ids", .Needed = 2,
     .Missing = kMissing, .NumberValue = true, .Progress = "Changing Textures Ids...", .RangeAt = 5,
     .CheckLoaded = CheckTextures, .Edit = EditTexturesOf},
    {.Switch = "/SHOWITEMS", .Help = "/ShowItems = Show ItemsId used in level",
     .Show = [](TJob& j) -> TResult { return TIdList{TIdList::TKind::Items, ItemIds(j.Level)}; }},
    {.Switch = "/SHOWSTATICS", .Help = "/Showstatics = Show Statics Mesh id used in levels",
     .Show = [](TJob& j) -> TResult { return TIdList{TIdList::TKind::Statics, StaticIds(j.Level)}; }},
    {.Switch = "/SHOWANIMTEXT", .Help = "/ShowAnimtext = Show animated textures table",
     .Show = [](TJob& j) -> TResult { return TAnimatedTextures{AnimatedTextureGroups(j.Level)}; }},
    {.Switch = "/SHOWROOMS", .Help = "/ShowRooms = Show rooms table (position, size, flags, light, counts)",
     .RangeAt = 3, .ShowsRooms = true, .Show = ShowRooms},
    {.Switch = "/SHOWWATER", .Help = "/ShowWater = Show water rooms, the rooms above and below, surfaces and vertex effects",
     .RangeAt = 3, .ShowsRooms = true, .Show = ShowWater},
    {.Switch = "/SHOWSOUNDS", .Help = "/ShowSounds = Show floor sound ids and their sectors per room",
     .MinVersion = KindTR3, .TooOld = "Function Only for Tr3 and above version", .RangeAt = 3, .ShowsRooms = true,
     .Show = ShowSounds},
    {.Switch = "/SHOWTEXTURES", .Help = "/ShowTextures = Show textures ids and their faces per room", .RangeAt = 3,
     .ShowsRooms = true, .Show = ShowTextures},
    {.Switch = "/MAP", .Help = "/Map <file.svg|file.png|file.html> = Draw the rooms seen from above, storey by storey, into a picture or a page",
     .Needed = 1, .Missing = kMissing, .Check = [](const TArgs& a) { return MapTargetRefusal(a.At(3), a.At(1)); },
     .Progress = "Drawing the map...", .RangeAt = 4, .ShowsRooms = true, .CheckLoaded = StoreyRefusal, .Show = ShowMap,
     .FirstFile = [](const TArgs& a) { return a.At(3); }, .Storeys = true},
    {.Switch = "/EXPORTPAGES", .Help = "/ExportPages <folder> = Write texture pages as PNG pictures page_000.png ...",
     .Needed = 1, .Missing = kMissing, .RangeAt = 4, .Pages = true, .CheckLoaded = PagesOverLevelRefusal,
     .Show = ShowPages, .FirstFile = FirstPageFile},
    {.Switch = "/IMPORTPAGE", .Help = "/ImportPage <page> <file.png> = Replace a texture page with a 256x256 PNG picture",
     .Needed = 2, .Missing = kMissing, .NumberValue = true,
     .CheckLoaded = [](const TJob& j) { return PageRefusal(j.Level, j.Value); }, .Edit = EditPage,
     .Writes = TWritten::TWhat::Page, .PictureAt = 4},
    {.Switch = "/SHOWENTITIES", .Help = "/ShowEntities = Show every item: index, type and name, room, position, angle, flags",
     .CheckLoaded = [](const TJob& j) { return EntityRangeRefusal(j.Level, j.Args); },
     .Show = [](TJob& j) -> TResult { return EntityTable(j.Level, j.Args); }},
    {.Switch = "/SHOWTYPES",
     .Help = "/ShowTypes [name] = Show the game's object type ids and names (those /AddItem and /SetItem take)",
     .Show = [](TJob& j) -> TResult { return TypeListOf(j.Level, j.Args.At(3)); }},
    {.Switch = "/SHOWTRIGGERS", .Help = "/ShowTriggers = Show the triggers of each room: sector, type, timer, mask, actions",
     .RangeAt = 3, .ShowsRooms = true, .Show = ShowTriggers},
    {.Switch = "/MOVEITEM", .Help = "/MoveItem <item> <room> <x> <y> <z> [angle] = Move an item (angle in degrees)",
     .Needed = 5, .Missing = kMissing, .Check = MoveItemArgsRefusal, .Progress = "Moving the item...",
     .CheckLoaded = [](const TJob& j) { return MoveItemRefusal(j.Level, j.Args); }, .Edit = EditMoveItem,
     .Writes = TWritten::TWhat::Item},
    {.Switch = "/SETITEM", .Help = "/SetItem <item> <type> = Change the object type of an item (a number or a name)",
     .Needed = 2, .Missing = kMissing, .Check = SetItemArgsRefusal, .Progress = "Changing the item type...",
     .CheckLoaded = [](const TJob& j) { return SetItemRefusal(j.Level, j.Args); }, .Edit = EditSetItem,
     .Writes = TWritten::TWhat::Item},
    {.Switch = "/ITEMFLAGS",
     .Help = "/ItemFlags <item> [invisible=0|1] [clearbody=0|1] [activation=0-31] [ocb=N] = Change the flags of an item",
     .Needed = 2, .Missing = kMissing, .Check = ItemFlagsArgsRefusal, .Progress = "Changing the item flags...",
     .CheckLoaded = [](const TJob& j) { return ItemFlagsRefusal(j.Level, j.Args); }, .Edit = EditItemFlags,
     .Writes = TWritten::TWhat::Item},
    {.Switch = "/ADDITEM", .Help = "/AddItem <type> <room> <x> <y> <z> [angle] = Add an item after the last one",
     .Needed = 5, .Missing = kMissing, .Check = AddItemArgsRefusal, .Progress = "Adding an item...",
     .CheckLoaded = [](const TJob& j) { return AddItemRefusal(j.Level, j.Args); }, .Edit = EditAddItem,
     .Writes = TWritten::TWhat::Item},
    {.Switch = "/REMOVEITEM", .Help = "/RemoveItem <item> = Remove an item; the triggers keep naming the same items",
     .Needed = 1, .Missing = kMissing, .Check = RemoveItemArgsRefusal, .Progress = "Removing the item...",
     .CheckLoaded = [](const TJob& j) { return RemoveItemRefusal(j.Level, j.Args, j.Removal); }, .Edit = EditRemoveItem,
     .Writes = TWritten::TWhat::Item},
};

// Each row either shows or edits, never both or neither.
static_assert(std::ranges::all_of(Functions, [](const TFunctionRow& row) { return !row.Show != !row.Edit; }));
// An edit of rooms has a room range; an edit of a page or of an item has none.
static_assert(std::ranges::all_of(Functions, [](const TFunctionRow& row) {
    return !row.Edit || (row.RangeAt > 0) == (row.Writes == TWritten::TWhat::Level);
}));

// A function that reads a picture needs its name.
static_assert(std::ranges::all_of(Functions, [](const TFunctionRow& row) {
    return row.PictureAt == 0 || (row.PictureAt >= 3 && row.PictureAt < 3 + row.Needed);
}));

// Only an edit of a room range takes its whole set.
static_assert(std::ranges::all_of(Functions, [](const TFunctionRow& row) {
    return !row.WholeSet || (row.Edit && row.RangeAt > 0);
}));

} // namespace

std::span<const TFunctionRow> FunctionRows() { return Functions; }

const TFunctionRow* FindRow(const std::string& text) {
    const std::string wanted = UpperAscii(text);
    for (const TFunctionRow& row : Functions)
        if (wanted == row.Switch || (row.Also && wanted == row.Also)) return &row;
    return nullptr;
}

namespace {

// A word that holds a whole function name, or that a function name holds
// ("/Flooding" holds "Flood", "Showitems" holds "Items"), names that function
// in other words, when the shorter of the two has four letters or more.
bool OneHoldsTheOther(std::string_view word, std::string_view name) {
    word.remove_prefix(1), name.remove_prefix(1);  // both start with "/"
    const std::string_view shorter = word.size() < name.size() ? word : name;
    const std::string_view longer = word.size() < name.size() ? name : word;
    return shorter.size() >= 4 && longer.find(shorter) != std::string_view::npos;
}

} // namespace

std::string NearestFunction(const std::string& text) {
    std::string wanted = UpperAscii(text);
    wanted.erase(0, wanted.find_first_not_of(' '));
    wanted.erase(wanted.find_last_not_of(' ') + 1);
    if (wanted.empty()) return "";
    if (wanted[0] != '/') wanted = std::string(1, '/').append(wanted);
    const TFunctionRow* best = nullptr;
    size_t bestDistance = 0;
    for (const TFunctionRow& row : Functions) {
        // A slip is a few edits, fewer than a third of the name; or the name
        // said in other words.
        const size_t d = EditDistance(wanted, row.Switch);
        const bool slip = d * 3 < std::string_view(row.Switch).size() && d <= 2;
        if ((slip || OneHoldsTheOther(wanted, row.Switch)) && (!best || d < bestDistance)) best = &row, bestDistance = d;
    }
    return best ? best->Name() : "";
}

} // namespace qm
