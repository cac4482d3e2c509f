// Triggered sectors on the map (/Map) of the trigger levels: the hatch of the
// SVG and of the PNG lies on exactly the sectors whose floor data holds a
// trigger (as /ShowTriggers lists them), with a legend row only when there
// are some; damaged floor data is drawn as far as it was read; the page holds
// the same triggers for its script.
#include <pugixml.hpp>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "map_support.h"
#include "trigger_levels.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

using namespace qmtest;

namespace {

// A sector as the map draws it: the unit square at (x, y) in sector units.
using Cell = std::pair<int, int>;
using Cells = std::map<int, std::set<Cell>>;  // by room

// The sectors /ShowTriggers lists, as the map's cells.
Cells TriggeredCells(const Json& triggers) {
  Cells cells;
  for (const Json& t : triggers)
    cells[t["room"].get<int>()].insert({t["x"].get<int>() / 1024, -(t["z"].get<int>() / 1024 + 1)});
  return cells;
}

// The cells the SVG hatches: each line's middle, room by room. The path
// moves to a sector's corner ("M x y") and draws its lines with relative
// moves and lines ("m dx dy l dx dy").
Cells HatchedCells(const pugi::xml_document& doc) {
  Cells cells;
  for (const pugi::xml_node& g : MapRooms(doc)) {
    const pugi::xml_node path = g.find_child_by_attribute("path", "class", "triggers");
    if (!path) continue;
    std::istringstream in(path.attribute("d").value());
    double x = 0, y = 0;
    char command = 0;
    while (in >> command) {
      double a = 0, b = 0;
      if (!(in >> a >> b)) {
        ADD_FAILURE() << "command " << command << " without its numbers";
        break;
      }
      if (command == 'M') x = a, y = b;
      else if (command == 'm') x += a, y += b;
      else if (command == 'l') {
        cells[g.attribute("data-room").as_int()].insert({int(std::floor(x + a / 2)), int(std::floor(y + b / 2))});
        x += a, y += b;
      } else {
        ADD_FAILURE() << "command " << command;
        break;
      }
    }
  }
  return cells;
}

struct Frame {
  double x = 0, y = 0, scale = 0;  // the panel's origin and pixels a sector
};
Frame PanelFrame(const pugi::xml_document& doc) {
  Frame f;
  const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
  EXPECT_EQ(panels.size(), 1u);
  if (panels.empty()) return f;
  const char* t = panels[0].find_child_by_attribute("g", "class", "rooms").attribute("transform").value();
  EXPECT_EQ(std::sscanf(t, "translate(%lf %lf) scale(%lf)", &f.x, &f.y, &f.scale), 3);
  return f;
}

class MapTriggersTest : public ItemsTest {
protected:
  // Draws the level into map.svg and map.png beside it.
  void Draw(const fs::path& level, pugi::xml_document& doc, std::vector<uint8_t>& rgb, int& w, int& h) {
    for (const char* name : {"map.svg", "map.png"})
      EXPECT_EQ(Run({"-q", level.string(), "/Map", (dir_ / name).string()}), Lines({"Done."}));
    ASSERT_TRUE(doc.load_file((dir_ / "map.svg").c_str()));
    const Bytes png = ReadBytes(dir_ / "map.png");
    int n = 0;
    unsigned char* data = stbi_load_from_memory(png.data(), int(png.size()), &w, &h, &n, 3);
    ASSERT_TRUE(data);
    rgb.assign(data, data + size_t(w) * size_t(h) * 3);
    stbi_image_free(data);
  }
};

// The hatch's colour, #b0003a.
bool IsHatch(const uint8_t* p) { return p[0] == 0xB0 && p[1] == 0x00 && p[2] == 0x3A; }

// Every kind's trigger level; the one with damaged floor data beside its
// triggers (an index outside the floor data, a chain that runs off its end
// after a whole trigger); the item level without triggers.
TEST_F(MapTriggersTest, TheHatchLiesOnTheTriggeredSectorsOnly) {
  const auto damaged = [] {
    BLevel L = TriggerLevel(3);
    SetFloorIndex(SectorAt(L, 2, 1, 2), 60000);
    SetFloorIndex(SectorAt(L, 2, 3, 2),
                  AppendFloor(L.floorData, {TriggerEntry(0, 0, false, 0x1F, {{0, 1, {}}}), FloorEntry(1)}, false));
    return L;
  };
  const struct {
    const char* what;
    BLevel level;
    size_t triggered;  // sectors
  } rows[] = {
      {"TR1", TriggerLevel(1), 3}, {"TR3", TriggerLevel(5), 3},  {"TR4", TriggerLevel(6), 3},
      {"TR5", TriggerLevel(8), 3}, {"damaged", damaged(), 4}, {"no triggers", ItemLevel(3), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path level = Put(row.level);
    const Json triggers = Entry({level.string(), "/ShowTriggers"})["triggers"];
    const Cells expected = TriggeredCells(triggers);
    pugi::xml_document doc;
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    Draw(level, doc, rgb, w, h);
    const Cells hatched = HatchedCells(doc);
    EXPECT_EQ(hatched, expected);
    size_t count = 0;
    for (const auto& [room, cells] : hatched) count += cells.size();
    EXPECT_EQ(count, row.triggered);
    const pugi::xml_node legend = doc.child("svg").find_child_by_attribute("g", "id", "trigger-legend");
    EXPECT_EQ(bool(legend), row.triggered > 0);
    // The PNG: some hatch in every triggered sector, none outside them but
    // in the legend's swatch.
    const Frame f = PanelFrame(doc);
    // The pixel (x, y) covers part of the cell.
    const auto inCell = [&](int x, int y, const Cell& c) {
      return x + 1 > f.x + c.first * f.scale && x < f.x + (c.first + 1) * f.scale &&
             y + 1 > f.y + c.second * f.scale && y < f.y + (c.second + 1) * f.scale;
    };
    const pugi::xml_node swatch = legend.child("rect");
    const double sx = swatch.attribute("x").as_double(-100), sy = swatch.attribute("y").as_double(-100);
    std::map<Cell, size_t> pixels;
    size_t stray = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (!IsHatch(&rgb[(size_t(y) * size_t(w) + size_t(x)) * 3])) continue;
        bool placed = x >= sx && x <= sx + 14 && y >= sy && y <= sy + 14;
        for (const auto& [room, cells] : expected)
          for (const Cell& c : cells)
            if (inCell(x, y, c)) ++pixels[c], placed = true;
        stray += placed ? 0 : 1;
      }
    EXPECT_EQ(stray, 0u);
    for (const auto& [room, cells] : expected)
      for (const Cell& c : cells) EXPECT_GE(pixels[c], size_t(f.scale / 2)) << c.first << "," << c.second;
  }
}

// The page's facts hold the triggers of the rooms drawn, as /ShowTriggers
// gives them, and the item marks their item's index.
TEST_F(MapTriggersTest, ThePageHoldsTheTriggersOfItsRooms) {
  const fs::path level = Put(TriggerLevel(6));
  const struct {
    std::vector<std::string> range;
    std::string mark;  // an item mark the page holds
  } rows[] = {{{}, "data-item=\"0\""}, {{"1", "2"}, "data-item=\"3\""}, {{"2", "2"}, ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.range));
    std::vector<std::string> map = {"-q", level.string(), "/Map", (dir_ / "map.html").string()};
    std::vector<std::string> show = {level.string(), "/ShowTriggers"};
    map.insert(map.end(), row.range.begin(), row.range.end());
    show.insert(show.end(), row.range.begin(), row.range.end());
    EXPECT_EQ(Run(map), Lines({"Done."}));
    std::ifstream in(dir_ / "map.html", std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(in)), {});
    const std::string open = "<script type=\"application/json\" id=\"map-facts\">";
    const size_t at = page.find(open), end = page.find("</script>", at);
    ASSERT_NE(at, std::string::npos);
    const Json facts = Json::parse(page.substr(at + open.size(), end - at - open.size()));
    EXPECT_EQ(facts["triggers"], Entry(show)["triggers"]);
    if (!row.mark.empty()) {
      EXPECT_NE(page.find(row.mark), std::string::npos);
    }
  }
}

}  // namespace
