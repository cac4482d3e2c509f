// The room table (/ShowRooms) and the map (/Map) on built levels of every kind:
// the table's columns, the room range, and the SVG read back with an XML parser
// (room groups, floor sectors, outlines, fills, flip rooms, drawing order).
#include <pugixml.hpp>
#include <unistd.h>

#include <cmath>
#include <set>
#include <sstream>

#include "map_support.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

void PutI32(std::array<uint8_t, 16>& info, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k) info[at + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
}

struct RoomPlan {
  int32_t x, z, floor, ceiling;  // world units
  uint16_t sizeX, sizeZ;
  std::set<std::pair<int, int>> walls;  // sectors (x, z) with floor byte -127
  std::array<uint8_t, 2> flags, ambient;
  int16_t alternate;
};

// Room 2 is the flip room of room 0 (same place); room 3 is a single wall
// sector on the lowest floor.
const RoomPlan kPlans[] = {
    {2048, -3072, 1024, -2048, 4, 3, {{0, 0}, {0, 1}, {0, 2}, {2, 1}}, {0x01, 0x02}, {0x34, 0x12}, 2},
    {-5120, 7168, -512, -4096, 2, 5, {}, {0x88, 0x00}, {0x00, 0x1F}, -1},
    {2048, -3072, 1024, -2048, 4, 3, {}, {0x04, 0x00}, {0xFF, 0x00}, -1},
    {0, 0, 3000, 0, 1, 1, {{0, 0}}, {0x8D, 0xA5}, {0x01, 0x80}, -1},
};

// The sample level of the kind with the four planned rooms (geometry and
// counts from the sample's rooms; room 3 copies room 0's). Kind 8 (real TR5)
// holds them as XELA rooms: position and heights in its room info (which also
// has a y), the light in the first two bytes of its colour. The TR4 family and
// TR5 rooms have the red byte 0xAA.
BLevel PlannedLevel(int kind) {
  BLevel L = SampleLevel(kind, 5);
  if (kind >= 6) FillPages(L, 0, 5, 100);
  if (kind == 8) {
    L.rooms5.push_back(L.rooms5[0]);
    for (size_t i = 0; i < 4; ++i) {
      const RoomPlan& p = kPlans[i];
      B5Room& r = L.rooms5[i];
      r.info = {p.x, -77, p.z, p.floor, p.ceiling};
      r.sectorsX = p.sizeX;
      r.sectorsZ = p.sizeZ;
      r.sectors.assign(size_t(p.sizeX) * p.sizeZ, {0x10, 0, 0xF6, 0x7F, 0xFF, 0x04, 0xFF, 0xF8});
      for (const auto& [x, z] : p.walls) r.sectors[size_t(x) * p.sizeZ + size_t(z)][5] = 0x81;
      r.flags = uint16_t(p.flags[0] | p.flags[1] << 8);
      r.colour = uint32_t(p.ambient[0] | p.ambient[1] << 8 | 0x33AA0000);
      r.alternateRoom = p.alternate;
    }
    return L;
  }
  L.rooms.push_back(L.rooms[0]);
  for (size_t i = 0; i < 4; ++i) {
    const RoomPlan& p = kPlans[i];
    BRoom& r = L.rooms[i];
    PutI32(r.info, 0, p.x);
    PutI32(r.info, 4, p.z);
    PutI32(r.info, 8, p.floor);
    PutI32(r.info, 12, p.ceiling);
    r.sectorsX = p.sizeX;
    r.sectorsZ = p.sizeZ;
    r.sectors.assign(size_t(p.sizeX) * p.sizeZ, {0x10, 0, 0x22, 0, 0xFF, 0x04, 0xFF, 0xF8});
    for (const auto& [x, z] : p.walls) r.sectors[size_t(x) * p.sizeZ + size_t(z)][5] = 0x81;
    r.flags = p.flags;
    r.ambient = p.ambient;
    r.ambient2 = 0x33AA;  // the TR4 family's red (0xAA) and alpha bytes
    r.alternateRoom = p.alternate;
  }
  return L;
}

// The room's counts as the table shows them: vertices, rectangles, triangles
// (summed over the layers of a TR5 room), sprites (none in TR5), portals,
// lights, statics.
std::vector<std::string> Counts(const BLevel& L, size_t i) {
  std::vector<size_t> n;
  if (L.kind == Kind::TR5) {
    const B5Room& r = L.rooms5[i];
    size_t v = 0, q = 0, t = 0;
    for (const B5Layer& layer : r.layers) v += layer.vertices.size(), q += layer.rectangles.size(), t += layer.triangles.size();
    n = {v, q, t, 0, r.portals.size(), r.lights.size(), r.statics.size()};
  } else {
    const BRoom& r = L.rooms[i];
    n = {r.vertices.size(), r.rectangles.size(), r.triangles.size(), r.sprites.size(), r.portals.size(),
         r.lights.size(), r.statics.size()};
  }
  std::vector<std::string> out;
  for (size_t c : n) out.push_back(std::to_string(c));
  return out;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> t;
  std::istringstream in(line);
  for (std::string s; in >> s;) t.push_back(s);
  return t;
}

// The table's room lines: after "Loading Level...", the heading, the empty
// line and the column headings, before "Done.".
std::vector<std::string> TableRows(const std::string& out) {
  std::vector<std::string> lines = SplitLines(out);
  EXPECT_GE(lines.size(), 5u);
  if (lines.size() < 5) return {};
  EXPECT_EQ(lines.back(), "Done.");
  return std::vector<std::string>(lines.begin() + 4, lines.end() - 1);
}

const char* const kHeading =
    " Room      X      Z SizeX SizeZ   Floor Ceiling Flags Set Light   Alt Verts Rects  Tris Sprites Portals Lights Statics Storey";
// The TR4 family and TR5 show the room colour, #RRGGBB, as the light.
const char* const kColourHeading =
    " Room      X      Z SizeX SizeZ   Floor Ceiling Flags Set   Light   Alt Verts Rects  Tris Sprites Portals Lights Statics Storey";

class RoomsFixture : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L, const std::string& stem = "lvl") {
    const fs::path p = dir_ / (stem + FileExtension(L.kind));
    WriteBytes(p, Build(L));
    return p;
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};
class RoomsTest : public RoomsFixture, public ::testing::WithParamInterface<int> {};

TEST_P(RoomsTest, TableShowsEachRoomAsStoredWithItsKindsMeanings) {
  const int kind = GetParam();
  const bool tr4 = kind >= 6;
  const BLevel L = PlannedLevel(kind);
  const std::string out = RunOn(Put(L), {"/ShowRooms"});
  const std::vector<std::string> lines = SplitLines(out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"Loading Level...", "Showing ROOMS of this level:", "", tr4 ? kColourHeading : kHeading}));
  const std::vector<std::string> rows = TableRows(out);
  ASSERT_EQ(rows.size(), 4u);
  // Set letters and light: the quicksand bit and the light form differ by kind.
  const struct {
    const char *flags, *set, *light;
  } expected[] = {
      {"0201", "W", tr4 ? "#AA1234" : "18"},
      {"0088", tr4 ? "S" : "SQ", tr4 ? "#AA1F00" : "31"},
      {"0004", tr4 ? "Q" : "-", tr4 ? "#AA00FF" : "0"},
      {"A58D", "WSQ", tr4 ? "#AA8001" : "128"},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("room " + std::to_string(i));
    const RoomPlan& p = kPlans[i];
    std::vector<std::string> want = {
        std::to_string(i), std::to_string(p.x / 1024), std::to_string(p.z / 1024), std::to_string(p.sizeX),
        std::to_string(p.sizeZ), std::to_string(p.floor), std::to_string(p.ceiling), expected[i].flags,
        expected[i].set, expected[i].light, std::to_string(p.alternate)};
    for (const std::string& n : Counts(L, i)) want.push_back(n);
    // Rooms 0 and 2 lie over each other but are flip partners; rooms 1 and
    // 3 are too narrow to have floor sectors off their rings: one storey.
    want.push_back("1");
    EXPECT_EQ(Tokens(rows[i]), want);
  }
}

// Fixed widths, numbers right-aligned and the letters left-aligned; a value
// longer than its field widens its line; positions round down to the sector.
TEST_F(RoomsFixture, TableFieldsHaveFixedWidthsAndLongValuesWidenTheLine) {
  BLevel L = PlannedLevel(1);
  PutI32(L.rooms[1].info, 0, INT32_MIN);
  PutI32(L.rooms[1].info, 4, -1);
  PutI32(L.rooms[1].info, 8, INT32_MAX);
  PutI32(L.rooms[2].info, 0, 1023);
  const std::vector<std::string> rows = TableRows(RunOn(Put(L), {"/ShowRooms", "0", "2"}));
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "    0      2     -3     4     3    1024   -2048  0201 W      18     2     4     3     2       1       1      1       3      1",
                      "    1 -2097152     -1     2     5 2147483647   -4096  0088 SQ     31    -1     6     4     3       2       2      2       2      1",
                      "    2      0     -3     4     3    1024   -2048  0004 -       0    -1     8     5     4       3       1      3       1      1",
                  }));
}

// Reads a number attribute.
double Num(const pugi::xml_node& n, const char* a) { return n.attribute(a).as_double(NAN); }

// The sectors covered by a room group's floor rectangles, as world sector
// coordinates (x, z); a sector covered twice fails the test.
std::set<std::pair<int, int>> FloorCells(const pugi::xml_node& room) {
  std::set<std::pair<int, int>> cells;
  for (pugi::xml_node rect : room.find_child_by_attribute("g", "class", "floor").children("rect"))
    for (int i = 0; i < int(Num(rect, "width")); ++i)
      for (int j = 0; j < int(Num(rect, "height")); ++j)
        EXPECT_TRUE(cells.insert({int(Num(rect, "x")) + i, -int(Num(rect, "y")) - j - 1}).second);
  return cells;
}

TEST_P(RoomsTest, MapDrawsEveryRoomAtItsPlaceWithFloorSectorsAndFlags) {
  const int kind = GetParam();
  const BLevel L = PlannedLevel(kind);
  const fs::path level = Put(L), map = dir_ / "plan.SVG";
  const Bytes before = ReadBytes(level);
  // The sample's items stand away from the planned rooms: named, not drawn.
  EXPECT_EQ(RunOn(level, {"/Map", map.string()}),
            Lines({"Loading Level...", "Drawing the map...", "Items outside the rooms, not drawn: 0, 1, 2, 3, 4",
                   "Saving the map...", "Done."}));
  EXPECT_EQ(ReadBytes(level), before);

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(map.c_str())) << "not well-formed XML";
  const pugi::xml_node svg = doc.child("svg");
  EXPECT_STREQ(svg.attribute("xmlns").value(), "http://www.w3.org/2000/svg");
  const char* kindNames[] = {"",    "TR1", "TR1 (.TUB)", "TR2", "TR2 (.TRG)", "TR3", "TR4", "TR5 (.TRC in the TR4 layout)",
                             "TR5"};
  EXPECT_EQ(std::string(svg.child_value("title")),
            "Map of lvl" + std::string(FileExtension(L.kind)) + " (" + kindNames[kind] + "), rooms 0 to 3");
  std::vector<std::string> legend;
  for (pugi::xml_node t : svg.find_child_by_attribute("g", "id", "legend").children("text")) legend.push_back(t.child_value());
  EXPECT_EQ(legend, (std::vector<std::string>{"water", "quicksand", "sky", "wind or other flag", "no flag",
                                              "flip room (24/90: room 24, its flip room 90)"}));

  // One storey (room 2 is room 0's flip room, rooms 1 and 3 have no floor
  // off their rings); the lowest floor (largest value) first, equal floors
  // in room order.
  std::vector<std::string> order;
  for (pugi::xml_node g : MapRooms(doc)) order.push_back(g.attribute("id").value());
  EXPECT_EQ(order, (std::vector<std::string>{"room-3", "room-0", "room-2", "room-1"}));

  const bool tr4 = kind >= 6;
  const struct {
    const char* title;
    const char* fill;  // "none": a flip room
  } expected[] = {
      {"Room 0: water, 4\xC3\x97" "3 sectors, floor 1024, ceiling -2048, alternate room 2", "#2f6fd6"},
      {tr4 ? "Room 1: sky, 2\xC3\x97" "5 sectors, floor -512, ceiling -4096"
           : "Room 1: sky, quicksand, 2\xC3\x97" "5 sectors, floor -512, ceiling -4096",
       tr4 ? "#a35bd0" : "#c7922e"},
      {tr4 ? "Room 2: quicksand, 4\xC3\x97" "3 sectors, floor 1024, ceiling -2048, alternate of room 0"
           : "Room 2: no flags, 4\xC3\x97" "3 sectors, floor 1024, ceiling -2048, alternate of room 0",
       "none"},
      {"Room 3: water, sky, quicksand, 1\xC3\x97" "1 sectors, floor 3000, ceiling 0", "#2f6fd6"},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("room " + std::to_string(i));
    const RoomPlan& p = kPlans[i];
    pugi::xml_node g;
    for (pugi::xml_node r : MapRooms(doc))
      if (r.attribute("id").value() == "room-" + std::to_string(i)) g = r;
    ASSERT_TRUE(g);
    EXPECT_EQ(std::string(g.child_value("title")), expected[i].title);
    EXPECT_STREQ(g.attribute("fill").value(), expected[i].fill);
    const int x0 = p.x / 1024, z0 = p.z / 1024;
    const pugi::xml_node outline = g.find_child_by_attribute("rect", "class", "outline");
    EXPECT_EQ(std::vector<double>({Num(outline, "x"), Num(outline, "y"), Num(outline, "width"), Num(outline, "height")}),
              std::vector<double>({double(x0), -double(z0 + p.sizeZ), double(p.sizeX), double(p.sizeZ)}));
    // The number on the room's floor sectors, or for room 3, a wall sector
    // alone, outside it with a leader line; the flip room's number after its
    // original's ("0/2"), on the original's floor, the same place.
    const bool flip = i == 2;
    const pugi::xml_node panel = g.parent().parent();
    double tx = NAN, ty = NAN, scale = NAN;
    ASSERT_EQ(std::sscanf(g.parent().attribute("transform").value(), "translate(%lf %lf) scale(%lf)", &tx, &ty, &scale), 3);
    std::vector<LabelBox> labels;
    for (const LabelBox& b : PanelLabels(panel))
      if (b.room == (flip ? 0 : int(i))) labels.push_back(b);
    ASSERT_EQ(labels.size(), 1u);
    const std::string text =
        panel.find_child_by_attribute("g", "class", "labels").find_child_by_attribute("text", "data-room", flip ? "0" : std::to_string(i).c_str()).child_value();
    EXPECT_EQ(text, i == 0 || flip ? "0/2" : std::to_string(i));
    const LabelBox& b = labels[0];
    const pugi::xml_node leader = panel.find_child_by_attribute("g", "class", "labels").find_child_by_attribute("line", "data-room", std::to_string(i).c_str());
    EXPECT_EQ(bool(leader), i == 3);
    const int c0 = int(std::floor((b.x - tx) / scale)), c1 = int(std::ceil((b.x + b.w - tx) / scale));
    const int r0 = int(std::floor((b.y - ty) / scale)), r1 = int(std::ceil((b.y + b.h - ty) / scale));
    for (int c = c0; c < c1 && i != 3; ++c)
      for (int r = r0; r < r1; ++r) {
        const int x = c - x0, z = -r - 1 - z0;  // the room's sector under the box
        EXPECT_TRUE(x >= 0 && x < p.sizeX && z >= 0 && z < p.sizeZ && (flip || !p.walls.count({x, z})))
            << "the label covers sector " << x << ", " << z;
      }
    EXPECT_EQ(outline.attribute("stroke-dasharray").empty(), !flip);
    std::set<std::pair<int, int>> want;
    for (int x = 0; x < p.sizeX && !flip; ++x)
      for (int z = 0; z < p.sizeZ; ++z)
        if (!p.walls.count({x, z})) want.insert({x0 + x, z0 + z});
    EXPECT_EQ(FloorCells(g), want);
  }
}

TEST_P(RoomsTest, RoomRangeFollowsTheEditsRule) {
  const fs::path level = Put(PlannedLevel(GetParam()));
  const std::string refused = "Loading Level...\r\nRoom 4 is outside this level (rooms 0 to 3).\r\n";
  const struct {
    std::vector<std::string> range;
    std::vector<int> rooms;  // empty: refused
  } cases[] = {
      {{}, {0, 1, 2, 3}}, {{"2"}, {2, 3}}, {{"1", "1"}, {1}}, {{"2", "0"}, {2}}, {{"", "1"}, {0, 1}},
      {{"0", "99"}, {0, 1, 2, 3}}, {{"$3"}, {3}}, {{"4"}, {}}, {{"-1", "2"}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"/ShowRooms"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    if (c.rooms.empty()) {
      const std::string out = RunOn(level, args, 2);
      EXPECT_EQ(out.substr(0, 18), "Loading Level...\r\n");
      EXPECT_NE(out.find("is outside this level"), std::string::npos);
      continue;
    }
    std::vector<int> shown;
    for (const std::string& row : TableRows(RunOn(level, args))) shown.push_back(std::stoi(Tokens(row).at(0)));
    EXPECT_EQ(shown, c.rooms);
    // The map of the same range draws exactly those rooms.
    std::vector<std::string> mapArgs = {"/Map", (dir_ / "r.svg").string()};
    mapArgs.insert(mapArgs.end(), c.range.begin(), c.range.end());
    RunOn(level, mapArgs);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((dir_ / "r.svg").c_str()));
    std::set<int> drawn;
    for (pugi::xml_node g : MapRooms(doc))
      drawn.insert(std::stoi(std::string(g.attribute("id").value()).substr(5)));
    EXPECT_EQ(drawn, std::set<int>(c.rooms.begin(), c.rooms.end()));
  }
  EXPECT_EQ(RunOn(level, {"/ShowRooms", "4", "9"}, 2), refused);
  EXPECT_EQ(RunOn(level, {"/ShowRooms", "x"}, 2), "Loading Level...\r\n'x' is not a valid integer value.\r\n");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RoomsTest, ::testing::Range(1, 9));

class MapTarget : public RoomsFixture {};

TEST_F(MapTarget, RefusedNamesLeaveLevelAndFolderAlone) {
  BLevel L = PlannedLevel(1);
  const fs::path level = Put(L), svgLevel = dir_ / "level.svg";
  WriteBytes(svgLevel, Build(L));  // a level whose own name ends in .svg
  ASSERT_EQ(::link(level.c_str(), (dir_ / "hard.svg").c_str()), 0);
  fs::create_symlink(level, dir_ / "soft.SVG");
  ASSERT_EQ(::link(level.c_str(), (dir_ / "hard.PNG").c_str()), 0);
  fs::create_symlink(level, dir_ / "soft.Html");
  const Bytes before = ReadBytes(level);
  const std::string wrongName = Lines({"The map's file name must end in .svg, .png or .html."});
  const std::string itself = Lines({"The map cannot be written over the level file."});
  const struct {
    fs::path levelFile;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {level, {"/Map"}, Lines({"Missing parameter"})},
      {level, {"/map", "", "1"}, Lines({"Missing parameter"})},
      {level, {"/Map", "map.gif"}, wrongName},
      {level, {"/Map", "map.png.txt"}, wrongName},
      {level, {"/Map", "png"}, wrongName},
      {level, {"/Map", "svg"}, wrongName},
      {level, {"/Map", "map.svg.txt"}, wrongName},
      {level, {"/Map", "map.htm"}, wrongName},
      {level, {"/Map", "html"}, wrongName},
      {level, {"/Map", level.string()}, wrongName},
      {level, {"/Map", (dir_ / "hard.svg").string()}, itself},
      {level, {"/Map", (dir_ / "soft.SVG").string()}, itself},
      {level, {"/Map", (dir_ / "hard.PNG").string()}, itself},
      {level, {"/Map", (dir_ / "soft.Html").string()}, itself},
      {svgLevel, {"/Map", svgLevel.string()}, itself},
      {svgLevel, {"/Map", (dir_ / "." / "level.svg").string()}, itself},
      {level, {"/Map", (dir_ / "x.svg").string(), "7"}, Lines({"Loading Level...", "Drawing the map...", "Room 7 is outside this level (rooms 0 to 3)."})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(RunOn(c.levelFile, c.args, 2), c.out);
  }
  EXPECT_EQ(ReadBytes(level), before);
  EXPECT_EQ(ReadBytes(svgLevel), Build(L));
  EXPECT_FALSE(fs::exists(dir_ / "x.svg"));
  EXPECT_FALSE(fs::exists(dir_ / "svg"));
}

TEST_F(MapTarget, ReplacesAnOlderMapAndKeepsNoTemporaryFile) {
  const fs::path level = Put(PlannedLevel(5)), map = dir_ / "old.svg";
  WriteBytes(map, Bytes(5000, 'x'));
  RunOn(level, {"/Map", map.string(), "1", "1"});
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(map.c_str()));
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);  // the level and the map
}

TEST_F(MapTarget, LevelWithoutRoomsGivesAnEmptyTableAndMap) {
  const fs::path level = Put(EmptyLevel(Kind::TR2));
  EXPECT_EQ(RunOn(level, {"/ShowRooms"}),
            Lines({"Loading Level...", "Showing ROOMS of this level:", "", kHeading, "Done."}));
  EXPECT_EQ(RunOn(level, {"/ShowRooms", "0"}, 2), Lines({"Loading Level...", "This level has no rooms to change."}));
  RunOn(level, {"/Map", (dir_ / "e.svg").string()});
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir_ / "e.svg").c_str()));
  EXPECT_EQ(std::string(doc.child("svg").child_value("title")), "Map of lvl.tr2 (TR2), no rooms");
  EXPECT_TRUE(StoreyPanels(doc).empty());
}

TEST_F(MapTarget, AnyFileNameGivesWellFormedXml) {
  const std::string name = "a&b<c>\"'\x01\xFF\xC3(\xE2\x82\xAC.phd";
  const fs::path level = dir_ / name;
  WriteBytes(level, Build(PlannedLevel(1)));
  RunOn(level, {"/Map", (dir_ / "n.svg").string()});
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir_ / "n.svg").c_str()));
  EXPECT_EQ(std::string(doc.child("svg").child_value("title")),
            "Map of a&b<c>\"'\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD(\xE2\x82\xAC.phd (TR1), rooms 0 to 3");
}

}  // namespace
