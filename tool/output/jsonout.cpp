#include "jsonout.h"

#include "rooms.h"

namespace qm {

TJson ReportJson(const Ttrlevel& L) {
    const TReport r = ReportOf(L);
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

TJson RoomTableJson(const Ttrlevel& L, int32_t from, int32_t to) {
    TJson rooms = TJson::array();
    for (int32_t i = from; i <= to; ++i) {
        const TRoomFacts f = RoomFacts(L, size_t(i));
        TJson room = {{"room", i},
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
                      {"statics", f.Statics}};
        if (f.HasColour) room["colour"] = ColourText(f.Colour);
        rooms.push_back(room);
    }
    return rooms;
}

TJson RoomChangesJson(const std::vector<TRoomChange>& changes) {
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
                 {"saved", false}};
}

void TJsonCapture::Error(std::string_view message, std::string_view where, std::string_view hint) {
    // The message as the text form shows it, with its full stop.
    std::string text(message);
    if (text.empty() || text.back() != '.') text += '.';
    Error_ = TJson{{"message", text}};
    if (!where.empty()) Error_["place"] = where;
    if (!hint.empty()) Error_["hint"] = hint;
}

TJson TJsonCapture::ErrorJson() const {
    if (!Error_.is_null()) return Error_;
    // A one-line refusal, and the line that may follow it to say what was meant.
    TJson error{{"message", Lines.empty() ? std::string() : Lines[0]}};
    if (Lines.size() > 1) error["hint"] = Lines[1];
    return error;
}

} // namespace qm
