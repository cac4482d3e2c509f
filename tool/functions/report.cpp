#include <algorithm>
#include <string>
#include <string_view>

#include "functions.h"

namespace qm {

namespace {

const char* VersionLine(int32_t version) {
    switch (version) {
    case KindTR1:
    case KindTUB: return "Level Version: TR1";
    case KindTR2:
    case KindTRG: return "Level Version: TR2";
    case KindTR3: return "Level Version: TR3";
    case KindTR4: return "Level Version: TR4";
    case KindTRC:
    case KindTR5: return "Level Version: TR5";
    default: return "Level Version: unknown";
    }
}

} // namespace

TReport ReportOf(const Ttrlevel& L) {
    TReport r;
    r.Version = VersionLine(L.LevelVersion) + std::string_view("Level Version: ").size();
    r.Rooms = L.RoomCount;
    r.TexturePages = L.TexturePageCount();
    r.Textures = L.ObjectTextureCount;
    // The first word is the number of groups; an empty list has none.
    r.AnimatedTextures = L.AnimatedTextures.empty() ? 0 : L.AnimatedTextures[0];
    r.Items = L.ItemCount;
    r.Cameras = L.CameraCount;
    r.Boxes = L.BoxCount;
    r.Overlaps = L.OverlapCount;
    for (const RoomRecord& room : L.Rooms) {
        r.MaxVertices = std::max<int64_t>(r.MaxVertices, room.VertexCount);
        r.MaxRectangles = std::max<int64_t>(r.MaxRectangles, room.RectangleCount);
        r.MaxTriangles = std::max<int64_t>(r.MaxTriangles, room.TriangleCount);
        r.Statics += room.StaticCount;
        r.Lights += room.LightCount;
    }
    // The last item of object id 0 (the player character) decides; -1 when the
    // level has none.
    for (const TRec<24>& item : L.Items24)
        if (GetU16(item.data()) == 0) r.StartRoom = GetU16(item.data() + 2);
    return r;
}

} // namespace qm
