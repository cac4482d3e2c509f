// Reading the map's SVG back in the tests: its storey panels, the room groups
// inside them and the boxes the label placer reserved.
#pragma once

#include <pugixml.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace qmtest {

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
