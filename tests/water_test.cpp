// Flooding and draining rooms, and the view of water rooms, on builder levels
// of every kind whose rooms link through their sectors as chosen; and on the
// real levels, flooded and drained back.
#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "binary_run.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

constexpr uint8_t kNone = 255;
constexpr int16_t kSurfaceY = -2048;  // the ceiling of room 0's sectors: byte -8

std::array<uint8_t, 8> Sector(uint8_t below, uint8_t above, int8_t ceiling = -8) {
  return {0x11, 0x00, 0x36, 0x12, below, 0x04, above, uint8_t(ceiling)};
}

// Every combination of movement, glow and no-wibble, with the other bits clear
// and set.
uint16_t Attributes(size_t k) {
  const uint16_t effects = uint16_t((k & 1 ? 0x2000 : 0) | (k & 2 ? 0x4000 : 0) | (k & 4 ? 0x8000 : 0));
  return uint16_t(effects | (k & 8 ? 0x1FFF : 0x0010));
}

// Room 1's vertex positions (room 1 lies at 0, 0): the first three on room 0's
// ceiling (a corner, inside, the far corner), the others beside it (height,
// x and z outside its sectors).
struct Point {
  int16_t x, y, z;
  bool onSurface;
};
constexpr Point kPoints[6] = {{2048, kSurfaceY, 1024, true},   {3072, kSurfaceY, 2048, true},
                              {4096, kSurfaceY, 3072, true},   {3000, -1792, 2000, false},
                              {5120, kSurfaceY, 2048, false},  {3072, kSurfaceY, 512, false}};

// Six rooms: 0 water (2x2 sectors at x 2048, z 1024, room 1 above); 1 dry
// (room 0 below); 2 dry, no links; 3 dry under 4, flipping to 2; 4 water
// above 3 and 5; 5 water under 4.
struct TRoomPlan {
  bool water;
  uint16_t sectorsX, sectorsZ;
  std::vector<std::array<uint8_t, 8>> sectors;
  int16_t alternate;
  int32_t x, z;
};
const TRoomPlan kPlan[6] = {
    {true, 2, 2, {Sector(kNone, 1), Sector(kNone, 1), Sector(kNone, 1), Sector(kNone, 1)}, -1, 2048, 1024},
    {false, 2, 2, {Sector(0, kNone), Sector(0, kNone), Sector(0, kNone), Sector(0, kNone)}, -1, 0, 0},
    {false, 1, 1, {Sector(kNone, kNone)}, -1, 0, 0},
    {false, 1, 1, {Sector(kNone, 4)}, 2, 0, 0},
    {true, 1, 2, {Sector(3, kNone), Sector(5, kNone)}, -1, 0, 0},
    {true, 1, 1, {Sector(kNone, 4)}, -1, 0, 0},
};

void PutI32(std::array<uint8_t, 16>& info, size_t at, int32_t v) {
  for (int b = 0; b < 4; ++b) info[at + size_t(b)] = uint8_t(uint32_t(v) >> (8 * b));
}

BLevel WaterLevel(int kind) {
  BLevel L = SampleLevel(kind, 5);
  for (size_t i = 0; i < 6; ++i) {
    const TRoomPlan& plan = kPlan[i];
    if (kind == 8) {
      if (i >= 3) L.rooms5.push_back(L.rooms5[i - 3]);
      B5Room& r = L.rooms5[i];
      r.sectorsX = plan.sectorsX, r.sectorsZ = plan.sectorsZ, r.sectors = plan.sectors;
      r.alternateRoom = plan.alternate;
      r.flags = uint16_t(0x0040 | (plan.water ? 1 : 0));
      r.info[0] = plan.x, r.info[2] = plan.z;
      continue;
    }
    if (i >= 3) L.rooms.push_back(L.rooms[i - 3]);
    BRoom& r = L.rooms[i];
    r.sectorsX = plan.sectorsX, r.sectorsZ = plan.sectorsZ, r.sectors = plan.sectors;
    r.alternateRoom = plan.alternate;
    r.flags = {uint8_t(0x20 | (plan.water ? 1 : 0)), 0x80};
    PutI32(r.info, 0, plan.x);
    PutI32(r.info, 4, plan.z);
    r.vertices.resize(16);
    for (size_t k = 0; k < 16; ++k) {
      const Point& p = kPoints[k % 6];
      r.vertices[k] = {p.x, p.y, p.z, uint16_t(0x1234 + k), Attributes(k), uint16_t(0x4321 + k)};
    }
  }
  return L;
}

bool VertexKind(int kind) { return kind == 5 || kind == 6 || kind == 7; }

bool IsWater(const BLevel& L, size_t room) {
  return L.kind == Kind::TR5 ? (L.rooms5[room].flags & 1) != 0 : (L.rooms[room].flags[0] & 1) != 0;
}

void SetWater(BLevel& L, size_t room, bool on) {
  if (L.kind == Kind::TR5) L.rooms5[room].flags = uint16_t(on ? L.rooms5[room].flags | 1 : L.rooms5[room].flags & ~1);
  else L.rooms[room].flags[0] = uint8_t(on ? L.rooms[room].flags[0] | 1 : L.rooms[room].flags[0] & ~1);
}

// The level the edit must give, from the plan: the flag, and in TR3 and the TR4
// family the vertex bits (room 1's surface vertices when room 0 is drained).
BLevel Expected(const BLevel& before, bool flood, const std::vector<size_t>& rooms) {
  BLevel L = before;
  for (size_t room : rooms) {
    if (IsWater(L, room) == flood) continue;
    SetWater(L, room, flood);
    if (!VertexKind(int(L.kind))) continue;
    for (BVertex& v : L.rooms[room].vertices) v.attributes = uint16_t(flood ? v.attributes | 0x4000 : v.attributes & ~0x6000);
    if (!flood && room == 0 && !IsWater(L, 1))
      for (size_t k = 0; k < 16; ++k)
        if (kPoints[k % 6].onSurface) L.rooms[1].vertices[k].attributes &= uint16_t(~0x2000);
  }
  return L;
}

// "Room 1: flags 0x0020 -> 0x0021, 16 vertices" for each room that differs.
std::vector<std::string> ChangeLines(const BLevel& a, const BLevel& b) {
  std::vector<std::string> lines;
  size_t rooms = 0, total = 0;
  for (size_t i = 0; i < 6; ++i) {
    const bool flags = IsWater(a, i) != IsWater(b, i);
    size_t vertices = 0;
    if (a.kind != Kind::TR5)
      for (size_t k = 0; k < a.rooms[i].vertices.size(); ++k)
        vertices += a.rooms[i].vertices[k].attributes != b.rooms[i].vertices[k].attributes;
    if (!flags && !vertices) continue;
    char text[64];
    const unsigned old = a.kind == Kind::TR5 ? a.rooms5[i].flags : unsigned(a.rooms[i].flags[0] | a.rooms[i].flags[1] << 8);
    std::snprintf(text, sizeof text, "flags 0x%04X -> 0x%04X", old, old ^ 1u);
    std::string line = "Room " + std::to_string(i) + ":" + (flags ? std::string(" ") + text : "");
    if (vertices) line += (flags ? ", " : " ") + std::to_string(vertices) + (vertices == 1 ? " vertex" : " vertices");
    lines.push_back(line);
    ++rooms, total += vertices;
  }
  if (!rooms) return {"No room would change; nothing was saved."};
  lines.push_back(std::to_string(rooms) + (rooms == 1 ? " room" : " rooms") + " would change (" +
                  std::to_string(total) + (total == 1 ? " vertex" : " vertices") + "); nothing was saved.");
  return lines;
}

const std::string kNoAbove1 = "Room 1: no room above it; there is no surface to come up at.";
const std::string kNoAbove2 = "Room 2: no room above it; there is no surface to come up at.";

// Each edit on every kind: the notes, the dry run's changes, then exactly the
// stated bits changed and every other byte kept (TR4 family compared unpacked).
TEST(Water, FloodAndDrainChangeExactlyTheStatedBitsWithTheirNotes) {
  ScratchDir scratch;
  const struct {
    std::vector<std::string> args;
    std::vector<size_t> rooms;  // the rooms the edit acts on
    std::vector<std::string> notes;
  } rows[] = {
      {{"/Flood", "1", "1"}, {1}, {kNoAbove1, "Room 1 joins water room 0 below it."}},
      {{"/Flood", "2", "2"}, {2}, {kNoAbove2, "Room 2 is now water; its flip room 3 is dry."}},  // 3 flips to 2
      {{"/Flood", "3", "3"}, {3}, {"Room 3 joins water room 4 above it.", "Room 3 is now water; its flip room 2 is dry."}},
      {{"/Flood", "3", "3", "--alternates"}, {2, 3}, {kNoAbove2, "Room 3 joins water room 4 above it."}},
      {{"/Flood", "2", "2", "--alternates"}, {2, 3}, {kNoAbove2, "Room 3 joins water room 4 above it."}},  // 3 flips to 2
      {{"/Flood", "0", "0"}, {0}, {}},  // water already: left as it is
      {{"/Flood"}, {0, 1, 2, 3, 4, 5},
       {kNoAbove1, "Room 1 joins water room 0 below it.", kNoAbove2, "Room 3 joins water room 4 above it."}},
      {{"/Drain", "0", "1"}, {0, 1}, {}},  // room 1's surface vertices lose their wave
      {{"/Drain", "5", "5"}, {5}, {"Room 5 lies under water room 4: its ceiling is a water surface."}},
      {{"/Drain", "4", "4"}, {4}, {}},
      {{"/Drain", "2", "2"}, {2}, {}},  // dry already
      {{"/Drain"}, {0, 1, 2, 3, 4, 5}, {}},
  };
  for (int kind = 1; kind <= 8; ++kind) {
    const BLevel before = WaterLevel(kind);
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(before.kind));
    for (const auto& row : rows) {
      std::string trace = "kind " + std::to_string(kind);
      for (const std::string& a : row.args) trace += " " + a;
      SCOPED_TRACE(trace);
      const bool flood = row.args[0] == "/Flood";
      const BLevel after = Expected(before, flood, row.rooms);
      const std::string progress = flood ? "Flooding the rooms..." : "Draining the rooms...";
      std::vector<std::string> preview = {"Loading Level...", progress};
      preview.insert(preview.end(), row.notes.begin(), row.notes.end());
      for (const std::string& line : ChangeLines(before, after)) preview.push_back(line);
      WriteBytes(p, Build(before));
      std::vector<std::string> args = row.args;
      args.push_back("--dry-run");
      EXPECT_EQ(RunOn(p, args), Lines(preview));
      EXPECT_EQ(ReadBytes(p), Build(before));
      args.pop_back();
      // The notes come once the rooms are flooded or drained, before the save.
      std::vector<std::string> done = {"Loading Level...", progress};
      done.insert(done.end(), row.notes.begin(), row.notes.end());
      done.insert(done.end(), {"Saving the level...", "Done."});
      EXPECT_EQ(RunOn(p, args), Lines(done));
      EXPECT_EQ(Diff(ReadBytes(p), Build(after), kind), "");
    }
  }
}

// --json carries the notes as a list, the changes with the vertex counts, and
// the file saved.
TEST(Water, JsonCarriesNotesAndChanges) {
  ScratchDir scratch;
  WriteBytes(scratch.path / "lvl.tr4", Build(WaterLevel(6)));
  BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, {"--json", "-n", "lvl.tr4", "/Drain", "0", "0"});
  EXPECT_EQ(run.status, 0);
  nlohmann::json level = nlohmann::json::parse(run.out, nullptr, false)["levels"][0];
  EXPECT_EQ(level["notes"], nlohmann::json::array());
  // Room 0: the 12 vertices with movement or glow; room 1: the 3 of its 9
  // vertices on the old surface that have movement.
  EXPECT_EQ(level["changes"]["rooms"],
            nlohmann::json::parse(R"([{"room":0,"flags":{"old":32801,"new":32800},"vertices":12},{"room":1,"vertices":3}])"));
  EXPECT_EQ(level["changes"]["totals"], nlohmann::json::parse(R"({"rooms":2,"vertices":15})"));
  run = RunBinary(scratch.path, QM_TOOL_PATH, {"--json", "lvl.tr4", "/Flood", "1", "1"});
  level = nlohmann::json::parse(run.out, nullptr, false)["levels"][0];
  EXPECT_EQ(level["notes"].dump(), "[\"" + kNoAbove1 + "\",\"Room 1 joins water room 0 below it.\"]");
  EXPECT_EQ(level["saved"], "lvl.tr4");
  // A run that saves has its changes too, marked saved.
  EXPECT_EQ(level["changes"]["totals"]["rooms"], 1);
  EXPECT_EQ(level["changes"]["saved"], true);
}

// What "/ShowWater" shows of the plan, per kind: the vertex counts in TR2-TR4,
// the scheme and reverb bytes in TR3 and later.
TEST(Water, ShowWaterShowsTheLinksSurfacesAndVertexBits) {
  ScratchDir scratch;
  for (int kind : {1, 3, 5, 6, 8}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    BLevel L = WaterLevel(kind);
    for (size_t i = 0; i < 2; ++i) {
      if (kind == 8) L.rooms5[i].waterScheme = uint8_t(7 - 7 * i), L.rooms5[i].reverb = uint8_t(3 - 3 * i);
      else L.rooms[i].waterScheme = uint8_t(7 - 7 * i), L.rooms[i].reverb = uint8_t(3 - 3 * i);
    }
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(L.kind));
    WriteBytes(p, Build(L));
    const bool bits = kind >= 3 && kind <= 7, bytes = kind >= 5;
    // Each bit is set in 8 of the 16 vertices.
    const std::string counts = bits ? "      8      8      8" : "      -      -      -";
    const std::string scheme = bytes ? "      7      3" : "      -      -";
    const std::string none = bytes ? "      0      0" : scheme;
    EXPECT_EQ(RunOn(p, {"/ShowWater", "0", "1"}),
              Lines({"Loading Level...", "Showing WATER of this level:", "",
                     " Room Water Surface 0x2000 0x4000 0x8000 Scheme Reverb Above      Below",
                     "    0 yes   yes    " + counts + scheme + " 1          -",
                     "    1 no    yes    " + counts + none + " -          0", "Done."}));
    const BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, {"--json", p.filename().string(), "/ShowWater", "3", "4"});
    const nlohmann::json rooms = nlohmann::json::parse(run.out, nullptr, false)["levels"][0]["rooms"];
    ASSERT_EQ(rooms.size(), 2u) << run.out;
    EXPECT_EQ(rooms[0]["above"].dump() + rooms[0]["below"].dump() + rooms[1]["below"].dump(), "[4][][3,5]");
    EXPECT_EQ(rooms[0]["surface"], false);  // dry under water: no surface to breathe at
    EXPECT_EQ(rooms[0].contains("vertices"), bits);
    EXPECT_EQ(rooms[0].contains("waterScheme"), bytes);
  }
}

// Every byte of a and b alike but for bit 0 of a byte (the water flag) and the
// bits 0x20 and 0x40 of a byte (0x2000 and 0x4000 of an attribute word); with
// exact, every byte alike. The TR4 family compares unpacked.
void ExpectOnlyWaterBits(const Bytes& a, const Bytes& b, int kind, bool exact) {
  const std::vector<Bytes> pa = Parts(a, kind), pb = Parts(b, kind);
  ASSERT_EQ(pa.size(), pb.size());
  for (size_t part = 0; part < pa.size(); ++part) {
    ASSERT_EQ(pa[part].size(), pb[part].size()) << "part " << part;
    for (size_t k = 0; k < pa[part].size(); ++k) {
      const uint8_t diff = pa[part][k] ^ pb[part][k];
      if (!diff) continue;
      EXPECT_TRUE(!exact && (diff == 0x01 || (diff & ~0x60) == 0)) << "part " << part << " byte " << k;
    }
  }
}

// The real levels: flooding the dry rooms and draining them again, and draining
// the water rooms and flooding them again, give the original back but for the
// stated vertex bits in TR3 and the TR4 family, and byte for byte elsewhere.
TEST(Water, RealLevelsKeepEveryOtherByte) {
  const fs::path shared = QM_SHARED_LEVELS;
  if (!fs::is_directory(shared)) GTEST_SKIP() << "no real levels at " << shared;
  ScratchDir scratch;
  const std::pair<const char*, int> files[] = {{"tr1/TEST1.PHD", 1}, {"tr2/TEST1.TR2", 3}, {"tr3/TEST1.TR2", 5},
                                               {"tr4/TEST1.TR4", 6}, {"trng/title.tr4", 6}, {"tr5/TEST1.TRC", 8}};
  for (const auto& [file, kind] : files) {
    SCOPED_TRACE(file);
    const fs::path p = scratch.path / fs::path(file).filename();
    const Bytes original = ReadBytes(shared / file);
    WriteBytes(p, original);
    const BinaryRun show = RunBinary(scratch.path, QM_TOOL_PATH, {"--json", p.string(), "/ShowWater"});
    const nlohmann::json rooms = nlohmann::json::parse(show.out, nullptr, false)["levels"][0]["rooms"];
    ASSERT_GT(rooms.size(), 0u) << show.out;
    for (const bool water : {false, true}) {
      std::vector<std::string> chosen;
      for (const auto& r : rooms)
        if (r["water"].get<bool>() == water) chosen.push_back(std::to_string(r["room"].get<int>()));
      if (std::string(file) == "tr1/TEST1.PHD" && water) {
        EXPECT_EQ(chosen.size(), 3u);
      }
      for (const char* fn : {water ? "/Drain" : "/Flood", water ? "/Flood" : "/Drain"})
        for (const std::string& room : chosen)
          ASSERT_EQ(RunBinary(scratch.path, QM_TOOL_PATH, {"-q", p.string(), fn, room, room}).status, 0) << fn << room;
      ExpectOnlyWaterBits(ReadBytes(p), original, kind, kind != 5 && kind != 6);
    }
  }
}

}  // namespace
