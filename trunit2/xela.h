// Real TR5 rooms. Each room is an "XELA" block: the mark, a u32 size, a
// 208-byte header of fields and of offsets into the room's data area (which
// starts 216 bytes after the mark), then the data area: lights, fog bulbs,
// sectors, portals, statics, layers, the faces of each layer, vertices.
//
// The model keeps each block whole (RoomRecord::XelaBlock) and reads the
// fields the tool uses through checked offsets inside it; saving writes those
// fields back at the same offsets, so nothing else in the block can change.
// One walk describes the fields for both directions.
#pragma once

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "errors.h"
#include "reader.h"
#include "trlevel.h"
#include "walkio.h"

namespace qm {

// Header offsets, counted from the "XELA" mark.
namespace xela {
constexpr size_t DataArea = 216;  // every stored offset counts from here
constexpr size_t Size = 4, SectorStart = 16, PortalEnd = 24, SectorsZ = 48, SectorsX = 50, Colour = 52,
                 LightCount = 56, StaticCount = 58, AlternateRoom = 84, Flags = 86, LightStart = 152,
                 FogStart = 156, FogCount = 164, LayerCount = 176, LayerStart = 180, VertexStart = 184,
                 FaceStart = 188;
constexpr uint64_t LightSize = 88, FogSize = 36, SectorSize = 8, StaticSize = 20, LayerSize = 56,
                   RectangleSize = 12, TriangleSize = 10, VertexSize = 28;
// In a layer record: its vertex, rectangle and triangle counts (u16).
constexpr size_t LayerVertices = 0, LayerRectangles = 6, LayerTriangles = 8;
} // namespace xela

// A cursor over one XELA block. Loading copies from the block into the model;
// saving copies the model's fields into the block. Every place is checked to
// lie inside the block's data area first; a report names the room, the layer
// and the field, at the level-data offset of the header field that led there.
template <bool Loading>
class TXelaCursor {
public:
    using TBlock = std::conditional_t<Loading, const TBytes, TBytes>;
    TXelaCursor(TBlock& block, int64_t base, const char* area, int room)
        : B_(block), Base_(base), Area_(area), Room_(room) {}

    // The field being walked: its name, the block offset of the header field
    // that holds its count or offset, and the layer (-1 for the room).
    void At(const char* field, size_t fieldAt, int layer = -1) {
        Field_ = field;
        FieldAt_ = fieldAt;
        Layer_ = layer;
    }
    std::string Where() const {
        std::string field = Layer_ >= 0 ? "layer " + std::to_string(Layer_) + ", " + Field_ : std::string(Field_);
        return DescribePlace(TPlace{"room", Room_, field.c_str()}, Area_, Base_ + int64_t(FieldAt_));
    }
    [[noreturn]] void Outside() const {
        throw ELevelError("Room " + std::to_string(Room_) + " describes content outside its XELA block", Where());
    }
    [[noreturn]] void Overlapping() const {
        throw ELevelError("Room " + std::to_string(Room_) + " has sectors, layers or faces that overlap in its XELA block",
                          Where());
    }
    [[noreturn]] void TooMany(uint64_t n, const char* noun) const {
        throw ELevelError("Room " + std::to_string(Room_) + " has " + std::to_string(n) + " " + noun + "; at most " +
                              std::to_string(UINT16_MAX) + " are supported",
                          Where());
    }

    // Header values (the header itself lies inside every accepted block).
    uint16_t U16(size_t at) const { return GetU16(B_.data() + at); }
    uint32_t U32(size_t at) const { return GetU32(B_.data() + at); }

    // The block offset of `count` records of `size` bytes at the data-area
    // offset `start`; reports the room when they do not lie inside the block.
    size_t Piece(uint64_t start, uint64_t count, uint64_t size) const {
        const uint64_t at = xela::DataArea + start;
        if (start > B_.size() || count * size > B_.size() || at + count * size > B_.size()) Outside();
        return size_t(at);
    }

    // The model's bytes to or from the block.
    void Copy(size_t at, uint8_t* model, size_t n) {
        if constexpr (Loading) std::memcpy(model, B_.data() + at, n);
        else std::memcpy(B_.data() + at, model, n);
    }
    template <size_t N>
    void Copy(size_t at, TRec<N>& r, size_t n = N) { Copy(at, r.data(), n); }

private:
    TBlock& B_;
    int64_t Base_;
    const char* Area_;
    int Room_;
    const char* Field_ = "";
    size_t FieldAt_ = 0;
    int Layer_ = -1;
};

// The fields of one room the tool reads and edits: counts (the vertex and face
// counts summed over the layers), the ambient colour (blue and green as the
// ambient bytes, red and alpha as the second ambient value), the
// alternate room, the flags, the sectors and the faces' first 10 (rectangles)
// or 8 bytes (triangles), which end with the texture word as in older rooms.
template <bool Loading>
void WalkXelaFields(TXelaCursor<Loading>& c, RoomRecord& r) {
    using namespace xela;
    c.At("colour", Colour);
    c.Copy(Colour, r.AmbientIntensity, 2);
    // Red and alpha, the colour's high bytes: the second ambient value, as in
    // the TR4 family.
    uint8_t high[2] = {uint8_t(r.AmbientIntensity2), uint8_t(r.AmbientIntensity2 >> 8)};
    c.Copy(Colour + 2, high, 2);
    if constexpr (Loading) r.AmbientIntensity2 = GetU16(high);
    c.At("flags", Flags);
    uint8_t alternate[2] = {uint8_t(r.AlternateRoom), uint8_t(uint16_t(r.AlternateRoom) >> 8)};
    c.Copy(AlternateRoom, alternate, 2);
    if constexpr (Loading) r.AlternateRoom = int16_t(GetU16(alternate));
    c.Copy(Flags, r.RoomFlags, 2);

    c.At("lights", LightCount);
    const uint16_t lights = c.U16(LightCount);
    c.Piece(c.U32(LightStart), lights, LightSize);
    c.At("fog bulbs", FogCount);
    c.Piece(c.U32(FogStart), c.U32(FogCount), FogSize);
    c.At("static meshes", StaticCount);
    const uint16_t statics = c.U16(StaticCount);
    c.Piece(c.U32(PortalEnd), statics, StaticSize);

    c.At("sectors", SectorsZ);
    const uint64_t sectors = uint64_t(c.U16(SectorsZ)) * c.U16(SectorsX);
    const size_t sectorAt = c.Piece(c.U32(SectorStart), sectors, SectorSize);
    if constexpr (Loading) {
        r.SectorCountZ = c.U16(SectorsZ);
        r.SectorCountX = c.U16(SectorsX);
        SizeToFill(r.Sectors, int64_t(sectors));
        r.LightCount = lights;
        r.StaticCount = statics;
    }
    for (size_t k = 0; k < sectors; ++k) c.Copy(sectorAt + SectorSize * k, r.Sectors[k]);

    // The layers: the vertices and faces of each are checked to lie inside the
    // block, then the room's sums against its 16-bit counts; only then is
    // anything sized, and the faces are copied layer after layer, each its
    // rectangles then its triangles.
    c.At("layers", LayerCount);
    const uint32_t layers = c.U32(LayerCount);
    const size_t layerAt = c.Piece(c.U32(LayerStart), layers, LayerSize);
    // Visits each layer with its vertex count and the block offsets and counts
    // of its faces; returns the data-area offset after the last face.
    auto eachLayer = [&](const auto& visit) {
        uint64_t face = c.U32(FaceStart), vertex = c.U32(VertexStart);
        for (uint32_t j = 0; j < layers; ++j) {
            const size_t at = layerAt + LayerSize * j;
            const uint16_t nv = c.U16(at + LayerVertices), nr = c.U16(at + LayerRectangles), nt = c.U16(at + LayerTriangles);
            c.At("vertices", at + LayerVertices, int(j));
            c.Piece(vertex, nv, VertexSize);
            vertex += VertexSize * nv;
            c.At("rectangles", at + LayerRectangles, int(j));
            const size_t rectanglesAt = c.Piece(face, nr, RectangleSize);
            face += RectangleSize * nr;
            c.At("triangles", at + LayerTriangles, int(j));
            const size_t trianglesAt = c.Piece(face, nt, TriangleSize);
            face += TriangleSize * nt;
            visit(nv, rectanglesAt, nr, trianglesAt, nt);
        }
        return face;
    };
    uint64_t vertices = 0, rectangles = 0, triangles = 0;
    eachLayer([&](uint16_t nv, size_t, uint16_t nr, size_t, uint16_t nt) {
        vertices += nv, rectangles += nr, triangles += nt;
    });
    // The room's counts are 16-bit, as in the other kinds: the layers of one
    // room may not hold more together.
    c.At("layers", LayerCount);
    if (vertices > UINT16_MAX) c.TooMany(vertices, "vertices");
    if (rectangles > UINT16_MAX) c.TooMany(rectangles, "rectangles");
    if (triangles > UINT16_MAX) c.TooMany(triangles, "triangles");
    if constexpr (Loading) {
        r.VertexCount = uint16_t(vertices);
        r.RectangleCount = uint16_t(rectangles);
        r.TriangleCount = uint16_t(triangles);
        SizeToFill(r.Rectangles, int64_t(rectangles));
        SizeToFill(r.Triangles, int64_t(triangles));
    }
    size_t rect = 0, tri = 0;
    const uint64_t face = eachLayer([&](uint16_t, size_t rectanglesAt, uint16_t nr, size_t trianglesAt, uint16_t nt) {
        for (uint16_t k = 0; k < nr; ++k) c.Copy(rectanglesAt + RectangleSize * k, r.Rectangles[rect++]);
        for (uint16_t k = 0; k < nt; ++k) c.Copy(trianglesAt + TriangleSize * k, r.Triangles[tri++]);
    });
    // The pieces written back on saving (sectors, faces) must not overlap each
    // other or the layer records the walk reads its counts from: an edit of one
    // would change another, and the saved room would read differently. Real
    // rooms place their pieces one after another.
    struct TRange {
        uint64_t From, To;
    };
    const TRange pieces[] = {{sectorAt, sectorAt + SectorSize * sectors},
                             {layerAt, layerAt + LayerSize * layers},
                             {DataArea + c.U32(FaceStart), DataArea + face}};
    c.At("faces", FaceStart);
    for (size_t a = 0; a < 3; ++a)
        for (size_t b = a + 1; b < 3; ++b)
            if (pieces[a].From < pieces[a].To && pieces[b].From < pieces[b].To && pieces[a].From < pieces[b].To &&
                pieces[b].From < pieces[a].To)
                c.Overlapping();
}

// A real TR5 room: the XELA block kept whole; its fields are read through the
// block's own offsets (WalkXelaFields) and written back into it on saving.
template <class IO>
void WalkXelaRoom(IO& io, RoomRecord& r, int i) {
    if constexpr (IO::Loading) {
        TReader& R = io.R;
        const int64_t start = int64_t(R.Pos());
        io.At("room", i, "XELA mark");
        R.Need(8);
        R.Ensure(8);
        if (std::memcmp(R.Cursor(), "XELA", 4) != 0)
            throw ELevelError("Room " + std::to_string(i) + " does not start with \"XELA\"", R.Where());
        R.Skip(4);
        io.At("room", i, "size");
        const uint32_t size = R.U32();
        if (size < xela::DataArea - 8)
            throw ELevelError("Room " + std::to_string(i) + " is smaller than its XELA header", R.Where());
        R.Need(size);
        R.Ensure(size);
        r.XelaBlock.assign(R.Cursor() - 8, R.Cursor() + size);
        R.Skip(size);
        TXelaCursor<true> c(r.XelaBlock, start, R.Area(), i);
        WalkXelaFields(c, r);
    } else {
        TXelaCursor<false> c(r.XelaBlock, 0, "", i);
        WalkXelaFields(c, r);
        io.Raw(r.XelaBlock.data(), r.XelaBlock.size());
    }
}

} // namespace qm
