// The JSON form of results.
#include "jsonout.h"

#include <utility>

#include "itemsout.h"
#include "jsonvalue.h"
#include "materials.h"
#include "triggersout.h"
#include "waterout.h"

namespace qm {

namespace {

TJson ReportJson(const TReport& r) {
    return TJson{{"version", r.Version},
                 {"rooms", r.Rooms},
                 {"texturePages", r.TexturePages},
                 {"textures", r.Textures},
                 {"animatedTextures", r.AnimatedTextures},
                 {"items", r.Items},
                 {"cameras", r.Cameras},
                 {"boxes", r.Boxes},
                 {"overlaps", r.Overlaps},
                 {"staticMeshes", r.Statics},
                 {"lights", r.Lights},
                 {"maxVertices", r.MaxVertices},
                 {"maxRectangles", r.MaxRectangles},
                 {"maxTriangles", r.MaxTriangles},
                 {"startRoom", r.StartRoom}};
}

} // namespace

TJson RoomTableJson(const TRoomTable& table) {
    TJson rooms = TJson::array();
    rooms.get_ref<TJson::array_t&>().reserve(table.Rows.size());
    for (const TRoomTable::TRow& row : table.Rows) {
        const TRoomFacts& f = row.Facts;
        TJson room = {{"room", row.Room},
                      {"x", SectorOf(f.X)},
                      {"z", SectorOf(f.Z)},
                      {"sizeX", f.SizeX},
                      {"sizeZ", f.SizeZ},
                      {"floor", f.Floor},
                      {"ceiling", f.Ceiling},
                      {"flags", f.Flags},
                      {"water", f.Water},
                      {"sky", f.Sky},
                      {"quickSand", f.QuickSand},
                      {"light", f.Light},
                      {"alternate", f.Alternate},
                      {"vertices", f.Vertices},
                      {"rectangles", f.Rectangles},
                      {"triangles", f.Triangles},
                      {"sprites", f.Sprites},
                      {"portals", f.Portals},
                      {"lights", f.Lights},
                      {"statics", f.Statics},
                      {"storey", row.Storey}};
        if (f.HasColour) room["colour"] = ColourText(f.Colour);
        rooms.push_back(std::move(room));
    }
    return rooms;
}

namespace {

// [{"room": i, "sounds": [{"value": v, "material": name, "sectors": n}, ...]}, ...] and
// [{"room": i, "textures": [{"id": t, "faces": n}, ...]}, ...].
TJson RoomUsesJson(const TRoomUses& uses) {
    const bool sounds = uses.Kind == TRoomUses::TKind::Sounds;
    TJson rooms = TJson::array();
    for (const TRoomUses::TRow& row : uses.Rows) {
        TJson values = TJson::array();
        for (const TUse& use : row.Uses) {
            TJson value{{sounds ? "value" : "id", use.Value}};
            if (sounds) value["material"] = MaterialName(use.Value);
            value[sounds ? "sectors" : "faces"] = use.Count;
            values.push_back(value);
        }
        rooms.push_back({{"room", row.Room}, {sounds ? "sounds" : "textures", values}});
    }
    return rooms;
}

TJson RoomChangesJson(const std::vector<TRoomChange>& changes, bool saved) {
    TJson rooms = TJson::array();
    size_t sectors = 0, faces = 0;
    for (const TRoomChange& c : changes) {
        TJson room{{"room", c.Room}};
        if (c.FlagsBefore != c.FlagsAfter) room["flags"] = {{"old", c.FlagsBefore}, {"new", c.FlagsAfter}};
        if (c.LightBefore != c.LightAfter) room["light"] = {{"old", c.LightBefore}, {"new", c.LightAfter}};
        if (c.ColourChanged) room["colour"] = {{"old", ColourText(c.ColourBefore)}, {"new", ColourText(c.ColourAfter)}};
        room["sectors"] = c.Sectors;
        room["faces"] = c.Faces;
        rooms.push_back(room);
        sectors += c.Sectors, faces += c.Faces;
    }
    return TJson{{"rooms", rooms},
                 {"totals", {{"rooms", changes.size()}, {"sectors", sectors}, {"faces", faces}}},
                 {"saved", saved}};
}

// "saved": the file written (a list for the pages); a dry run has "wouldWrite"
// in its place and "saved": false.
void AddWritten(const TWritten& w, TJson& entry) {
    if (w.What == TWritten::TWhat::Page) entry["page"] = w.Page;
    if (w.HasWater) AddWaterEdit(w.Water, !w.DryRun, entry);
    if (w.HasChanges) entry["changes"] = RoomChangesJson(w.Changes, !w.DryRun);
    if (w.HasItemChange) entry["changes"] = ItemChangeJson(w.ItemChange, w.DryRun);
    TJson files = TJson::array();
    for (const std::string& file : w.Files) files.push_back(file);
    if (w.What != TWritten::TWhat::Pages) files = w.Files.empty() ? TJson() : TJson(w.Files.front());
    if (w.DryRun) entry["wouldWrite"] = files;
    entry["saved"] = w.DryRun ? TJson(false) : files;
}

} // namespace

TJson FailureJson(const TFailure& failure) {
    std::string message = failure.Message;
    if (failure.Form == TFailure::TForm::Report && (message.empty() || message.back() != '.')) message += '.';
    TJson error{{"message", message}};
    if (!failure.Place.empty()) error["place"] = failure.Place;
    if (!failure.Hint.empty()) error["hint"] = failure.Hint;
    return error;
}

void AddJson(const TResult& result, TJson& entry) {
    // Every kind of result has its members: a kind without them does not compile.
    std::visit(TOverloaded{[&](const TReport& r) { entry["report"] = ReportJson(r); },
                           [&](const TIdList& r) { entry[r.Kind == TIdList::TKind::Items ? "items" : "statics"] = r.Ids; },
                           [&](const TAnimatedTextures& r) { entry["animatedTextures"] = r.Groups; },
                           [&](const TRoomTable& r) { entry["rooms"] = RoomTableJson(r); },
                           [&](const TRoomUses& r) { entry["rooms"] = RoomUsesJson(r); },
                           [&](const TEntityTable& r) { AddEntityTableJson(r, entry); },
                           [&](const TTypeList& r) { AddTypeListJson(r, entry); },
                           [&](const TWaterView& r) { entry["rooms"] = WaterViewJson(r); },
                           [&](const TTriggerTable& r) { AddTriggerTableJson(r, entry); },
                           [&](const TWritten& r) { AddWritten(r, entry); },
                           [&](const TFailure& r) { entry["error"] = FailureJson(r); }},
               result);
}

std::string DocumentText(const TJson& document) {
    return document.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

} // namespace qm
