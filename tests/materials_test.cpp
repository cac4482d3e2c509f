// Step sounds by material: "/Step_sound" with a material name, "/Replace_sound"
// on the sectors of one material, on every kind that has the field.
#include "tool_test_support.h"

using namespace qmtest;

namespace {

// Word 1 of room 1's nine sectors: materials 5 5 5 12 0 0 13 0 12, the other
// bits of the word set in most.
constexpr uint16_t kWords[9] = {0x0005, 0x0015, 0xFFF5, 0x000C, 0x0000, 0x0C00, 0x000D, 0x1230, 0x004C};

std::vector<std::array<uint8_t, 8>>& SectorsOf(BLevel& L, size_t room) {
  return L.kind == Kind::TR5 ? L.rooms5.at(room).sectors : L.rooms.at(room).sectors;
}

BLevel MaterialLevel(int kind) {
  BLevel L = SampleLevel(kind, 4);
  auto& sectors = SectorsOf(L, 1);
  for (size_t i = 0; i < sectors.size(); ++i) sectors[i][2] = uint8_t(kWords[i]), sectors[i][3] = uint8_t(kWords[i] >> 8);
  return L;
}

// The level with the material of room 1's sectors changed: to `to` where it is
// `from` (-1: every sector).
BLevel WithMaterial(BLevel L, int from, uint8_t to) {
  for (auto& s : SectorsOf(L, 1))
    if (from < 0 || (s[2] & 0x0F) == from) s[2] = uint8_t((s[2] & 0xF0) | to);
  return L;
}

TEST(Materials, NamesAndValuesStoreTheMaterialKeepingTheOtherBits) {
  ScratchDir scratch;
  const std::string loading = "Loading Level...", progress = "Changing Floor Sound...";
  const struct {
    std::vector<std::string> args;  // room 1 only
    int from;                       // the material matched, -1 for every sector
    uint8_t to;
  } rows[] = {
      {{"/Step_sound", "Mud"}, -1, 0},        {{"/Step_sound", "snow"}, -1, 1},
      {{"/Step_sound", "SAND"}, -1, 2},       {{"/Step_sound", "Old_wood"}, -1, 12},
      {{"/Step_sound", "oldwood"}, -1, 12},   {{"/Step_sound", "old wood"}, -1, 12},
      {{"/Step_sound", "Old Metal"}, -1, 13}, {{"/Step_sound", "custom_2"}, -1, 15},
      {{"/Step_sound", "0"}, -1, 5},          {{"/Step_sound", "2"}, -1, 13},  // numbers map as before
      {{"/Replace_sound", "Water", "Stone"}, 5, 6}, {{"/Replace_sound", "0", "2"}, 0, 2},  // values as stored
      {{"/Replace_sound", "old wood", "Mud"}, 12, 0}, {{"/Replace_sound", "14", "Custom1"}, 14, 14},
      {{"/replace_sound", "13", "gravel"}, 13, 3},
  };
  for (int kind : {5, 6, 7, 8}) {
    const BLevel before = MaterialLevel(kind);
    const fs::path p = scratch.path / (std::string("lvl") + FileExtension(before.kind));
    for (const auto& row : rows) {
      SCOPED_TRACE("kind " + std::to_string(kind) + " " + row.args[0] + " " + row.args[1]);
      WriteBytes(p, Build(before));
      std::vector<std::string> args = row.args;
      args.insert(args.end(), {"1", "1"});
      EXPECT_EQ(RunOn(p, args), Lines({loading, progress, "Saving the level...", "Done."}));
      EXPECT_EQ(Diff(ReadBytes(p), Build(WithMaterial(before, row.from, row.to)), kind), "");
    }
  }
}

TEST(Materials, RefusalsKeepTheLevel) {
  ScratchDir scratch;
  const fs::path p = scratch.path / "lvl.tr4", old = scratch.path / "lvl.tr2";
  WriteBytes(p, Build(MaterialLevel(6)));
  WriteBytes(old, Build(MaterialLevel(3)));
  const std::string lava = "No material is called Lava (a name such as Stone or Old wood, or a value 0-15).";
  const struct {
    fs::path file;
    std::vector<std::string> args;
    std::string out;
  } rows[] = {
      {p, {"/Replace_sound", "Mud"}, Lines({"Missing parameter"})},
      {p, {"/Replace_sound", "Lava", "Mud"}, Lines({lava})},
      {p, {"/Replace_sound", "Mud", "16"}, Lines({"No material is called 16 (a name such as Stone or Old wood, or a value 0-15)."})},
      {p, {"/Replace_sound", "Mud", "-1"}, Lines({"No material is called -1 (a name such as Stone or Old wood, or a value 0-15)."})},
      {old, {"/Replace_sound", "Mud", "Sand"}, Lines({"Loading Level...", "Function Only for Tr3 and above version"})},
      {old, {"/Step_sound", "Mud"}, Lines({"Loading Level...", "Function Only for Tr3 and above version"})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1]);
    const Bytes before = ReadBytes(row.file);
    EXPECT_EQ(RunOn(row.file, row.args, 2), row.out);
    EXPECT_EQ(ReadBytes(row.file), before);
  }
}

}  // namespace
