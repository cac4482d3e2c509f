#include "views.h"

#include <cstdio>
#include <map>
#include <string>

#include "materials.h"

namespace qm {

namespace {

std::vector<TUse> Uses(const std::map<int32_t, size_t>& counts) {
    std::vector<TUse> uses;
    for (const auto& [value, count] : counts) uses.push_back({value, count});
    return uses;
}

using TRoomUses = std::vector<TUse> (*)(const RoomRecord&);
// The name a value has, shown beside it (the step sounds' materials), or none.
using TValueName = const char* (*)(int32_t);

// "Room   7:  5 x 12  13 x 4": the room, then each value with its count; with
// names "Room   7:  5 (Water) x 12  13 (Old metal) x 4".
std::string UsesLine(int32_t room, const std::vector<TUse>& uses, TValueName name) {
    char head[32];
    std::snprintf(head, sizeof head, "Room %3d:", int(room));
    std::string line = head;
    for (const TUse& use : uses) {
        line += "  " + std::to_string(use.Value);
        if (name) line.append(" (").append(name(use.Value)).append(")");
        line += " x " + std::to_string(use.Count);
    }
    return line;
}

void PrintUses(const Ttrlevel& L, int32_t from, int32_t to, const char* heading, TRoomUses uses, TValueName name,
               TConsole& out) {
    out.Line(heading);
    out.Line("");
    for (int32_t i = from; i <= to; ++i) out.Line(UsesLine(i, uses(L.Rooms[size_t(i)]), name));
    out.Line("Done.");
}

TJson UsesJson(const Ttrlevel& L, int32_t from, int32_t to, TRoomUses uses, const char* list, const char* value,
               const char* count, TValueName name) {
    TJson rooms = TJson::array();
    for (int32_t i = from; i <= to; ++i) {
        TJson values = TJson::array();
        for (const TUse& use : uses(L.Rooms[size_t(i)])) {
            TJson entry{{value, use.Value}};
            if (name) entry["material"] = name(use.Value);
            entry[count] = use.Count;
            values.push_back(entry);
        }
        rooms.push_back({{"room", i}, {list, values}});
    }
    return rooms;
}

} // namespace

std::vector<TUse> RoomSounds(const RoomRecord& r) {
    std::map<int32_t, size_t> counts;
    for (const TRec<8>& sector : r.Sectors) ++counts[GetU16(sector.data() + 2) & 0x000F];
    return Uses(counts);
}

std::vector<TUse> RoomTextures(const RoomRecord& r) {
    std::map<int32_t, size_t> counts;
    for (const TRec<10>& face : r.Rectangles) ++counts[GetU16(face.data() + 8) & 0x0FFF];
    for (const TRec<8>& face : r.Triangles) ++counts[GetU16(face.data() + 6)];
    return Uses(counts);
}

void PrintRoomSounds(const Ttrlevel& L, int32_t from, int32_t to, TConsole& out) {
    PrintUses(L, from, to, "Showing FLOOR SOUNDS of this level:", RoomSounds, MaterialName, out);
}

void PrintRoomTextures(const Ttrlevel& L, int32_t from, int32_t to, TConsole& out) {
    PrintUses(L, from, to, "Showing ROOM TEXTURES Ids of this level:", RoomTextures, nullptr, out);
}

TJson RoomSoundsJson(const Ttrlevel& L, int32_t from, int32_t to) {
    return UsesJson(L, from, to, RoomSounds, "sounds", "value", "sectors", MaterialName);
}

TJson RoomTexturesJson(const Ttrlevel& L, int32_t from, int32_t to) {
    return UsesJson(L, from, to, RoomTextures, "textures", "id", "faces", nullptr);
}

} // namespace qm
