// Built levels for the trigger tests: the item levels with two more items and
// floor data written by the test builder on a few sectors: a slope, a pad
// with a camera and a secret, shared by two sectors, a switch naming three
// items with a flip map and the end of the level, and a portal.
#pragma once

#include "floorbuilder.h"
#include "item_levels.h"

namespace qmtest {

// Items 0-2 as in the item levels; items 3 and 4 are small medipacks in room 1.
// Triggers name items 2, 3 and 4; items 0 and 1 are named by none.
inline std::vector<std::array<uint8_t, 8>>& SectorsOf(BLevel& L, int room) {
  return L.kind == Kind::TR5 ? L.rooms5[size_t(room)].sectors : L.rooms[size_t(room)].sectors;
}

// Sector (x, z) of a 5 x 4 room, in the file's order (x-major).
inline std::array<uint8_t, 8>& SectorAt(BLevel& L, int room, int x, int z) {
  return SectorsOf(L, room)[size_t(x * SizeZ + z)];
}

// Floor data entries, every field given (g++ 12 warns on a designated
// initializer that leaves members out).
inline BFloorEntry FloorEntry(uint8_t function, std::vector<uint16_t> words = {}, uint8_t sub = 0) {
  return BFloorEntry{function, sub, 0, std::move(words), std::nullopt};
}
inline BFloorEntry TriggerEntry(uint8_t type, uint8_t timer, bool once, uint8_t mask, std::vector<BAction> actions,
                                bool lastBit = true) {
  return BFloorEntry{4, type, 0, {}, BTrigger{type, timer, once, mask, std::move(actions), lastBit}};
}

// The floor data of the level; with `removed`, every item index above it one
// lower (the renumbering a removal makes).
inline void PutTriggers(BLevel& L, int removed = -1) {
  const auto item = [removed](uint16_t i) { return uint16_t(removed >= 0 && i > removed ? i - 1 : i); };
  L.floorData.clear();
  const uint16_t pad = AppendFloor(
      L.floorData, {FloorEntry(2, {0x0102}), TriggerEntry(1, 5, true, 0x1F, {{0, item(4), {}}, {1, 0, 0x0203}, {10, 1, {}}}),
                    FloorEntry(5)});
  SetFloorIndex(SectorAt(L, 0, 1, 1), pad);
  SetFloorIndex(SectorAt(L, 0, 1, 2), pad);
  const uint16_t sw = AppendFloor(
      L.floorData,
      {TriggerEntry(2, 0, false, 0x03, {{0, item(2), {}}, {0, item(3), {}}, {6, item(4), {}}, {3, 1, {}}, {7, 0, {}}})});
  SetFloorIndex(SectorAt(L, 1, 3, 2), sw);
  SetFloorIndex(SectorAt(L, 2, 1, 1), AppendFloor(L.floorData, {FloorEntry(1, {1})}));
}

inline BLevel TriggerLevel(int kind) {
  BLevel L = ItemLevel(kind);
  for (int x : {1, 3})
    L.items.push_back({.objectId = Medipack[kind], .room = 1, .x = CentreX(1, x), .y = 1024, .z = CentreZ(1), .angle = 0,
                       .intensity = 0, .intensity2 = 0, .flags = 0});
  PutTriggers(L);
  return L;
}

}  // namespace qmtest
