// Reading the map's SVG back in the tests: its storey panels, the room groups
// inside them and the boxes the label placer reserved.
#pragma once

#include <pugixml.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "tool_test_support.h"

namespace qmtest {

// A room of a built level: its place and size in sectors, its floor and
// ceiling in world units, and its flip room (-1 for none).
struct BuiltRoom {
  int32_t x, z;
  uint16_t sizeX, sizeZ;
  int32_t floor = 0, ceiling = -1024;
  int16_t alternate = -1;
};

// The sample level of the kind with these rooms, every sector a floor, its
// items inside the rooms.
inline BLevel LevelOfRooms(int kind, const std::vector<BuiltRoom>& rooms) {
  BLevel L = SampleLevel(kind, 4);
  if (kind >= 6) FillPages(L, 0, 4, 100);
  const BRoom first = L.rooms[0];
  L.rooms.assign(rooms.size(), first);
  const auto put = [](std::array<uint8_t, 16>& info, size_t at, int32_t v) {
    for (int k = 0; k < 4; ++k) info[at + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
  };
  for (size_t i = 0; i < rooms.size(); ++i) {
    const BuiltRoom& b = rooms[i];
    BRoom& r = L.rooms[i];
    put(r.info, 0, b.x * 1024);
    put(r.info, 4, b.z * 1024);
    put(r.info, 8, b.floor);
    put(r.info, 12, b.ceiling);
    r.sectorsX = b.sizeX;
    r.sectorsZ = b.sizeZ;
    r.sectors.assign(size_t(b.sizeX) * b.sizeZ, {0x10, 0, 0x22, 0, 0xFF, 0x04, 0xFF, 0xF8});
    r.alternateRoom = b.alternate;
  }
  // The sample's items stand in the middle of the rooms, one room after another.
  for (size_t k = 0; k < L.items.size() && !rooms.empty(); ++k) {
    const BuiltRoom& b = rooms[k % rooms.size()];
    L.items[k].room = int16_t(k % rooms.size());
    L.items[k].x = b.x * 1024 + b.sizeX * 512;
    L.items[k].z = b.z * 1024 + b.sizeZ * 512;
  }
  return L;
}

inline std::vector<pugi::xml_node> StoreyPanels(const pugi::xml_document& doc) {
  std::vector<pugi::xml_node> panels;
  for (pugi::xml_node g : doc.child("svg").children("g"))
    if (std::string(g.attribute("class").value()) == "storey") panels.push_back(g);
  return panels;
}

// The room groups of a panel, in the order drawn.
inline std::vector<pugi::xml_node> PanelRooms(const pugi::xml_node& panel) {
  std::vector<pugi::xml_node> rooms;
  for (pugi::xml_node g : panel.find_child_by_attribute("g", "class", "rooms").children("g")) rooms.push_back(g);
  return rooms;
}

// The room groups of every panel, panel by panel.
inline std::vector<pugi::xml_node> MapRooms(const pugi::xml_document& doc) {
  std::vector<pugi::xml_node> rooms;
  for (const pugi::xml_node& panel : StoreyPanels(doc))
    for (const pugi::xml_node& g : PanelRooms(panel)) rooms.push_back(g);
  return rooms;
}

struct LabelBox {
  int room = -1;
  double x = 0, y = 0, w = 0, h = 0;
};

// The labels of a panel with the box each one's data-box names.
inline std::vector<LabelBox> PanelLabels(const pugi::xml_node& panel) {
  std::vector<LabelBox> boxes;
  for (pugi::xml_node t : panel.find_child_by_attribute("g", "class", "labels").children("text")) {
    LabelBox b;
    b.room = t.attribute("data-room").as_int(-1);
    if (std::sscanf(t.attribute("data-box").value(), "%lf %lf %lf %lf", &b.x, &b.y, &b.w, &b.h) != 4) b.w = -1;
    boxes.push_back(b);
  }
  return boxes;
}

}  // namespace qmtest
