// Built levels for the item tests: three rooms at chosen places with a known
// grid of floor and wall sectors, and three items whose fields lie at their
// limits; the fixture runs the tool in-process.
#pragma once

#include <nlohmann/json.hpp>

#include "tool_test_support.h"

namespace qmtest {

using Json = nlohmann::json;

// Room r lies at (RoomX[r], 4096): a grid of 5 x 4 sectors (x by z) whose
// outer ring is wall, whose sector (2, 1) is solid (floor and ceiling meet)
// and whose other sectors have the floor at y 1024 and the ceiling at y -2048.
constexpr int32_t RoomX[3] = {0, 8192, -16384}, RoomZ = 4096;
constexpr uint16_t SizeX = 5, SizeZ = 4;

// The centre of sector (x, z) of room r.
inline int32_t CentreX(int r, int x) { return RoomX[r] + 1024 * x + 512; }
inline int32_t CentreZ(int z) { return RoomZ + 1024 * z + 512; }

inline std::vector<std::array<uint8_t, 8>> Sectors() {
  std::vector<std::array<uint8_t, 8>> sectors;
  for (int x = 0; x < SizeX; ++x)
    for (int z = 0; z < SizeZ; ++z) {
      const bool wall = x == 0 || z == 0 || x == SizeX - 1 || z == SizeZ - 1 || (x == 2 && z == 1);
      const uint8_t floor = wall ? 0x81 : 4, ceiling = wall ? 0x81 : uint8_t(-8);
      sectors.push_back({0, 0, 0x10, 0, 0xFF, floor, 0xFF, ceiling});
    }
  return sectors;
}

inline void PutI32(std::array<uint8_t, 16>& info, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k) info[at + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
}

// The small medipack's type id in the game of each kind (1 to 8).
constexpr uint16_t Medipack[9] = {0, 93, 93, 149, 149, 176, 369, 350, 350};

// Three items with fields at their limits: negative coordinates, the angle
// 0xFFFF, every flag bit, a negative OCB, an id no table names.
inline std::vector<BItem> Items(int kind) {
  return {{.objectId = 0, .room = 0, .x = CentreX(0, 1), .y = 0, .z = CentreZ(1), .angle = 0x4000, .intensity = 0xFFFF,
           .intensity2 = -1, .flags = 0},
          {.objectId = Medipack[kind], .room = 2, .x = -5000, .y = -300, .z = -70000, .angle = 0xFFFF,
           .intensity = 0x8000, .intensity2 = -32768, .flags = 0xFFFF},
          {.objectId = 600, .room = 1, .x = INT32_MAX, .y = INT32_MIN, .z = 12, .angle = 0x8000, .intensity = 7,
           .intensity2 = 32767, .flags = 0x3F00}};
}

inline BLevel ItemLevel(int kind) {
  BLevel L = SampleLevel(kind, 21);
  if (kind >= 6) FillPages(L, 0, 21, 300);  // small chunks keep the many saves quick
  for (int r = 0; r < 3; ++r) {
    if (kind == 8) {
      B5Room& room = L.rooms5[size_t(r)];
      room.info = {RoomX[r], 0, RoomZ, 1024, -2048};
      room.sectorsX = SizeX, room.sectorsZ = SizeZ, room.sectors = Sectors();
    } else {
      BRoom& room = L.rooms[size_t(r)];
      PutI32(room.info, 0, RoomX[r]);
      PutI32(room.info, 4, RoomZ);
      room.sectorsX = SizeX, room.sectorsZ = SizeZ, room.sectors = Sectors();
    }
  }
  L.items = Items(kind);
  return L;
}

class ItemsTest : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L) {
    const fs::path p = dir_ / (std::string("lvl") + FileExtension(L.kind));
    WriteBytes(p, Build(L));
    return p;
  }
  // The whole output of a run (no banner with --json or --quiet).
  static std::string Run(const std::vector<std::string>& args, int expectedStatus = 0) {
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(args, console), expectedStatus);
    return console.Text;
  }
  static Json Entry(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--json"};
    all.insert(all.end(), args.begin(), args.end());
    return Json::parse(Run(all))["levels"][0];
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

}  // namespace qmtest
