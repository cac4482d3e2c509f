#include "views.h"

#include <map>

#include "result.h"

namespace qm {

namespace {

std::vector<TUse> Uses(const std::map<int32_t, size_t>& counts) {
    std::vector<TUse> uses;
    for (const auto& [value, count] : counts) uses.push_back({value, count});
    return uses;
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

TRoomUses RoomUsesOf(const Ttrlevel& L, int32_t from, int32_t to, TRoomUses::TKind kind) {
    TRoomUses uses{.Kind = kind};
    for (int32_t i = from; i <= to; ++i) {
        const RoomRecord& r = L.Rooms[size_t(i)];
        uses.Rows.push_back({i, kind == TRoomUses::TKind::Sounds ? RoomSounds(r) : RoomTextures(r)});
    }
    return uses;
}

} // namespace qm
