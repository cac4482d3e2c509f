// "floor" as an item's y and "12s" as its x or z, through the run flow: the
// height of the floor under the point on flat, sloped and triangulated sectors,
// with the values worked out here from the format description's formulas.
#include "trigger_levels.h"

using namespace qmtest;

namespace {

class FloorTest : public ItemsTest {};

// Room 0 (floor byte 4, y 1024) with: sector (1,1) sloped along x by +2
// clicks, sector (1,2) by -3 along x and +4 along z, sector (3,1) a floor
// triangle split from the north-west whose first half is 2 clicks lower and
// whose second half is level with the floor byte.
BLevel FloorLevel(int kind) {
  BLevel L = ItemLevel(kind);
  L.floorData.clear();
  SetFloorIndex(SectorAt(L, 0, 1, 1), AppendFloor(L.floorData, {FloorEntry(2, {0x0002})}));
  SetFloorIndex(SectorAt(L, 0, 1, 2), AppendFloor(L.floorData, {FloorEntry(2, {0x04FD})}));
  BFloorEntry triangle = FloorEntry(7, {0x0000});
  triangle.setupHigh = uint16_t(2 << 10);
  SetFloorIndex(SectorAt(L, 0, 3, 1), AppendFloor(L.floorData, {triangle}));
  return L;
}

TEST_F(FloorTest, FloorGivesTheHeightUnderThePoint) {
  const int32_t z1 = RoomZ + 1024, z2 = RoomZ + 2048;
  const struct {
    int kind;
    std::string x, z;
    int32_t y;
  } rows[] = {
      {3, "2560", std::to_string(z2 + 512), 1024},          // flat
      {3, "2s", "6s", 1024},                                 // the same sector by its world sector numbers
      {1, "1536", std::to_string(z1 + 512), 1024 + 255},    // +2 along x: (2 * (1023 - 512)) / 4
      {6, "1024", std::to_string(z1 + 512), 1024 + 511},    // at the sector's west edge: (2 * 1023) / 4
      {8, "1s", "5s", 1024 + 255},
      {5, "1536", std::to_string(z2 + 512), 1024 + 511 + 384},  // +4 along z: 4 * 511 / 4; -3 along x: 3 * 512 / 4
      {5, "3172", std::to_string(z1 + 100), 1024 + 512},     // the triangle's first half
      {7, "3972", std::to_string(z1 + 900), 1024},           // its second half
      {1, "3172", std::to_string(z1 + 100), 1024},           // TR1 has no triangles: the entry is damage, the floor flat
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind) + " at " + row.x + ", " + row.z);
    const fs::path file = Put(FloorLevel(row.kind));
    const Json add = Entry({file.string(), "/AddItem", "0", "0", row.x, "floor", row.z});
    ASSERT_EQ(add["status"], 0);
    EXPECT_EQ(add["changes"]["items"][0]["after"]["y"], row.y);
    // The only note is the one on the model: the point lies on its floor, not below it.
    EXPECT_EQ(add["changes"]["notes"].size(), 1u) << add["changes"]["notes"];
    const Json move = Entry({file.string(), "/MoveItem", "0", "0", row.x, "FLOOR", row.z});
    EXPECT_EQ(move["changes"]["items"][0]["after"]["y"], row.y);
  }
  EXPECT_EQ(Run({"-q", Put(FloorLevel(3)).string(), "/MoveItem", "0", "0", "1s", "low", "5s"}, 2),
            Lines({"The y coordinate must be a number or floor."}));
  EXPECT_EQ(Run({"-q", Put(FloorLevel(3)).string(), "/MoveItem", "0", "0", "1s", "0", "5x"}, 2),
            Lines({"The z coordinate must be a number or a sector (12s)."}));
}

}  // namespace
