// What a function gives for one level, as a value: the report, a listing, a
// table of rooms, what was written (or would be), or why nothing was done. The
// text form and the JSON form (output/) are two renderings of the same value,
// so the two cannot disagree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "dryrun.h"
#include "functions.h"
#include "items.h"
#include "rooms.h"
#include "triggers.h"
#include "views.h"
#include "water.h"

namespace qm {

// Exit statuses of a run.
constexpr int ExitDone = 0;       // the job was done (the help included)
constexpr int ExitError = 1;      // an error report: the level, the system or the tool failed
constexpr int ExitUserError = 2;  // the command was wrong: a refusal before anything was changed

// Why a level (or the whole run) was not done.
struct TFailure {
    enum class TForm {
        Refusal,  // one line, and the line that says what was probably meant
        Report,   // the error report: the message with its full stop, the place, the hint
    };
    TForm Form = TForm::Refusal;
    std::string Message{};  // as shown; a report adds the full stop when it lacks one
    std::string Place{};    // a report: where it happened, when known
    std::string Hint{};     // what was probably meant or has to be put right, when known
    int Status = ExitUserError;
};

// "/ShowItems", "/ShowStatics": the ids of the listing.
struct TIdList {
    enum class TKind { Items, Statics };
    TKind Kind = TKind::Items;
    std::vector<int32_t> Ids{};
};

// "/ShowAnimtext": the texture ids of each group.
struct TAnimatedTextures {
    std::vector<std::vector<int32_t>> Groups;
};

// "/ShowRooms": one row per room of the range.
struct TRoomTable {
    struct TRow {
        int32_t Room = 0;
        TRoomFacts Facts{};
        int32_t Storey = 1;  // its storey, counted over the whole level (storeys.h)
    };
    bool Colour = false;  // the kind has room colours: the light column shows them
    std::vector<TRow> Rows{};
};

// "/ShowSounds", "/ShowTextures": per room of the range, the values it uses.
struct TRoomUses {
    enum class TKind { Sounds, Textures };
    struct TRow {
        int32_t Room = 0;
        std::vector<TUse> Uses{};
    };
    TKind Kind = TKind::Sounds;
    std::vector<TRow> Rows{};
};

// What a function that writes wrote, or with --dry-run would have written.
struct TWritten {
    enum class TWhat {
        Level,  // an edit of rooms: the level, or the --output file
        Page,   // "/ImportPage": the level with one page replaced
        Map,    // "/Map": the SVG picture
        Pages,  // "/ExportPages": the PNG files of the pages
        Item,   // an item edit: the level with one item changed or added
    };
    TWhat What = TWhat::Level;
    std::vector<std::string> Files{};  // in the order they are written
    bool DryRun = false;             // nothing was written
    int32_t Page = -1;               // Page: the page replaced
    // An edit of rooms: the rooms it changed (a dry run: would change). Kept in
    // every dry run, and in a run whose result is read as JSON.
    bool HasChanges = false;
    std::vector<TRoomChange> Changes{};
    // An item edit: the item before and after, and its notes.
    bool HasItemChange = false;
    TItemChange ItemChange{};
    // "/Flood", "/Drain": what they changed (in place of Changes) and their notes.
    bool HasWater = false;
    TWaterEdit Water{};
};

// Every function's result is one of these; a run's part for one level always
// ends in one, so no form of output can find a level without its result.
using TResult = std::variant<TReport, TIdList, TAnimatedTextures, TRoomTable, TRoomUses, TEntityTable, TTypeList,
                             TWaterView, TTriggerTable, TWritten, TFailure>;

// One function's part of a level's run: the function as the help spells it
// ("/Water"; empty for a refusal of the level before any function), and its
// result. A level's run gives one per function, in order, or one failure.
struct TStepResult {
    std::string Function{};
    TResult Result;
};

// The visitor of a result: one lambda per kind, as the renderers use it.
template <class... Ts>
struct TOverloaded : Ts... {
    using Ts::operator()...;
};
// Spelled out for compilers that do not deduce an aggregate's arguments.
template <class... Ts>
TOverloaded(Ts...) -> TOverloaded<Ts...>;

// The exit status a result stands for.
inline int StatusOf(const TResult& result) {
    const TFailure* failure = std::get_if<TFailure>(&result);
    return failure ? failure->Status : ExitDone;
}

// The exit status of a level's results: the worst of them.
inline int StatusOf(const std::vector<TStepResult>& results) {
    int status = ExitDone;
    for (const TStepResult& step : results) status = std::max(status, StatusOf(step.Result));
    return status;
}

// A one-line refusal; a message of two lines ("...\n...") keeps its second as the hint.
inline TFailure Refusal(const std::string& message) {
    const size_t newline = message.find('\n');
    TFailure f{.Message = message.substr(0, newline)};
    if (newline != std::string::npos) f.Hint = message.substr(newline + 1);
    return f;
}

// The rooms from..to (inside the level) of the room table and the two views.
TRoomTable RoomTableOf(const Ttrlevel& L, int32_t from, int32_t to);
TRoomUses RoomUsesOf(const Ttrlevel& L, int32_t from, int32_t to, TRoomUses::TKind kind);

} // namespace qm
