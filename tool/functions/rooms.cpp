#include "rooms.h"

#include <cstdio>

#include "functions.h"
#include "result.h"
#include "storeys.h"
#include "xela.h"

namespace qm {

namespace {

// How each level kind presents its rooms: the name of the kind, the form of
// the light value and where the room's position and heights are stored.
struct TRoomView {
    const char* Name;
    bool Light16;  // the ambient's first two bytes are the light (TR4 family, TR5); else its high byte
    bool Xela;     // TR5: the fields are read from the room's XELA block
};

constexpr TRoomView Views[] = {
    {.Name = "unknown", .Light16 = false, .Xela = false},
    {.Name = "TR1", .Light16 = false, .Xela = false},
    {.Name = "TR1 (.TUB)", .Light16 = false, .Xela = false},
    {.Name = "TR2", .Light16 = false, .Xela = false},
    {.Name = "TR2 (.TRG)", .Light16 = false, .Xela = false},
    {.Name = "TR3", .Light16 = false, .Xela = false},
    {.Name = "TR4", .Light16 = true, .Xela = false},
    {.Name = "TR5 (.TRC in the TR4 layout)", .Light16 = true, .Xela = false},
    {.Name = "TR5", .Light16 = true, .Xela = true},
};

// Offsets of x, z, y bottom and y top: in the 16 bytes of the room info, and
// from the "XELA" mark of a TR5 room (whose room info also holds a y).
constexpr size_t InfoFields[4] = {0, 4, 8, 12};
constexpr size_t XelaInfoFields[4] = {28, 36, 40, 44};

const TRoomView& ViewOf(int32_t version) {
    return Views[version >= 1 && version < int32_t(std::size(Views)) ? version : 0];
}

// TR5: the portal count, the u16 right after the sectors; 0 when the block
// does not hold it.
uint32_t XelaPortalCount(const RoomRecord& r) {
    const auto& b = r.XelaBlock;
    const uint64_t at = xela::DataArea + uint64_t(GetU32(b.data() + xela::SectorStart)) + xela::SectorSize * r.Sectors.size();
    return at + 2 <= b.size() ? GetU16(b.data() + at) : 0;
}

int32_t I32(const uint8_t* p) { return int32_t(GetU32(p)); }

} // namespace

TRoomFacts RoomFacts(const Ttrlevel& L, size_t i) {
    const RoomRecord& r = L.Rooms[i];
    const TRoomView& view = ViewOf(L.LevelVersion);
    // An accepted XELA block always holds its 216-byte header.
    const bool inXela = view.Xela && r.XelaBlock.size() >= xela::DataArea;
    const uint8_t* head = inXela ? r.XelaBlock.data() : r.RoomInfo.Head.data();
    const size_t* at = inXela ? XelaInfoFields : InfoFields;
    TRoomFacts f;
    f.X = I32(head + at[0]);
    f.Z = I32(head + at[1]);
    f.Floor = I32(head + at[2]);
    f.Ceiling = I32(head + at[3]);
    f.SizeX = r.SectorCountX;
    f.SizeZ = r.SectorCountZ;
    f.Flags = GetU16(r.RoomFlags);
    f.Water = (r.RoomFlags[0] & 0x01) != 0;
    f.Sky = (r.RoomFlags[0] & 0x08) != 0;
    f.QuickSand = (r.RoomFlags[0] & QuickSandFlag(L)) != 0;
    f.Light = view.Light16 ? GetU16(r.AmbientIntensity) : r.AmbientIntensity[1];
    f.HasColour = view.Light16;
    f.Colour = view.Light16 ? RoomColour(r) : 0;
    f.Alternate = r.AlternateRoom;
    f.Vertices = r.VertexCount;
    f.Rectangles = r.RectangleCount;
    f.Triangles = r.TriangleCount;
    f.Sprites = r.SpriteCount;
    f.Portals = inXela ? XelaPortalCount(r) : r.PortalCount;
    f.Lights = r.LightCount;
    f.Statics = r.StaticCount;
    return f;
}

std::string ColourText(uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", unsigned(rgb & 0xFFFFFF));
    return text;
}

std::string FlagLetters(const TRoomFacts& r) {
    std::string s;
    if (r.Water) s += 'W';
    if (r.Sky) s += 'S';
    if (r.QuickSand) s += 'Q';
    return s.empty() ? "-" : s;
}

const char* KindName(int32_t version) { return ViewOf(version).Name; }

bool IsWallSector(const RoomRecord& r, uint32_t x, uint32_t z) {
    if (x >= r.SectorCountX || z >= r.SectorCountZ) return true;
    const size_t at = size_t(x) * r.SectorCountZ + z;
    return at >= r.Sectors.size() || int8_t(r.Sectors[at][5]) == -127;
}

TRoomTable RoomTableOf(const Ttrlevel& L, int32_t from, int32_t to) {
    TRoomTable table{.Colour = ViewOf(L.LevelVersion).Light16};
    const TStoreys storeys = LevelStoreys(L);
    for (int32_t i = from; i <= to; ++i) table.Rows.push_back({i, RoomFacts(L, size_t(i)), storeys.StoreyOf[size_t(i)]});
    return table;
}

} // namespace qm
