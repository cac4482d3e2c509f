// Checks of the test level builder against fixed facts of the level file
// layout, so that a fault in the builder cannot hide a matching fault in the
// loader or the saver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "levelbuilder.h"

using namespace qmtest;

namespace {

uint32_t U32At(const Bytes& b, size_t at) {
  return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
         uint32_t{b.at(at + 3)} << 24;
}
uint16_t U16At(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::string TextAt(const Bytes& b, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}
Bytes Slice(const Bytes& b, size_t at, size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

const Kind kAllKinds[] = {Kind::TR1, Kind::TUB, Kind::TR2, Kind::TRG,
                          Kind::TR3, Kind::TR4, Kind::TRC};

// A room with nothing but a 1 x 1 sector grid, and the same room with one of
// every counted record.
BRoom EmptyRoom() {
  BRoom r;
  r.sectorsZ = r.sectorsX = 1;
  r.sectors.resize(1);
  return r;
}
BRoom OneOfEach(Kind kind) {
  const RecordSizes s = SizesOf(kind);
  BRoom r = EmptyRoom();
  r.vertices.resize(1);
  r.rectangles.resize(1);
  r.triangles.resize(1);
  r.sprites.resize(1);
  r.portals.resize(1);
  r.lights.assign(1, Bytes(s.light, 0x11));
  r.statics.assign(1, Bytes(s.roomStatic, 0x22));
  return r;
}

}  // namespace

TEST(LevelBuilder, RoomSizesFollowTheKind) {
  struct Row {
    Kind kind;
    size_t empty;      // 20 + 7 counts*2 + 8 + ambient/alternate/flags, per kind extras
    size_t oneOfEach;  // plus one vertex, faces, sprite, portal, light, static
  };
  const Row rows[] = {
      {Kind::TR1, 52, 52 + 8 + 10 + 8 + 4 + 32 + 18 + 18},
      {Kind::TUB, 52, 52 + 8 + 10 + 8 + 4 + 32 + 18 + 18},
      {Kind::TR2, 56, 56 + 12 + 10 + 8 + 4 + 32 + 24 + 20},
      {Kind::TRG, 56, 56 + 12 + 10 + 8 + 4 + 32 + 24 + 20},
      {Kind::TR3, 57, 57 + 12 + 10 + 8 + 4 + 32 + 24 + 20},
      {Kind::TR4, 57, 57 + 12 + 10 + 8 + 4 + 32 + 46 + 20},
      {Kind::TRC, 57, 57 + 12 + 10 + 8 + 4 + 32 + 46 + 20},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    BLevel L = EmptyLevel(row.kind);
    L.rooms = {EmptyRoom(), OneOfEach(row.kind)};
    const BLayout lay = LayoutOf(L);
    EXPECT_EQ(lay.Data("room1") - lay.Data("room0"), row.empty);
    EXPECT_EQ(lay.Data("rooms.end") - lay.Data("room1"), row.oneOfEach);
    EXPECT_EQ(lay.Data("room0"), 6u);  // reserved word and room count
    // DataWords measures the bytes from the vertex count to the portal count.
    const Bytes data = BuildLevelData(L);
    for (int r = 0; r < 2; ++r) {
      const std::string p = "room" + std::to_string(r);
      EXPECT_EQ(U32At(data, lay.Data(p + ".dataWords")) * 2,
                lay.Data(p + ".portals.count") - lay.Data(p + ".vertices.count"));
    }
  }
}

TEST(LevelBuilder, LightModeOnlyInTr2AndTrailingRoomBytesFromTr3On) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    const int k = static_cast<int>(kind);
    BLevel L = EmptyLevel(kind);
    L.rooms = {OneOfEach(kind)};
    const BLayout lay = LayoutOf(L);
    const size_t ambient = lay.Data("room0.ambient");
    const size_t extras = (k >= 3 ? 2 : 0) + (k == 3 || k == 4 ? 2 : 0);
    EXPECT_EQ(lay.Data("room0.lights.count"), ambient + 2 + extras);
    EXPECT_EQ(lay.data.count("room0.lightMode"), (k == 3 || k == 4) ? 1u : 0u);
    EXPECT_EQ(lay.Data("room0.end") - lay.Data("room0.flags"), k >= 5 ? 5u : 2u);
  }
}

TEST(LevelBuilder, BoxesAndZonesTakeTheirKindsSize) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    const bool early = static_cast<int>(kind) <= 2;
    BLevel L = EmptyLevel(kind);
    L.boxes.assign(3, Bytes(early ? 20 : 8, 0x33));
    for (auto& z : L.zones) z.assign(3, 7);
    L.overlaps = {1, 2};
    const BLayout lay = LayoutOf(L);
    EXPECT_EQ(lay.Data("overlaps.count") - lay.Data("boxes"), early ? 60u : 24u);
    EXPECT_EQ(lay.Data("zones"), lay.Data("overlaps") + 4);
    EXPECT_EQ(lay.Data("animatedTextures.count") - lay.Data("zones"), early ? 36u : 60u);
  }
}

TEST(LevelBuilder, SectionsSitWhereTheirKindKeepsThem) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    const int k = static_cast<int>(kind);
    const BLevel L = SampleLevel(k, 5);
    const BLayout lay = LayoutOf(L);
    const Bytes data = BuildLevelData(L);
    const size_t staticsEnd = lay.Data("staticMeshes") + 32 * L.staticMeshes.size();
    const size_t animTexEnd = lay.Data("animatedTextures") + 2 * L.animatedTextures.size();
    if (k <= 4) {
      EXPECT_EQ(lay.Data("objectTextures.count"), staticsEnd);
      EXPECT_EQ(lay.Data("spriteTextures.count"), lay.Data("objectTextures") + 20 * 5);
    } else if (k == 5) {
      EXPECT_EQ(lay.Data("spriteTextures.count"), staticsEnd);
      EXPECT_EQ(lay.Data("objectTextures.count"), animTexEnd);
      EXPECT_EQ(lay.Data("items.count"), lay.Data("objectTextures") + 20 * 5);
    } else {
      EXPECT_EQ(lay.Data("spriteMarker"), staticsEnd);
      EXPECT_EQ(TextAt(data, staticsEnd, 3), "SPR");
      EXPECT_EQ(lay.Data("spriteTextures.count"), staticsEnd + 3);
      EXPECT_EQ(lay.Data("texMarker"), animTexEnd);
      EXPECT_EQ(TextAt(data, animTexEnd + 1, 3), "TEX");
      EXPECT_EQ(lay.Data("objectTextures.count"), animTexEnd + 4);
      EXPECT_EQ(lay.Data("items.count"), lay.Data("objectTextures") + 38 * 5);
      EXPECT_EQ(lay.Data("aiObjects.count"), lay.Data("items") + 24 * L.items.size());
    }
    if (k == 1) {
      EXPECT_EQ(lay.Data("palette8"), lay.Data("lightMap") + 8192);
      EXPECT_EQ(lay.Data("cinematicFrames.count"), lay.Data("palette8") + 768);
    }
    if (k == 2) {
      EXPECT_EQ(lay.Data("palette8"), lay.Data("spriteSequences") + 8 * 2);
      EXPECT_EQ(lay.Data("cameras.count"), lay.Data("palette8") + 768);
    }
    // The demo count is 2 bytes; the sound map follows the demo bytes.
    EXPECT_EQ(lay.Data("soundMap"), lay.Data("demoData.count") + 2 + L.demoData.size());
    EXPECT_EQ(lay.Data("soundDetails.count"), lay.Data("soundMap") + (k <= 2 ? 512u : 740u));
    EXPECT_EQ(data.size(), lay.Data("sampleIndices") + 4 * L.sampleIndices.size());
  }
}

TEST(LevelBuilder, HeadOfEveryKind) {
  struct Row {
    Kind kind;
    uint32_t signature;
    size_t pageCountAt;
    size_t levelData;  // file offset of the level data with one texture page
  };
  const Row rows[] = {
      {Kind::TR1, 0x20, 4, 8 + 65536},
      {Kind::TUB, 0x20, 4, 8 + 65536},
      {Kind::TR2, 0x2D, 1796, 1800 + 3 * 65536},
      {Kind::TRG, 0x2D, 1796, 1800 + 3 * 65536},
      {Kind::TR3, 0xFF080038, 1796, 1800 + 3 * 65536},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    const BLevel L = SampleLevel(static_cast<int>(row.kind), 2);
    BLayout lay;
    const Bytes file = Build(L, &lay);
    EXPECT_EQ(U32At(file, 0), row.signature);
    EXPECT_EQ(U32At(file, row.pageCountAt), 1u);
    EXPECT_EQ(lay.File("levelData"), row.levelData);
    EXPECT_EQ(Slice(file, row.levelData, file.size() - row.levelData), BuildLevelData(L));
    EXPECT_EQ(lay.File("room1"), row.levelData + lay.Data("room1"));
  }
}

TEST(LevelBuilder, Tr4ChunksAndTail) {
  for (Kind kind : {Kind::TR4, Kind::TRC}) {
    BLevel L = SampleLevel(static_cast<int>(kind), 3);
    L.trailingBytes = {1, 2, 3, 4, 5, 6};
    L.textiles16.resize(5 * 131072 + 100, 0x44);  // not whole pages
    const Bytes file = Build(L);
    EXPECT_EQ(TextAt(file, 0, 4), std::string("TR4\0", 4));
    // 10 bytes of head, then four chunks of (8 + packed) bytes, then the tail.
    size_t at = 10;
    std::vector<Bytes> unpacked;
    for (int c = 0; c < 4; ++c) {
      const uint32_t size = U32At(file, at);
      const uint32_t packed = U32At(file, at + 4);
      unpacked.push_back(Inflate(Slice(file, at + 8, packed)));
      EXPECT_EQ(unpacked.back().size(), size);
      at += 8 + packed;
    }
    EXPECT_EQ(file.size(), at + L.rawTail.size());
    EXPECT_EQ(unpacked[0], L.textiles32);
    EXPECT_EQ(unpacked[1], L.textiles16);
    EXPECT_EQ(unpacked[2], L.texturesMisc);
    EXPECT_EQ(unpacked[3], BuildLevelData(L));
    EXPECT_EQ(Slice(unpacked[3], unpacked[3].size() - 6, 6), L.trailingBytes);
  }
}

TEST(LevelBuilder, ChunkDamageForms) {
  BLevel L = SampleLevel(6, 4);
  const Bytes data = BuildLevelData(L);
  L.chunks[3].form = ChunkForm::Stored;
  BLayout lay;
  Bytes file = Build(L, &lay);
  const size_t c4 = lay.File("chunk4");
  EXPECT_EQ(U32At(file, c4), data.size());
  EXPECT_EQ(U32At(file, c4 + 4), data.size());
  EXPECT_EQ(Slice(file, c4 + 8, data.size()), data);

  for (ChunkForm form : {ChunkForm::NotZlib, ChunkForm::BadChecksum}) {
    L.chunks[3].form = form;
    file = Build(L, &lay);
    EXPECT_THROW(Inflate(Slice(file, lay.File("chunk4.data"), U32At(file, c4 + 4))),
                 std::runtime_error);
  }
  L.chunks[3] = {};
  L.chunks[1].unpackedSize = 7;
  L.chunks[1].packedSize = -1;
  file = Build(L, &lay);
  EXPECT_EQ(U32At(file, lay.File("chunk2")), 7u);
  EXPECT_EQ(U32At(file, lay.File("chunk2") + 4), 0xFFFFFFFFu);
}

TEST(LevelBuilder, CountOverridesKeepTheElements) {
  BLevel L = SampleLevel(3, 6);
  L.counts.boxes = -1;
  L.counts.rooms = 1'000'000'000;  // a 2-byte field keeps the low 16 bits
  L.rooms[1].counts.vertices = 0xFFFF;
  const BLayout lay = LayoutOf(L);
  const Bytes data = BuildLevelData(L);
  EXPECT_EQ(U32At(data, lay.Data("boxes.count")), 0xFFFFFFFFu);
  EXPECT_EQ(U16At(data, lay.Data("rooms.count")), 1'000'000'000 & 0xFFFF);
  EXPECT_EQ(U16At(data, lay.Data("room1.vertices.count")), 0xFFFF);
  EXPECT_EQ(lay.Data("room1.rectangles.count") - lay.Data("room1.vertices"), 12 * 6u);
  EXPECT_EQ(lay.Data("overlaps.count") - lay.Data("boxes"), 8 * 3u);
}

TEST(LevelBuilder, NgTrailerEndsTheFile) {
  BLevel L = SampleLevel(6, 7);
  SetNgTrailer(L, 2048, 30);
  BLayout lay;
  const Bytes file = Build(L, &lay);
  const uint32_t length = U32At(file, file.size() - 4);
  EXPECT_EQ(length, 2u + 30u + 8u);
  EXPECT_EQ(TextAt(file, file.size() - 8, 4), "NGLE");
  EXPECT_EQ(TextAt(file, file.size() - length, 2), "NG");
  EXPECT_EQ(file.size() - length, lay.File("tail") + L.rawTail.size());
  const Bytes data = BuildLevelData(L);
  EXPECT_EQ(U16At(data, lay.Data("demoData.count")), 2048);
  EXPECT_EQ(lay.Data("soundMap"), lay.Data("demoData.count") + 2);
  EXPECT_EQ(lay.Data("soundDetails.count"), lay.Data("soundMap") + 4096);
  // The older form: a count of 0, then the standard 740-byte map.
  SetNgTrailerWithStandardMap(L, 30);
  const BLayout older = LayoutOf(L);
  EXPECT_EQ(U16At(BuildLevelData(L), older.Data("demoData.count")), 0);
  EXPECT_EQ(older.Data("soundDetails.count"), older.Data("soundMap") + 740);
  EXPECT_EQ(TextAt(Build(L), Build(L).size() - 8, 4), "NGLE");
}

TEST(LevelBuilder, ZlibContainerHeader) {
  const Bytes content = Build(SampleLevel(1, 8));
  const Bytes wrapped = WrapZlib(content);
  EXPECT_EQ(TextAt(wrapped, 0, 4), "ZLIB");
  EXPECT_EQ(U32At(wrapped, 4), wrapped.size() - 12);
  EXPECT_EQ(U32At(wrapped, 8), content.size());
  EXPECT_EQ(wrapped[12], 0x78);  // deflate, 32 KiB window
  EXPECT_EQ(wrapped[13], 0xDA);  // level 9
  EXPECT_EQ(Inflate(Slice(wrapped, 12, wrapped.size() - 12)), content);
  const Bytes lying = WrapZlib(content, {ChunkForm::Zlib, std::nullopt, 0});
  EXPECT_EQ(U32At(lying, 8), 0u);
}

TEST(LevelBuilder, SamplesAreDeterministicAndDistinct) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    const Bytes a = Build(SampleLevel(static_cast<int>(kind), 1));
    EXPECT_EQ(a, Build(SampleLevel(static_cast<int>(kind), 1)));
    EXPECT_NE(a, Build(SampleLevel(static_cast<int>(kind), 2)));
    EXPECT_LT(a.size(), 400u * 1024);
  }
}

TEST(LevelBuilder, RejectsDescriptionsThatDoNotFitTheKind) {
  BLevel L = SampleLevel(3, 1);
  L.rooms[0].lights[0].resize(18);  // a TR1 light in a TR2 room
  EXPECT_THROW(Build(L), std::invalid_argument);
  L = SampleLevel(1, 1);
  L.zones[4].pop_back();
  EXPECT_THROW(Build(L), std::invalid_argument);
  L = SampleLevel(1, 1);
  L.zones[2].clear();  // not in a TR1 file
  EXPECT_NO_THROW(Build(L));
}

// Real TR5: three chunks, the 32 bytes of TR5 fields, the level-data size
// twice, the raw level data (4-byte room count, then "XELA" rooms) and the
// samples; each room's size field is 208 + its vertex start + vertex bytes,
// with the offsets counted from 216 bytes after "XELA".
TEST(LevelBuilder, Tr5FileAndXelaRooms) {
  const BLevel L = SampleLevel(8, 6);
  BLayout lay;
  const Bytes file = Build(L, &lay);
  size_t at = 10;
  for (int c = 0; c < 3; ++c) at += 8 + U32At(file, at + 4);
  const size_t n = U32At(file, at + 32);
  EXPECT_EQ(U32At(file, at + 36), n);
  EXPECT_EQ(Slice(file, at, 32), Bytes(L.tr5Fields.begin(), L.tr5Fields.end()));
  EXPECT_EQ(Slice(file, at + 40, n), BuildLevelData(L));
  EXPECT_EQ(Slice(file, at + 40 + n, file.size() - at - 40 - n), L.rawTail);
  EXPECT_EQ(U32At(file, at + 44), 3u);
  EXPECT_EQ(TextAt(file, at + 48, 4), "XELA");
  EXPECT_EQ(Slice(file, at + 40 + n - 6, 6), Bytes(6, 0xCD));

  for (size_t i = 0; i < L.rooms5.size(); ++i) {
    SCOPED_TRACE(i);
    const B5Room& r = L.rooms5[i];
    const Bytes x = BuildXelaRoom(r);
    const size_t d = 216, vertexStart = U32At(x, 184), faceStart = U32At(x, 188);
    EXPECT_EQ(U32At(x, 4), 208 + vertexStart + U32At(x, 196));
    EXPECT_EQ(x.size(), 8 + U32At(x, 4));
    EXPECT_EQ(U16At(x, 56), r.lights.size());
    EXPECT_EQ(U32At(x, 156), 88 * r.lights.size());  // fog bulbs follow the lights
    EXPECT_EQ(U32At(x, 12), U32At(x, 16) + 8 * r.sectors.size());
    EXPECT_EQ(U16At(x, d + U32At(x, 12)), r.portals.size());
    EXPECT_EQ(U32At(x, 24), U32At(x, 12) + 2 + 32 * r.portals.size() + 2);
    EXPECT_EQ(U32At(x, 176), r.layers.size());
    EXPECT_EQ(U32At(x, 180) + 56 * r.layers.size(), faceStart);
    size_t faces = 0, vertices = 0, rects = 0;
    for (size_t j = 0; j < r.layers.size(); ++j) {
      const size_t layer = d + U32At(x, 180) + 56 * j;
      EXPECT_EQ(U16At(x, layer), r.layers[j].vertices.size());
      EXPECT_EQ(U16At(x, layer + 6), r.layers[j].rectangles.size());
      EXPECT_EQ(U16At(x, layer + 8), r.layers[j].triangles.size());
      if (!r.layers[j].rectangles.empty()) {  // the texture word at +8 of a 12-byte rectangle
        EXPECT_EQ(U16At(x, d + faceStart + faces + 8), r.layers[j].rectangles[0].texture);
      }
      faces += 12 * r.layers[j].rectangles.size() + 10 * r.layers[j].triangles.size();
      vertices += r.layers[j].vertices.size();
      rects += r.layers[j].rectangles.size();
    }
    EXPECT_EQ(U32At(x, 148), rects);
    // "CD CD" after faces whose bytes are not a multiple of 4.
    EXPECT_EQ(vertexStart, faceStart + faces + (faces % 4 ? 2 : 0));
    EXPECT_EQ(U32At(x, 196), 28 * vertices);
  }
  // A room with nothing: the header, the portal count and the 2-byte filler.
  EXPECT_EQ(BuildXelaRoom(B5Room{}).size(), 216u + 4u);
}
