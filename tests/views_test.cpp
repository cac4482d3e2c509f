// The views of what the room edits act on (step sounds, texture ids) against the
// builder's numbers, and --alternates: an edit that also reaches the flip rooms.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "binary_run.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

// Word 1 of room 1's nine sectors (bits 0-3 the step sound, the rest other
// data), and its face texture words: rectangles match on 12 bits, triangles on
// the whole word.
constexpr uint16_t kSectorWords[9] = {0x0005, 0x0015, 0xFFF5, 0x000C, 0x0000, 0x0C00, 0x000D, 0x1230, 0x004C};
constexpr uint16_t kRectangleWords[5] = {5, 0x8005, 0x1005, 0x0105, 7};
constexpr uint16_t kTriangleWords[2] = {0x8005, 5};
const std::string kSoundsLine = "Room   1:  0 (Mud) x 3  5 (Water) x 3  12 (Old wood) x 2  13 (Old metal) x 1";
const std::string kTexturesLine = "Room   1:  5 x 4  7 x 1  261 x 1  32773 x 1";

void SetSectorWords(std::vector<std::array<uint8_t, 8>>& sectors) {
  ASSERT_EQ(sectors.size(), std::size(kSectorWords));
  for (size_t i = 0; i < sectors.size(); ++i) {
    sectors[i][2] = uint8_t(kSectorWords[i]);
    sectors[i][3] = uint8_t(kSectorWords[i] >> 8);
  }
}

// The sample level with room 1's sectors and faces set as above; a real TR5
// room has its faces spread over its two layers.
BLevel ViewLevel(int kind) {
  BLevel L = SampleLevel(kind, 4);
  if (kind == 8) {
    B5Room& r = L.rooms5.at(1);
    SetSectorWords(r.sectors);
    r.layers.at(0).rectangles.resize(3);
    r.layers.at(0).triangles.resize(1);
    r.layers.at(1).rectangles.resize(2);
    r.layers.at(1).triangles.resize(1);
    for (size_t i = 0; i < 5; ++i) r.layers[i / 3].rectangles[i % 3].texture = kRectangleWords[i];
    r.layers[0].triangles[0].texture = kTriangleWords[0];
    r.layers[1].triangles[0].texture = kTriangleWords[1];
    return L;
  }
  BRoom& r = L.rooms.at(1);
  SetSectorWords(r.sectors);
  r.rectangles.resize(5);
  r.triangles.resize(2);
  for (size_t i = 0; i < 5; ++i) r.rectangles[i].texture = kRectangleWords[i];
  for (size_t i = 0; i < 2; ++i) r.triangles[i].texture = kTriangleWords[i];
  return L;
}

TEST(RoomViews, CountWhatTheBuilderWrote) {
  ScratchDir scratch;
  const std::string loading = "Loading Level...";
  for (int kind : {1, 2, 3, 5, 6, 7, 8}) {
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(KindFromInt(kind)));
    WriteBytes(p, Build(ViewLevel(kind)));
    SCOPED_TRACE("kind " + std::to_string(kind));
    const struct {
      std::vector<std::string> args;
      std::string out;
      int status;
    } rows[] = {
        {{"/ShowTextures", "1", "1"},
         Lines({loading, "Showing ROOM TEXTURES Ids of this level:", "", kTexturesLine, "Done."}), 0},
        {{"/ShowSounds", "1", "1"},
         kind >= 5 ? Lines({loading, "Showing FLOOR SOUNDS of this level:", "", kSoundsLine, "Done."})
                   : Lines({loading, "Function Only for Tr3 and above version"}),
         kind >= 5 ? 0 : 2},
        // A range past the end stops at the last room; one outside is refused.
        {{"/showtextures", "3"}, Lines({loading, "Room 3 is outside this level (rooms 0 to 2)."}), 2},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(row.args[0]);
      EXPECT_EQ(RunOn(p, row.args, row.status), row.out);
    }
    const std::string all = RunOn(p, {"/ShowSounds"}, kind >= 5 ? 0 : 2);
    if (kind >= 5) {
      EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 7) << all;  // the three rooms
    }
  }
  // A level without rooms shows none.
  WriteBytes(scratch.path / "none.tr4", Build(EmptyLevel(Kind::TR4)));
  EXPECT_EQ(RunOn(scratch.path / "none.tr4", {"/ShowTextures"}),
            Lines({loading, "Showing ROOM TEXTURES Ids of this level:", "", "Done."}));
}

// The dry run counts exactly what the edit then changes: the sectors whose step
// sound differs from the stored value, and the faces whose texture word matches
// OLD (rectangles on 12 bits, triangles whole; TR5 over both layers), room by
// room, in text and JSON; the edit then writes exactly those words.
TEST(RoomViews, DryRunCountsWhatTheEditChanges) {
  ScratchDir scratch;
  const struct {
    std::vector<std::string> args;  // the function, its value(s), From and To
    bool sounds;                    // a step-sound edit (TR3 and later)
    uint16_t value;                 // the stored step sound, or the new texture word
    uint16_t old;                   // the texture id matched
  } rows[] = {
      {{"/Step_sound", "7", "0", "1"}, true, 7, 0},
      {{"/Step_sound", "0", "1", "1"}, true, 5, 0},  // 0 stores 5: three sectors hold 5 already
      {{"/Step_sound", "2", "0", "2"}, true, 13, 0},
      {{"/Textures", "5", "3", "1", "1"}, false, 3, 5},  // three rectangles and a triangle
      {{"/Textures", "0x8005", "3", "0", "2"}, false, 3, 0x8005},  // a triangle's whole word only
      {{"/Textures", "261", "2", "1", "1"}, false, 2, 261},
  };
  for (int kind : {3, 5, 6, 7, 8}) {
    const BLevel before = ViewLevel(kind);
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(before.kind));
    for (const auto& row : rows) {
      if (row.sounds && kind < 5) continue;
      SCOPED_TRACE("kind " + std::to_string(kind) + " " + row.args[0] + " " + row.args[1]);
      // The level the edit must give and what each room changes, from the builder's own numbers.
      BLevel after = before;
      size_t count = 0;
      auto sector = [&](std::array<uint8_t, 8>& s) {
        const uint16_t word = uint16_t(s[2] | s[3] << 8), now = uint16_t((word & 0xFFF0) | row.value);
        if (now != word) ++count, s[2] = uint8_t(now), s[3] = uint8_t(now >> 8);
      };
      auto face = [&](uint16_t& texture, bool rectangle) {
        if ((rectangle ? texture & 0x0FFF : texture) != row.old) return;
        if (texture != row.value) ++count;
        texture = row.value;
      };
      const size_t from = std::stoul(row.args[row.args.size() - 2]), to = std::stoul(row.args.back());
      std::vector<std::string> lines;
      size_t rooms = 0, total = 0;
      for (size_t i = from; i <= to; ++i) {
        count = 0;
        if (kind == 8) {
          B5Room& r = after.rooms5.at(i);
          if (row.sounds) for (auto& s : r.sectors) sector(s);
          else for (B5Layer& layer : r.layers) {
            for (B5Rectangle& f : layer.rectangles) face(f.texture, true);
            for (B5Triangle& f : layer.triangles) face(f.texture, false);
          }
        } else {
          BRoom& r = after.rooms.at(i);
          if (row.sounds) for (auto& s : r.sectors) sector(s);
          else {
            for (BRectangle& f : r.rectangles) face(f.texture, true);
            for (BTriangle& f : r.triangles) face(f.texture, false);
          }
        }
        if (count == 0) continue;
        ++rooms, total += count;
        lines.push_back("Room " + std::to_string(i) + ": " + std::to_string(count) +
                        (row.sounds ? " sector" : " face") + (count == 1 ? "" : "s"));
      }
      ASSERT_GT(total, 0u);
      const std::string what = std::to_string(total) + (row.sounds ? " sector" : " face") + (total == 1 ? "" : "s");
      lines.push_back(std::to_string(rooms) + (rooms == 1 ? " room" : " rooms") + " would change " +
                      (row.sounds ? "(" + what + ", 0 faces)" : "(0 sectors, " + what + ")") + "; nothing was saved.");
      WriteBytes(p, Build(before));
      std::vector<std::string> args = {"-n", "-q", p.filename().string()};
      args.insert(args.end(), row.args.begin(), row.args.end());
      BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, args);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, Lines(lines));
      args.push_back("--json");
      run = RunBinary(scratch.path, QM_TOOL_PATH, args);
      const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
      ASSERT_TRUE(doc.is_object()) << run.out;
      const nlohmann::json changes = doc["levels"][0]["changes"];
      ASSERT_EQ(changes["rooms"].size(), rooms) << run.out;
      EXPECT_EQ(changes["totals"][row.sounds ? "sectors" : "faces"], total) << run.out;
      EXPECT_EQ(ReadBytes(p), Build(before));
      args.erase(args.begin());
      args.pop_back();
      EXPECT_EQ(RunBinary(scratch.path, QM_TOOL_PATH, args).status, 0);
      EXPECT_EQ(Diff(ReadBytes(p), Build(after), kind), "");
    }
  }
}

// Six rooms whose flip rooms are: 0 -> 4, 1 -> itself, 2 -> 9 (beyond the
// level), 3 -> -7, 4 -> 0, 5 -> 3. Every flags word starts at 0.
BLevel FlipLevel(int kind) {
  BLevel L = SampleLevel(kind, 8);
  const int16_t alternates[6] = {4, 1, 9, -7, 0, 3};
  if (kind == 8) {
    for (size_t i = 3; i < 6; ++i) L.rooms5.push_back(L.rooms5[i - 3]);
    for (size_t i = 0; i < 6; ++i) L.rooms5[i].alternateRoom = alternates[i], L.rooms5[i].flags = 0;
  } else {
    for (size_t i = 3; i < 6; ++i) L.rooms.push_back(L.rooms[i - 3]);
    for (size_t i = 0; i < 6; ++i) L.rooms[i].alternateRoom = alternates[i], L.rooms[i].flags = {0, 0};
  }
  return L;
}

void SetWater(BLevel& L, int room) {
  if (L.kind == Kind::TR5) L.rooms5.at(size_t(room)).flags |= 0x01;
  else L.rooms.at(size_t(room)).flags[0] |= 0x01;
}

TEST(Alternates, AnEditReachesTheFlipRoomOfEachRoomInItsRangeOnce) {
  ScratchDir scratch;
  const struct {
    std::vector<std::string> args;
    std::vector<int> rooms;  // the rooms whose water bit is set, in order
  } rows[] = {
      {{"0", "0", "--alternates"}, {0, 4}},
      {{"--alternates", "4", "5"}, {0, 3, 4, 5}},
      {{"0", "1", "--alternates"}, {0, 1, 4}},  // 4 once, room 1 once
      {{"1", "1", "--alternates"}, {1}},        // its own flip room
      {{"2", "3", "--alternates"}, {2, 3, 5}},  // 9 and -7 name no room; 5 flips to 3
      {{"3", "3", "--alternates"}, {3, 5}},     // the room that flips to the range
      {{"0", "4", "--alternates"}, {0, 1, 2, 3, 4, 5}},
      {{"0", "0"}, {0}},  // without the option the range alone
  };
  for (int kind : {1, 3, 5, 6, 8}) {
    const BLevel before = FlipLevel(kind);
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(before.kind));
    for (const auto& row : rows) {
      std::vector<std::string> args = {"/Water", "1"};
      args.insert(args.end(), row.args.begin(), row.args.end());
      std::string trace = "kind " + std::to_string(kind);
      for (const std::string& a : row.args) trace += " " + a;
      SCOPED_TRACE(trace);
      // The dry run names exactly those rooms; the edit sets exactly their bit.
      std::vector<std::string> preview = {"Loading Level...", "Turning On/Off the water..."};
      for (int room : row.rooms) preview.push_back("Room " + std::to_string(room) + ": flags 0x0000 -> 0x0001");
      const size_t n = row.rooms.size();
      preview.push_back(std::to_string(n) + (n == 1 ? " room" : " rooms") +
                        " would change (0 sectors, 0 faces); nothing was saved.");
      WriteBytes(p, Build(before));
      args.push_back("--dry-run");
      EXPECT_EQ(RunOn(p, args), Lines(preview));
      args.pop_back();
      EXPECT_EQ(RunOn(p, args), Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...", "Done."}));
      BLevel after = before;
      for (int room : row.rooms) SetWater(after, room);
      EXPECT_EQ(Diff(ReadBytes(p), Build(after), kind), "");
    }
  }
  // Only an edit takes the option.
  WriteBytes(scratch.path / "lvl.tr4", Build(FlipLevel(6)));
  EXPECT_EQ(RunOn(scratch.path / "lvl.tr4", {"/ShowRooms", "--alternates"}, 2),
            Lines({"--alternates is for the functions that edit a level."}));
}

// Real levels: every sector of a room carries one step sound and every face
// one texture id, so each room's counts add up to its grid and its faces.
TEST(RoomViews, RealLevelsCountEverySectorAndFace) {
  const fs::path shared = QM_SHARED_LEVELS;
  if (!fs::is_directory(shared)) GTEST_SKIP() << "no real levels at " << shared;
  ScratchDir scratch;
  const std::pair<const char*, bool> files[] = {{"tr1/TEST1.PHD", false}, {"tr2/TEST1.TR2", false},
                                                {"tr3/TEST1.TR2", true},  {"tr4/TEST1.TR4", true},
                                                {"trng/title.tr4", true}, {"tr5/TEST1.TRC", true}};
  auto json = [&](const std::string& level, const char* function, int status) {
    const BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, {"--json", level, function});
    EXPECT_EQ(run.status, status) << level << " " << function;
    return nlohmann::json::parse(run.out, nullptr, false)["levels"][0];
  };
  for (const auto& [file, sounds] : files) {
    SCOPED_TRACE(file);
    const std::string level = (shared / file).string();
    const nlohmann::json table = json(level, "/ShowRooms", 0)["rooms"];
    const nlohmann::json textures = json(level, "/ShowTextures", 0)["rooms"];
    const nlohmann::json steps = json(level, "/ShowSounds", sounds ? 0 : 2)["rooms"];
    ASSERT_GT(table.size(), 0u);
    ASSERT_EQ(textures.size(), table.size());
    ASSERT_EQ(steps.size(), sounds ? table.size() : 0u);
    auto total = [](const nlohmann::json& uses, const char* count) {
      int64_t sum = 0;
      for (const auto& use : uses) sum += use[count].get<int64_t>();
      return sum;
    };
    for (size_t i = 0; i < table.size(); ++i) {
      const auto& room = table[i];
      EXPECT_EQ(total(textures[i]["textures"], "faces"),
                room["rectangles"].get<int64_t>() + room["triangles"].get<int64_t>())
          << i;
      if (sounds) {
        EXPECT_EQ(total(steps[i]["sounds"], "sectors"), room["sizeX"].get<int64_t>() * room["sizeZ"].get<int64_t>())
            << i;
      }
    }
  }
}

}  // namespace
