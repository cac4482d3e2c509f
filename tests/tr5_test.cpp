// Real TR5 levels built by the test builder: the model read from them, the
// saved bytes, every edit (multi-layer rooms too), and damaged rooms, counts
// and cuts, which must end in an error report with the place.
#include <cstring>
#include <functional>

#include "binary_run.h"
#include "errors.h"
#include "kinds.h"
#include "tool_test_support.h"
#include "trlevel.h"

using namespace qmtest;

namespace {

using qm::Ttrlevel;

struct Outcome {
  int Result = -1;
  std::string What, Where;  // What empty: no error
  bool ReadBeyondEnd = false;
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "result " << o.Result << ", '" << o.What << "' " << o.Where;
}

Outcome Parse(Ttrlevel& M, const Bytes& file, const std::string& name = "level.trc") {
  Outcome o;
  try {
    o.Result = M.ParseLevel(file.data(), file.size(), name);
  } catch (const qm::EQuillError& e) {
    o.What = e.what();
    o.Where = e.Where;
    const auto* io = dynamic_cast<const qm::EInOutError*>(&e);
    o.ReadBeyondEnd = io && io->Code == qm::EInOutError::ReadBeyondEnd;
  }
  return o;
}

template <class C>
Bytes B(const C& c) {
  const auto* p = reinterpret_cast<const uint8_t*>(c.data());
  return Bytes(p, p + c.size() * sizeof(c[0]));
}

// Rectangles and triangles of a room as the model holds them: the first 10
// and 8 bytes of each face, layer after layer.
Bytes Faces(const B5Room& r, bool rectangles) {
  Bytes b;
  auto put = [&](uint16_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  for (const B5Layer& l : r.layers) {
    if (rectangles)
      for (const B5Rectangle& f : l.rectangles) {
        for (uint16_t v : f.vertices) put(v);
        put(f.texture);
      }
    else
      for (const B5Triangle& f : l.triangles) {
        for (uint16_t v : f.vertices) put(v);
        put(f.texture);
      }
  }
  return b;
}

TEST(Tr5Level, ModelMatchesTheDescription) {
  const BLevel L = SampleLevel(8, 3);
  const Bytes file = Build(L);
  for (const char* name : {"level.trc", "LEVEL.TR4", "level.phd"}) {  // the content decides, not the name
    SCOPED_TRACE(name);
    Ttrlevel M;
    ASSERT_EQ(Parse(M, file, name).Result, 0);
    EXPECT_EQ(M.LevelVersion, qm::KindTR5);
    EXPECT_EQ(M.TexturePageCount(), 1);
    EXPECT_TRUE(B(M.Tr5Fields) == B(L.tr5Fields));
    ASSERT_EQ(M.RoomCount, L.rooms5.size());
    for (size_t i = 0; i < L.rooms5.size(); ++i) {
      SCOPED_TRACE("room " + std::to_string(i));
      const B5Room& r = L.rooms5[i];
      const qm::RoomRecord& m = M.Rooms[i];
      size_t v = 0, rc = 0, tc = 0;
      for (const B5Layer& l : r.layers) v += l.vertices.size(), rc += l.rectangles.size(), tc += l.triangles.size();
      EXPECT_EQ(m.VertexCount, v);
      EXPECT_EQ(m.RectangleCount, rc);
      EXPECT_EQ(m.TriangleCount, tc);
      EXPECT_EQ(m.LightCount, r.lights.size());  // fog bulbs are not lights
      EXPECT_EQ(m.StaticCount, r.statics.size());
      EXPECT_TRUE(B(m.Rectangles) == Faces(r, true));
      EXPECT_TRUE(B(m.Triangles) == Faces(r, false));
      EXPECT_TRUE(B(m.Sectors) == B(r.sectors));
      EXPECT_EQ(m.AmbientIntensity[0] | m.AmbientIntensity[1] << 8, int(r.colour & 0xFFFF));
      EXPECT_EQ(m.RoomFlags[0] | m.RoomFlags[1] << 8, r.flags);
      EXPECT_EQ(m.AlternateRoom, r.alternateRoom);
      EXPECT_TRUE(B(m.XelaBlock) == BuildXelaRoom(r));
    }
    EXPECT_TRUE(B(M.Moveables20) == B(L.moveables20));
    ASSERT_EQ(M.ObjectTextures.size(), L.objectTextures.size());
    for (size_t i = 0; i < L.objectTextures.size(); ++i)
      EXPECT_TRUE(M.ObjectTextures[i].TileAndFlags == L.objectTextures[i].tileAndFlags &&
                  M.ObjectTextures[i].Tr4Extra[3] == L.objectTextures[i].extra[3] &&
                  M.ObjectTextures[i].Tr5Closing == L.objectTextures[i].closing);
    EXPECT_EQ(M.ItemCount, 5);
    EXPECT_TRUE(B(M.SoundMap) == L.soundMap);
    EXPECT_TRUE(B(M.TrailingBytes) == L.trailingBytes);
    EXPECT_TRUE(B(M.SampleData) == L.rawTail);
    EXPECT_TRUE(B(M.SampleIndices) == B(L.sampleIndices));
  }
}

TEST(Tr5Level, OnlyTheFilesOwnNameChoosesTheVariant) {
  struct Row { const char* Path; int32_t Kind; };
  const Row rows[] = {{"a/b.TrC", qm::KindTRC}, {"x.trc/b.tr4", qm::KindTR4}, {".trc", qm::KindTRC},
#ifdef _WIN32
                      {"x.trc\\b.tr4", qm::KindTR4}, {"C:\\levels.trc\\b.TRC", qm::KindTRC}};
#else
                      {"x.trc\\b.tr4", qm::KindTRC}};  // a backslash is part of a Linux file name
#endif
  for (const Row& row : rows) EXPECT_EQ(qm::KindFromSignature(0x00345254u, row.Path), row.Kind) << row.Path;
}

TEST(Tr5Level, ATr4LayoutFileNamedTrcStaysTr4Layout) {
  for (const int kind : {6, 7}) {
    const Bytes file = Build(SampleLevel(kind, 3));
    Ttrlevel M;
    ASSERT_EQ(Parse(M, file).Result, 0);
    EXPECT_EQ(M.LevelVersion, qm::KindTRC);
  }
}

TEST(Tr5Level, SavedAsBuiltAndNeverInAnotherLayout) {
  BLevel L = SampleLevel(8, 5);
  L.rooms5.push_back(B5Room{});  // a room with no layers, sectors or lights
  for (const char* name : {"level.trc", "level.tr4"}) {
    Ttrlevel M;
    ASSERT_EQ(Parse(M, Build(L), name).Result, 0);
    const Bytes saved = M.SerializeLevel();
    EXPECT_EQ(Diff(saved, Build(L), 8), "");
    EXPECT_TRUE(saved == Build(L)) << "chunks compressed as the builder does, level data raw";
  }
}

class Tr5Edit : public ::testing::Test {
protected:
  // Runs the edit on the level and compares the file with the builder's file
  // for the description changed by edit.
  void Expect(const BLevel& before, const std::vector<std::string>& args, const std::string& progress,
              const std::function<void(BLevel&)>& edit) {
    std::string trace;
    for (const std::string& a : args) trace += " [" + a + "]";
    SCOPED_TRACE(trace);
    const fs::path p = scratch_.path / "lvl.trc";
    WriteBytes(p, Build(before));
    EXPECT_EQ(RunOn(p, args), Lines({"Loading Level...", progress, "Saving the level...", "Done."}));
    BLevel after = before;
    edit(after);
    EXPECT_EQ(Diff(ReadBytes(p), Build(after), 8), "");
  }
  ScratchDir scratch_;
};

TEST_F(Tr5Edit, EveryEditChangesOnlyItsBytes) {
  BLevel L = SampleLevel(8, 7);
  L.objectTextures.resize(10);  // the new texture ids below name textures of the level
  const uint16_t flags[] = {0x0040, 0x00FF, 0x12B6};
  for (size_t i = 0; i < 3; ++i) L.rooms5[i].flags = flags[i];
  // Texture words across the layers of room 2: 5 in several forms.
  B5Room& r2 = L.rooms5[2];
  r2.layers[0].rectangles[0].texture = 5;
  r2.layers[0].rectangles[1].texture = 0x9005;  // matches on its low 12 bits
  r2.layers[2].rectangles[0].texture = 0x1005;
  r2.layers[2].triangles[0].texture = 5;
  r2.layers[2].triangles[1].texture = 0x8005;  // triangles match the whole word

  Expect(L, {"/Step_sound", "2"}, "Changing Floor Sound...", [](BLevel& D) {
    for (B5Room& r : D.rooms5)
      for (auto& s : r.sectors) s[2] = uint8_t((s[2] & 0xF0) | 13);
  });
  Expect(L, {"/Lara_Light", "$1234", "1", "2"}, "Changing Lara Light...", [](BLevel& D) {
    for (size_t i : {1u, 2u}) D.rooms5[i].colour = (D.rooms5[i].colour & 0xFFFF0000u) | 0x1234;
  });
  const std::tuple<const char*, const char*, uint16_t> bits[] = {{"/Water", "Turning On/Off the water...", 0x01},
                                                                 {"/Sky", "Turning On/Off the Sky...", 0x08},
                                                                 {"/QuickSand", "Turning On/Off the Quicksand...", 0x04}};
  for (const auto& [sw, progress, bit] : bits)
    for (const bool on : {true, false})
      Expect(L, {sw, on ? "1" : "0"}, progress, [bit = bit, on](BLevel& D) {
        for (B5Room& r : D.rooms5) r.flags = on ? uint16_t(r.flags | bit) : uint16_t(r.flags & ~bit);
      });
  Expect(L, {"/Textures", "5", "7", "2", "2"}, "Changing Textures Ids...", [](BLevel& D) {
    B5Room& r = D.rooms5[2];
    r.layers[0].rectangles[0].texture = r.layers[0].rectangles[1].texture = r.layers[2].rectangles[0].texture = 7;
    r.layers[2].triangles[0].texture = 7;
  });
  Expect(L, {"/Textures", "$8005", "9", "2"}, "Changing Textures Ids...",
         [](BLevel& D) { D.rooms5[2].layers[2].triangles[1].texture = 9; });

  // Inside the "ZLIB" container: read like its content, saved plain.
  const fs::path p = scratch_.path / "packed.trc";
  WriteBytes(p, WrapZlib(Build(L)));
  RunOn(p, {"/Water", "1", "1", "1"});
  BLevel after = L;
  after.rooms5[1].flags |= 0x01;
  EXPECT_TRUE(ReadBytes(p) == Build(after));
}

// A damaged room: the description change, the message's start and the place.
struct Damage {
  const char* Name;
  void (*Apply)(BLevel&);
  const char* Message;
  const char* Place;     // the report's place after "of the level data: "
  const char* Mark;      // the builder mark (in room 1) the place's offset is at
};

const Damage kDamage[] = {
    {"mark", [](BLevel& L) { L.rooms5[1].counts.mark = std::array<uint8_t, 4>{'X', 'E', 'L', 'B'}; },
     "Room 1 does not start with \"XELA\"", "room 1, XELA mark", ""},
    {"size below the header", [](BLevel& L) { L.rooms5[1].counts.size = 100; }, "Room 1 is smaller than its XELA header",
     "room 1, size", "data"},
    {"size past the level data", [](BLevel& L) { L.rooms5[1].counts.size = 1'000'000; }, "Read beyond end of file",
     "room 1, size", "data"},
    {"size short of the content", [](BLevel& L) { L.rooms5[1].counts.size = 500; },
     "Room 1 describes content outside its XELA block", "room 1, static meshes", "statics.count"},
    {"sectors outside", [](BLevel& L) { L.rooms5[1].counts.sectorStart = 0xFFFFFFF0; },
     "Room 1 describes content outside its XELA block", "room 1, sectors", "sectorsZ"},
    {"lights outside", [](BLevel& L) { L.rooms5[1].counts.lights = 40; },
     "Room 1 describes content outside its XELA block", "room 1, lights", "lights.count"},
    {"fog bulbs outside", [](BLevel& L) { L.rooms5[1].counts.fogBulbs = 0x10000000; },
     "Room 1 describes content outside its XELA block", "room 1, fog bulbs", "fogBulbs.count"},
    {"statics outside", [](BLevel& L) { L.rooms5[1].counts.portalEnd = 1u << 31; },
     "Room 1 describes content outside its XELA block", "room 1, static meshes", "statics.count"},
    {"layers outside", [](BLevel& L) { L.rooms5[1].counts.layers = 0xFFFFFFFF; },
     "Room 1 describes content outside its XELA block", "room 1, layers", "layers.count"},
    {"layer vertices past the room", [](BLevel& L) { L.rooms5[1].layers[1].vertexCount = 1500; },
     "Room 1 describes content outside its XELA block", "room 1, layer 1, vertices", "layer1"},
    {"layer faces past the room", [](BLevel& L) { L.rooms5[1].layers[1].triangleCount = 1000; },
     "Room 1 describes content outside its XELA block", "room 1, layer 1, triangles", "layer1.triangleCount"},
    {"face start outside", [](BLevel& L) { L.rooms5[1].counts.faceStart = 0x7FFFFFFF; },
     "Room 1 describes content outside its XELA block", "room 1, layer 0, rectangles", "layer0.rectangleCount"},
    {"more rectangles than the block holds", [](BLevel& L) { L.rooms5[1].layers[0].rectangleCount = 65535; },
     "Room 1 describes content outside its XELA block", "room 1, layer 0, rectangles", "layer0.rectangleCount"},
    {"more rectangles than a room's count can say", [](BLevel& L) {
       for (int j = 0; j < 2; ++j) L.rooms5[1].layers.emplace_back().rectangles.resize(33000);
     }, "Room 1 has 66007 rectangles; at most 65535 are supported", "room 1, layers", "layers.count"},
};

// A room holds as many records as its counts say: just over the fixed
// capacities of the games' own room record, and at the limit of the room's
// 16-bit counts (vertices and faces summed over its layers), each loads and
// saves byte for byte.
TEST(Tr5Level, RoomsHoldAsManyRecordsAsTheirCountsSay) {
  const struct { const char* Field; size_t Count; } rows[] = {
      {"vertices", 2001}, {"vertices", 65535}, {"rectangles", 3001}, {"rectangles", 65535}, {"triangles", 1251},
      {"triangles", 65535}, {"sectors", 513}, {"sectors", 65535}, {"lights", 51}, {"lights", 65535},
      {"statics", 51}, {"statics", 65535}};
  for (const auto& row : rows) {
    const std::string field = row.Field;
    SCOPED_TRACE(field + " " + std::to_string(row.Count));
    BLevel L = SampleLevel(8, 4);
    B5Room& r = L.rooms5[1];
    // Room 1's layers hold some vertices and faces already: the new layer
    // brings the room's sum to the count.
    size_t held = 0;
    for (const B5Layer& l : r.layers)
      held += field == "vertices" ? l.vertices.size() : field == "rectangles" ? l.rectangles.size() : l.triangles.size();
    B5Layer& extra = r.layers.emplace_back();
    if (field == "vertices") extra.vertices.assign(row.Count - held, {7, 0, 3});
    if (field == "rectangles") extra.rectangles.assign(row.Count - held, {{0, 1, 2, 3}, 5, 0});
    if (field == "triangles") extra.triangles.assign(row.Count - held, {{0, 1, 2}, 6, 0});
    if (field == "sectors") r.sectorsZ = uint16_t(row.Count), r.sectorsX = 2, r.sectors.assign(row.Count * 2, {0x10, 0, 9});
    if (field == "lights") r.lights.assign(row.Count, {4, 4});
    if (field == "statics") r.statics.assign(row.Count, {5, 5});
    const Bytes file = Build(L);
    Ttrlevel M;
    ASSERT_EQ(Parse(M, file).Result, 0);
    const qm::RoomRecord& m = M.Rooms[1];
    const size_t counts[] = {m.VertexCount, m.RectangleCount, m.TriangleCount, m.Sectors.size(), m.LightCount,
                             m.StaticCount};
    EXPECT_EQ(counts[(&row - rows) / 2], field == "sectors" ? row.Count * 2 : row.Count);
    EXPECT_TRUE(M.SerializeLevel() == file) << "saved byte for byte";
  }
}

TEST(Tr5Level, DamagedRoomsAreReportedWithThePlace) {
  for (const Damage& d : kDamage) {
    SCOPED_TRACE(d.Name);
    BLevel L = SampleLevel(8, 9);
    d.Apply(L);
    BLayout lay;
    const Bytes file = Build(L, &lay);
    Ttrlevel M;
    const Outcome o = Parse(M, file);
    EXPECT_EQ(o.What.rfind(d.Message, 0), 0u) << o;
    const std::string mark = d.Mark;
    size_t at = lay.Data("room1");
    if (mark == "data") at += 8;
    else if (mark == "layer1.triangleCount") at = lay.Data("room1.layer1") + 8;
    else if (mark == "layer0.rectangleCount") at = lay.Data("room1.layer0") + 6;
    else if (mark == "sectorsZ") at += 48;
    else if (mark == "fogBulbs.count") at += 164;
    else if (!mark.empty()) at = lay.Data("room1." + mark);
    EXPECT_EQ(o.Where, "at byte " + std::to_string(at) + " of the level data: " + d.Place);
    EXPECT_FALSE(M.IsLoaded());
  }
}

TEST(Tr5Level, LayerVerticesFollowOneAnotherInsideTheBlock) {
  // Each layer's vertices start where the previous layer's end. A layer whose
  // count alone fits from the first layer's start but not after the layers
  // before it runs past the room's block: the real program refuses the level
  // with the error report. Counts moved between layers with the same total
  // stay inside and load.
  struct Row { const char* Name; size_t Room, Layer; uint16_t Count; const char* Place; };
  const Row rows[] = {{"room 1, second layer counts all vertices", 1, 1, 9, "room 1, layer 1, vertices"},
                      {"room 2, last layer after an empty one", 2, 2, 10, "room 2, layer 2, vertices"},
                      {"room 1, first layer counts all, second none", 1, 0, 9, nullptr}};
  ScratchDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    BLevel L = SampleLevel(8, 9);
    B5Room& room = L.rooms5[row.Room];
    size_t total = 0;
    for (const B5Layer& layer : room.layers) total += layer.vertices.size();
    ASSERT_EQ(total, row.Count) << "the sample room's vertices";
    room.layers[row.Layer].vertexCount = row.Count;
    if (!row.Place) room.layers[1].vertexCount = 0;
    BLayout lay;
    const Bytes file = Build(L, &lay);
    WriteBytes(dir.path / "lvl.trc", file);
    const BinaryRun run = RunBinary(dir.path, QM_TOOL_PATH, {"lvl.trc", "/Info"});
    EXPECT_EQ(run.err, "");
    if (!row.Place) {
      EXPECT_EQ(run.status, 0);
      continue;
    }
    const std::string key = "room" + std::to_string(row.Room) + ".layer" + std::to_string(row.Layer);
    const size_t at = lay.Data(key);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + Lines({"Loading Level...",
                                        "Room " + std::to_string(row.Room) + " describes content outside its XELA block.",
                                        "at byte " + std::to_string(at) + " of the level data: " + row.Place}));
    EXPECT_EQ(ReadBytes(dir.path / "lvl.trc"), file);
  }
}

TEST(Tr5Level, OverlappingSectorsLayersOrFacesAreRefused) {
  // An edit writes sectors and faces back into the block: overlapping each
  // other or the layer records, one edit would change another piece, so such a
  // room is refused on loading.
  BLevel L = SampleLevel(8, 9);
  BLayout lay;
  const Bytes built = Build(L, &lay);
  const size_t x = lay.Data("room1") + lay.File("levelData");
  const int64_t sectors = U32(built, x + 16), layers = U32(built, x + 180);
  struct Row { const char* Name; std::optional<int64_t> B5RoomOverrides::*Field; int64_t Value; };
  const Row rows[] = {{"faces over the layer records", &B5RoomOverrides::faceStart, layers},
                      {"faces over the sectors", &B5RoomOverrides::faceStart, sectors}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    BLevel bad = L;
    bad.rooms5[1].counts.*row.Field = row.Value;
    Ttrlevel M;
    const Outcome o = Parse(M, Build(bad));
    EXPECT_EQ(o.What, "Room 1 has sectors, layers or faces that overlap in its XELA block") << o;
    EXPECT_EQ(o.Where, "at byte " + std::to_string(lay.Data("room1") + 188) + " of the level data: room 1, faces");
  }
}

TEST(Tr5Level, ImpossibleCountsAndCutsFailBeforeTheEnd) {
  // Counts: rooms above what the model holds, or than the data can hold.
  for (const int64_t rooms : {int64_t(70000), int64_t(-1), int64_t(40)}) {
    BLevel L = SampleLevel(8, 2);
    L.counts.rooms = rooms;
    Ttrlevel M;
    const Outcome o = Parse(M, Build(L));
    EXPECT_TRUE(o.What == "Range check error" || o.ReadBeyondEnd) << o;
    EXPECT_NE(o.Where.find("of the level data: level data, room count"), std::string::npos) << o;
  }
  // Cuts of the level data (its two sizes made to fit): every cut before the
  // end of the sample indices fails at or before the cut; later cuts lose only
  // trailing bytes.
  BLevel L = SampleLevel(8, 4);
  FillPages(L, 0, 4, 100);  // small chunks keep the many loads quick
  BLayout lay;
  const Bytes file = Build(L, &lay);
  const size_t start = lay.File("levelData"), end = lay.File("tail"), indices = lay.Data("trailingBytes");
  for (size_t n = 0; n <= end - start; ++n) {
    Bytes cut(file.begin(), file.begin() + long(start + n));
    const uint8_t size[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    std::memcpy(cut.data() + start - 8, size, 4), std::memcpy(cut.data() + start - 4, size, 4);
    cut.insert(cut.end(), file.begin() + long(end), file.end());
    Ttrlevel M;
    const Outcome o = Parse(M, cut);
    if (n < indices) {
      const std::string head = "at byte ";
      ASSERT_TRUE(!o.What.empty() && o.Where.rfind(head, 0) == 0) << "cut at " << n << ": " << o;
      EXPECT_LE(std::stoul(o.Where.substr(head.size())), n) << o;
      EXPECT_NE(o.Where.find(" of the level data: "), std::string::npos) << o;
    } else {
      ASSERT_EQ(o.Result, 0) << "cut at " << n << ": " << o;
      EXPECT_EQ(M.TrailingBytes.size(), n - indices);
    }
  }
  // The file itself cut anywhere before its sample block: an error report.
  for (size_t n = 4; n < end; n += (n < lay.File("tr5Fields") ? 997 : 1)) {
    Ttrlevel M;
    const Outcome o = Parse(M, Bytes(file.begin(), file.begin() + long(n)));
    ASSERT_FALSE(o.What.empty()) << "file cut at " << n;
  }
}

}  // namespace
