#include <string>

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

void Count(TConsole& out, const char* label, int64_t value) { out.Line(label + std::to_string(value)); }

} // namespace

void PrintReport(const Ttrlevel& L, TConsole& out) {
    out.Line(VersionLine(L.LevelVersion));
    Count(out, "Total Rooms:", L.RoomCount);
    Count(out, "Total Textures pages:", L.TexturePageCount);
    Count(out, "Total Textures:", L.ObjectTextureCount);
    // The first word is the number of groups; an empty list has none.
    Count(out, "Total Animated Textures:", L.AnimatedTextures.empty() ? 0 : L.AnimatedTextures[0]);
    Count(out, "Total Items:", L.ItemCount);
    Count(out, "Total Cameras:", L.CameraCount);
    Count(out, "Total Boxes:", L.BoxCount);
    Count(out, "Total Overlaps:", L.OverlapCount);
    out.Progress("Counting vertices & polygons, statics & lights...");

    int32_t statics = 0, lights = 0, maxVertices = 0, maxRectangles = 0, maxTriangles = 0;
    for (const RoomRecord& r : L.Rooms) {
        if (r.VertexCount > maxVertices) maxVertices = r.VertexCount;
        if (r.RectangleCount > maxRectangles) maxRectangles = r.RectangleCount;
        if (r.TriangleCount > maxTriangles) maxTriangles = r.TriangleCount;
        statics += r.StaticCount;
        lights += r.LightCount;
    }
    Count(out, "Total Statics meshes:", statics);
    Count(out, "Total spots lights   :", lights);
    Count(out, "Maximum Vertices used:", maxVertices);
    Count(out, "Maximum Rectangles used:", maxRectangles);
    Count(out, "Maximum Triangles used:", maxTriangles);

    // The last item of object id 0 (the player character) decides; -1 when the
    // level has none.
    int32_t startRoom = -1;
    for (const TRec<24>& item : L.Items24)
        if (GetU16(item.data()) == 0) startRoom = GetU16(item.data() + 2);
    Count(out, "Lara start a room:", startRoom);
    out.Line("");
    out.Line("Done.");
}

} // namespace qm
