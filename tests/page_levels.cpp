// Writes the built levels the map page's browser test (map_page_test.py)
// opens: stacked.tr4, a TR4 level with rooms on three storeys over the same
// ground, a flip room, items in rooms of every storey and triggers on three
// sectors (item 1 named by two, on different storeys); far_item.tr4, the same
// with one item of room 1 standing far outside every room (a damaged or
// hand-made level), which the page must not frame; empty.tr2, a level without
// rooms.
//
//   qm_page_levels <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "floorbuilder.h"
#include "levelbuilder.h"

using namespace qmtest;

namespace {

void PutI32(std::array<uint8_t, 16>& info, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k) info[at + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
}

struct Place {
  int32_t x, z;          // sectors
  uint16_t sizeX, sizeZ;
  int32_t floor;         // world y of the floor; the ceiling 1024 higher
  int16_t alternate;
};

BLevel StackedLevel() {
  BLevel L = SampleLevel(6, 7);
  FillPages(L, 0, 4, 100);
  const Place places[] = {
      {0, 0, 4, 4, 0, -1},        // ground
      {5, 0, 3, 4, 0, 4},         // ground, its flip room is room 4
      {0, 0, 4, 4, -2048, -1},    // above room 0
      {1, 1, 2, 2, -4096, -1},    // above room 2
      {5, 0, 3, 4, 0, -1},        // the flip room of room 1
      {0, 5, 8, 2, -2048, -1},    // beside room 2
  };
  const BRoom first = L.rooms[0];
  L.rooms.assign(std::size(places), first);
  for (size_t i = 0; i < std::size(places); ++i) {
    const Place& p = places[i];
    BRoom& r = L.rooms[i];
    PutI32(r.info, 0, p.x * 1024);
    PutI32(r.info, 4, p.z * 1024);
    PutI32(r.info, 8, p.floor);
    PutI32(r.info, 12, p.floor - 1024);
    r.sectorsX = p.sizeX;
    r.sectorsZ = p.sizeZ;
    r.sectors.assign(size_t(p.sizeX) * p.sizeZ, {0, 0, 0x22, 0, 0xFF, 0x04, 0xFF, 0xF8});
    r.alternateRoom = p.alternate;
    r.flags = {uint8_t(i == 2 ? 0x21 : 0x00), 0};  // room 2: water and wind
  }
  // The sample's items, one in the middle of rooms 0, 2, 3, 5 and 1.
  const size_t itemRooms[] = {0, 2, 3, 5, 1};
  for (size_t k = 0; k < L.items.size() && k < std::size(itemRooms); ++k) {
    const Place& p = places[itemRooms[k]];
    BItem& it = L.items[k];
    it.room = int16_t(itemRooms[k]);
    it.x = p.x * 1024 + p.sizeX * 512;
    it.z = p.z * 1024 + p.sizeZ * 512;
    it.y = p.floor;
  }
  // A pad in room 0 (an object and a camera), a switch in room 5 (two
  // objects), a plain trigger in room 2 (a look-at and a secret).
  L.floorData.clear();
  const auto trigger = [&L](size_t room, int x, int z, uint8_t type, std::vector<BAction> actions) {
    const BTrigger t{type, 0, false, 0x1F, std::move(actions), true};
    BRoom& r = L.rooms[room];
    SetFloorIndex(r.sectors[size_t(x * r.sectorsZ + z)], AppendFloor(L.floorData, {BFloorEntry{4, type, 0, {}, t}}));
  };
  trigger(0, 1, 1, 1, {{0, 1, {}}, {1, 0, 0x0100}});
  trigger(5, 3, 1, 2, {{0, 1, {}}, {0, 3, {}}});
  trigger(2, 2, 2, 0, {{6, 0, {}}, {10, 2, {}}});
  return L;
}

BLevel FarItemLevel() {
  BLevel L = StackedLevel();
  // The sample's fifth item stands in room 1.
  L.items.at(4).x = 3000000;
  L.items.at(4).z = -2500000;
  return L;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qm_page_levels <folder>\n");
    return 2;
  }
  bool written = true;
  for (const auto& [name, level] : {std::pair{"stacked.tr4", StackedLevel()}, std::pair{"far_item.tr4", FarItemLevel()},
                                    std::pair{"empty.tr2", EmptyLevel(Kind::TR2)}}) {
    const Bytes bytes = Build(level);
    std::ofstream out(std::filesystem::path(argv[1]) / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    written = written && bool(out);
  }
  return written ? 0 : 1;
}
