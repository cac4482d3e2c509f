// The functions of the tool, one row each: what a run checks, loads, shows or
// edits, and saves for it. The steps that use the rows are in levelrun.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "console.h"
#include "pngread.h"
#include "result.h"
#include "trlevel.h"

namespace qm {

// What a function works with: the loaded level, the arguments, where progress
// lines go, the value converted from argument 3 (functions that take one) and
// the resolved range (functions that take one).
struct TJob {
    Ttrlevel& Level;
    const TArgs& Args;
    TConsole& Progress;
    bool DryRun = false;  // write nothing; the result says what would be written
    int32_t Value = 0;
    int32_t From = 0, To = 0;
    bool ItemMarks = true;  // "/Map" marks the items (not with --no-items)
    int32_t Storey = 0;     // "/Map" draws this storey only (--storey); 0 for all
    // What an item edit did, for its result.
    bool HasItemChange = false;
    TItemChange ItemChange{};
    const std::vector<int32_t>* Rooms = nullptr;  // a row with WholeSet: the rooms of its set
    std::optional<TWaterEdit> Water{};            // "/Flood", "/Drain": what they changed, for the result
    // A row with PictureAt: its picture, read before loading (shared by the
    // run's levels) or when the function runs (then held in OwnPicture).
    const TPagePicture* Picture = nullptr;
    std::optional<TPagePicture> OwnPicture{};
    // "/RemoveItem": what its check against the level read that its edit
    // changes, kept by the check (which sees the job as const) so that the
    // edit does not read the floor data again.
    mutable TItemRemoval Removal{};
};

// One function of the tool. A run matches the switch, then takes these steps in
// order, each only when the row asks for it: the argument checks, the conversion
// of argument 3, loading, the version test; then, when the function's turn in
// the chain comes, the progress line, the range, the check against the level as
// the functions before it left it, the work; and after the last function, for
// an edit, the save. A new function is one more row.
struct TFunctionRow {
    const char* Switch;                  // upper case; matched against argument 2 upper-cased
    const char* Help;                    // the function's line of the help
    const char* Also = nullptr;          // a second spelling of the switch, upper case
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
    size_t RangeAt = 0;                  // the position of From_Room; 0 for no range
    bool Pages = false;                  // the range counts texture pages, not rooms
    bool ShowsRooms = false;             // read-only: a level without rooms and no range shows none
    // A check of the arguments against the loaded level, after the range and
    // before the work: the one-line message that refuses the run, or "".
    std::string (*CheckLoaded)(const TJob&) = nullptr;
    // Exactly one of the two works: a function that leaves the level as it is
    // gives its result; an edit changes the level (rooms job.From..job.To when
    // it has a range), and the run saves it and makes the result.
    TResult (*Show)(TJob&) = nullptr;
    void (*Edit)(TJob&) = nullptr;
    // An edit that takes its whole room set at once (job.Rooms) and says itself
    // what it changed (job.Water), in place of the run's room changes.
    bool WholeSet = false;
    TWritten::TWhat Writes = TWritten::TWhat::Level;  // an edit: what its result calls the level written
    // A function that writes files other than the level: the first one, named
    // from the arguments alone ("" when they do not name it). Throws
    // EConvertError for a bad number.
    std::string (*FirstFile)(const TArgs&) = nullptr;

    bool Storeys = false;                // takes --storey
    // The argument that names a picture the function reads (0: none). It is
    // read when the function runs, after the functions before it in the chain
    // have run; when none of those writes files, it is read with the argument
    // checks instead, so that a bad picture refuses the run before loading.
    size_t PictureAt = 0;

    bool Saves() const { return Edit != nullptr; }
    // The switch as the help spells it ("/Water" for the row of "/WATER").
    std::string Name() const {
        const std::string_view help = Help;
        return std::string(help.substr(0, help.find(' ')));
    }
};

// The rows, in the order of the help.
std::span<const TFunctionRow> FunctionRows();

// The row of a switch in any letter case ("/info"), or nullptr.
const TFunctionRow* FindRow(const std::string& text);

// The switch of the function whose name is nearest to text ("/Room_Colour"
// for "/room_colr", "/Info" for "info" or "/inf"), as the help spells it;
// empty when none is near enough to be a slip of the keyboard.
std::string NearestFunction(const std::string& text);

} // namespace qm
