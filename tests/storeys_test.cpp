// Storeys through the real program: rooms of built levels placed at known
// cells and heights are put into storeys alike by the room table
// (/ShowRooms, its JSON) and by the map's storey panels, and no two rooms that
// lie over each other share one, on built levels and on every real level
// (the overlap worked out here from the rooms' sectors); --storey draws one
// storey or is refused.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <set>

#include "map_support.h"
#include "tool_test_support.h"
#include "trlevel.h"

using namespace qmtest;

namespace {

using Json = nlohmann::json;
using Cell = std::pair<int64_t, int64_t>;

// A room's place in sectors and its heights in world units.
using Stacked = BuiltRoom;

BLevel StackedLevel(int kind, const std::vector<Stacked>& rooms) { return LevelOfRooms(kind, rooms); }

// A sector of room `room` at grid (x, z) given these floor and ceiling bytes.
struct SectorBytes {
  size_t room;
  uint16_t x, z;
  int8_t floor, ceiling;
};

// The test's own reading of the rule: the world cells of a room's sectors off
// its outer ring that are not walls (floor and ceiling both -127).
std::set<Cell> FloorCellsOf(int64_t x0, int64_t z0, size_t sizeX, size_t sizeZ,
                            const std::function<bool(size_t x, size_t z)>& wall) {
  std::set<Cell> cells;
  for (size_t x = 1; x + 1 < sizeX; ++x)
    for (size_t z = 1; z + 1 < sizeZ; ++z)
      if (!wall(x, z)) cells.insert({x0 + int64_t(x), z0 + int64_t(z)});
  return cells;
}

// Pairs of rooms that lie over each other and share a storey (flip partners,
// linked either way, aside).
std::vector<std::string> StackedOnOneStorey(const std::vector<std::set<Cell>>& cells, const std::vector<int>& alternate,
                                            const std::vector<int>& storey) {
  std::map<Cell, std::vector<size_t>> roomsAt;
  for (size_t i = 0; i < cells.size(); ++i)
    for (const Cell& c : cells[i]) roomsAt[c].push_back(i);
  std::set<std::pair<size_t, size_t>> bad;
  const auto partners = [&](size_t a, size_t b) { return alternate[a] == int(b) || alternate[b] == int(a); };
  for (const auto& [cell, rooms] : roomsAt)
    for (size_t a = 0; a < rooms.size(); ++a)
      for (size_t b = a + 1; b < rooms.size(); ++b)
        if (storey[rooms[a]] == storey[rooms[b]] && !partners(rooms[a], rooms[b])) bad.insert({rooms[a], rooms[b]});
  std::vector<std::string> out;
  for (const auto& [a, b] : bad)
    out.push_back("rooms " + std::to_string(a) + " and " + std::to_string(b) + " on storey " + std::to_string(storey[a]));
  return out;
}

std::vector<int> ShownStoreys(const fs::path& level) {
  qm::TStringConsole console;
  EXPECT_EQ(qm::RunTool({"--json", level.string(), "/ShowRooms"}, console), 0) << console.Text;
  std::vector<int> shown;
  const Json doc = Json::parse(console.Text);
  for (const Json& room : doc["levels"][0]["rooms"]) shown.push_back(room["storey"]);
  return shown;
}

class StoreysTest : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L, const std::string& name = "lvl") {
    const fs::path p = dir_ / (name + FileExtension(L.kind));
    WriteBytes(p, Build(L));
    return p;
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

// Three rooms one above the other, in room order from the top: storeys 3, 2,
// 1; a fourth beside them lies over none and joins storey 1.
const std::vector<Stacked> kTower = {
    {0, 0, 4, 4, -4096, -5120}, {0, 0, 4, 4, -2048, -3072}, {0, 0, 4, 4, 0, -1024}, {5, 0, 3, 3, 0, -1024}};

constexpr int8_t kWall = -127;

TEST_F(StoreysTest, NoRoomLiesOverAnotherOnItsStorey) {
  const struct {
    const char* what;
    std::vector<Stacked> rooms;  // x, z, sizeX, sizeZ, floor, ceiling, alternate
    std::vector<SectorBytes> sectors;
    std::vector<int> storeys;
  } rows[] = {
      {"stacked: the lowest first whatever the room order",
       {{0, 0, 4, 4, -4096, -5120}, {0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072}}, {}, {3, 1, 2}},
      {"side by side at different heights", {{0, 0, 4, 4, 0, -1024}, {4, 0, 4, 4, -3000, -4000}}, {}, {1, 1}},
      {"touching at a doorway: the rings overlap, the floors do not",
       {{0, 0, 4, 4, 0, -1024}, {3, 0, 4, 4, -512, -1536}}, {}, {1, 1}},
      {"one floor sector over another", {{0, 0, 4, 4, 0, -1024}, {1, 1, 4, 4, -2048, -3072}}, {}, {1, 2}},
      {"a tall room over two stacked rooms",
       {{0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072}, {0, 0, 8, 4, -1024, -4096}}, {}, {1, 3, 2}},
      {"a room over nothing goes to the first storey",
       {{0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -1024, -2048}, {10, 0, 4, 4, -2048, -3072}}, {}, {1, 2, 1}},
      {"a room and its flip room share one",
       {{0, 0, 4, 4, -2048, -3072, 2}, {0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072}}, {}, {2, 1, 2}},
      {"a flip room lower than its original stays with it",
       {{0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072, 2}, {0, 0, 4, 4, 0, -3072}}, {}, {1, 2, 2}},
      {"a flip link out of range is none", {{0, 0, 4, 4, 0, -1024, 99}, {0, 0, 4, 4, -2048, -3072}}, {}, {1, 2}},
      {"walls do not count",
       {{0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072}},
       {{1, 1, 1, kWall, kWall}, {1, 1, 2, kWall, kWall}, {1, 2, 1, kWall, kWall}, {1, 2, 2, kWall, kWall}},
       {1, 1}},
      {"a floor byte of -127 under a ceiling is a floor sector",
       {{0, 0, 4, 4, 0, -1024}, {0, 0, 4, 4, -2048, -3072}},
       {{1, 1, 1, kWall, -8}, {1, 1, 2, kWall, kWall}, {1, 2, 1, kWall, kWall}, {1, 2, 2, kWall, kWall}},
       {1, 2}},
      {"rooms too small for a floor lie over nothing", {{0, 0, 2, 2, 0, -1024}, {0, 0, 2, 5, -2048, -3072}}, {}, {1, 1}},
      {"floor stored above the ceiling", {{0, 0, 4, 4, -4096, 0}, {0, 0, 4, 4, -2048, -1024}}, {}, {1, 2}},
      {"far apart and far below", {{2000000, 0, 4, 4, INT32_MAX, INT32_MAX - 1024}, {-2000000, 0, 4, 4, 0, -1024}}, {},
       {1, 1}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    BLevel L = StackedLevel(3, row.rooms);
    for (const SectorBytes& s : row.sectors) {
      auto& bytes = L.rooms[s.room].sectors[size_t(s.x) * L.rooms[s.room].sectorsZ + s.z];
      bytes[5] = uint8_t(s.floor), bytes[7] = uint8_t(s.ceiling);
    }
    const fs::path level = Put(L), map = dir_ / "m.svg";
    const std::vector<int> shown = ShownStoreys(level);
    ASSERT_EQ(shown, row.storeys);
    std::vector<std::set<Cell>> cells;
    std::vector<int> alternate;
    for (size_t i = 0; i < row.rooms.size(); ++i) {
      const Stacked& b = row.rooms[i];
      cells.push_back(FloorCellsOf(b.x, b.z, b.sizeX, b.sizeZ, [&](size_t x, size_t z) {
        const auto& bytes = L.rooms[i].sectors[x * b.sizeZ + z];
        return int8_t(bytes[5]) == kWall && int8_t(bytes[7]) == kWall;
      }));
      alternate.push_back(b.alternate);
    }
    EXPECT_EQ(StackedOnOneStorey(cells, alternate, shown), std::vector<std::string>{});

    // The map: one panel per storey, each room in its storey's panel, the
    // panel's range the lowest floor and highest ceiling of its rooms.
    RunOn(level, {"/Map", map.string()});
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(map.c_str()));
    const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
    ASSERT_EQ(int(panels.size()), *std::max_element(row.storeys.begin(), row.storeys.end()));
    for (size_t n = 0; n < panels.size(); ++n) {
      const int storey = int(n + 1);
      SCOPED_TRACE("storey " + std::to_string(storey));
      EXPECT_EQ(panels[n].attribute("data-storey").as_int(), storey);
      EXPECT_EQ(std::string(panels[n].attribute("id").value()), "storey-" + std::to_string(storey));
      std::vector<int> inPanel, want;
      int64_t low = INT64_MIN, high = INT64_MAX;
      for (size_t i = 0; i < row.storeys.size(); ++i)
        if (row.storeys[i] == storey) {
          want.push_back(int(i));
          const Stacked& b = row.rooms[i];
          low = std::max<int64_t>(low, std::max(b.floor, b.ceiling));
          high = std::min<int64_t>(high, std::min(b.floor, b.ceiling));
        }
      for (const pugi::xml_node& g : PanelRooms(panels[n])) inPanel.push_back(g.attribute("data-room").as_int());
      std::sort(inPanel.begin(), inPanel.end());
      EXPECT_EQ(inPanel, want);
      EXPECT_EQ(panels[n].attribute("data-low").as_llong(), low);
      EXPECT_EQ(panels[n].attribute("data-high").as_llong(), high);
      const std::string title = panels[n].find_child_by_attribute("text", "class", "storey-title").child_value();
      EXPECT_EQ(title.rfind("Storey " + std::to_string(storey) + " (y " + std::to_string(low) + " to ", 0), 0u) << title;
    }
  }
}

// Every real level, the many-storeyed one included: the rooms' places and
// heights from the room table, their sectors from the loaded level.
TEST_F(StoreysTest, RealLevelsStackNoRoomOverAnother) {
  if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  const struct {
    const char* path;
    int storeys;  // 0: not pinned
  } rows[] = {{"tr1/TEST1.PHD", 0}, {"tr2/TEST1.TR2", 0}, {"tr3/TEST1.TR2", 0}, {"tr4/TEST1.TR4", 0},
              {"trng/title.tr4", 0}, {"tr5/TEST1.TRC", 0}, {"tr2-large/OPERA.TR2", 8}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    const fs::path level = fs::path(QM_SHARED_LEVELS) / row.path;
    qm::TStringConsole console;
    ASSERT_EQ(qm::RunTool({"--json", level.string(), "/ShowRooms"}, console), 0);
    const Json table = Json::parse(console.Text)["levels"][0]["rooms"];
    qm::Ttrlevel M;
    ASSERT_EQ(M.LoadLevel(level.string()), 0);
    ASSERT_EQ(table.size(), size_t(M.RoomCount));
    std::vector<std::set<Cell>> cells;
    std::vector<int> alternate, storey;
    for (size_t i = 0; i < table.size(); ++i) {
      const Json& room = table[i];
      const qm::RoomRecord& r = M.Rooms[i];
      const size_t sizeX = room["sizeX"], sizeZ = room["sizeZ"];
      ASSERT_EQ(r.Sectors.size(), sizeX * sizeZ);
      const int64_t x = room["x"], z = room["z"];  // in sectors
      cells.push_back(FloorCellsOf(x, z, sizeX, sizeZ, [&](size_t sx, size_t sz) {
        const auto& bytes = r.Sectors[sx * sizeZ + sz];
        return int8_t(bytes[5]) == kWall && int8_t(bytes[7]) == kWall;
      }));
      alternate.push_back(room["alternate"]);
      storey.push_back(room["storey"]);
    }
    EXPECT_EQ(StackedOnOneStorey(cells, alternate, storey), std::vector<std::string>{});
    const int most = *std::max_element(storey.begin(), storey.end());
    EXPECT_LE(most, 12) << "few storeys";
    if (row.storeys) {
      EXPECT_EQ(most, row.storeys);
    }
  }
}

// Panels share the scale, each framed to its own rooms: its rooms' outlines
// touch the edges of its frame, whose first x coordinate is the leftmost
// room's edge.
TEST_F(StoreysTest, PanelsShareTheScaleEachFramedToItsRooms) {
  const fs::path level = Put(StackedLevel(6, kTower)), map = dir_ / "m.svg";
  RunOn(level, {"/Map", map.string()});
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(map.c_str()));
  const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
  ASSERT_EQ(panels.size(), 3u);
  const double wantWidth[] = {8, 4, 4};  // sectors: storey 1 holds the tower's foot and the room beside it
  double scale0 = NAN;
  for (size_t n = 0; n < panels.size(); ++n) {
    SCOPED_TRACE("storey " + std::to_string(n + 1));
    double tx = NAN, ty = NAN, scale = NAN;
    ASSERT_EQ(std::sscanf(panels[n].find_child_by_attribute("g", "class", "rooms").attribute("transform").value(),
                          "translate(%lf %lf) scale(%lf)", &tx, &ty, &scale), 3);
    if (std::isnan(scale0)) scale0 = scale;
    EXPECT_EQ(scale, scale0);
    double x0 = INFINITY, x1 = -INFINITY;
    for (const pugi::xml_node& g : PanelRooms(panels[n])) {
      const pugi::xml_node r = g.find_child_by_attribute("rect", "class", "outline");
      x0 = std::min(x0, tx + scale * r.attribute("x").as_double());
      x1 = std::max(x1, tx + scale * (r.attribute("x").as_double() + r.attribute("width").as_double()));
    }
    EXPECT_NEAR(x1 - x0, wantWidth[n] * scale, 1e-6);
    const pugi::xml_node first = panels[n].find_child_by_attribute("g", "class", "ticks").find_child_by_attribute("text", "class", "x");
    EXPECT_STREQ(first.child_value(), "0");
    EXPECT_NEAR(first.attribute("x").as_double(), x0, 1e-6);
  }
}

// A tower of thousands of rooms over one place: thousands of storeys. The
// picture stays within 8192 pixels a side in both forms (so the PNG's pixels
// within 8192 x 8192), and the note names the storeys it leaves out, as the
// console does.
TEST_F(StoreysTest, ManyStoreysStayWithinTheLongestSide) {
  std::vector<Stacked> rooms;
  for (int i = 0; i < 5000; ++i) rooms.push_back({0, 0, 3, 3, -1024 * i, -1024 * i - 1024});
  BLevel L = StackedLevel(3, rooms);
  for (BRoom& r : L.rooms) r.vertices.clear(), r.rectangles.clear(), r.triangles.clear(), r.sprites.clear(), r.portals.clear();
  const fs::path level = Put(L);
  for (const char* name : {"m.svg", "m.png"}) {
    SCOPED_TRACE(name);
    const fs::path map = dir_ / name;
    const std::vector<std::string> out = SplitLines(RunOn(level, {"/Map", map.string()}));
    std::string leftOut;
    for (const std::string& line : out)
      if (line.rfind("Storeys ", 0) == 0) leftOut = line;
    int first = 0, last = 0;
    ASSERT_EQ(std::sscanf(leftOut.c_str(), "Storeys %d to %d are left out", &first, &last), 2) << leftOut;
    EXPECT_EQ(last, 5000);
    EXPECT_EQ(leftOut, "Storeys " + std::to_string(first) + " to 5000 are left out to stay within 8192 pixels a side; "
                       "--storey N draws one of them.");
    double width = 0, height = 0;
    if (map.extension() == ".png") {
      const Bytes png = ReadBytes(map);
      width = double(png.at(16) << 24 | png.at(17) << 16 | png.at(18) << 8 | png.at(19));
      height = double(png.at(20) << 24 | png.at(21) << 16 | png.at(22) << 8 | png.at(23));
    } else {
      pugi::xml_document doc;
      ASSERT_TRUE(doc.load_file(map.c_str()));
      width = doc.child("svg").attribute("width").as_double(), height = doc.child("svg").attribute("height").as_double();
      const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
      EXPECT_EQ(int(panels.size()), first - 1);
      EXPECT_GT(panels.size(), 100u);
    }
    EXPECT_LE(width, 8192);
    EXPECT_LE(height, 8192);
    EXPECT_GT(width * height, 8192.0 * 8192 / 4) << "the picture is filled, not shrunk for nothing";
  }
}

TEST_F(StoreysTest, StoreyOptionDrawsOneStoreyOrIsRefused) {
  const fs::path level = Put(StackedLevel(3, kTower));
  const Bytes before = ReadBytes(level);
  const std::string notNumber = "--storey needs a storey number from 1 (the lowest), not ";
  const struct {
    std::vector<std::string> args;
    std::string out;  // empty: drawn
    int status;
    std::vector<int> rooms;  // drawn
  } rows[] = {
      {{"/Map", "m.svg", "--storey", "2"}, "", 0, {1}},
      {{"--storey=1", "/Map", "m.png"}, "", 0, {2, 3}},
      {{"/Map", "m.svg", "3", "3", "--storey", "1"}, "", 0, {3}},
      {{"/Map", "m.svg", "0", "1", "--storey", "1"}, "", 0, {}},  // the storey's panel, none of its rooms in range
      {{"/Map", "m.svg", "--storey", "x"}, Lines({notNumber + "'x'."}), 2, {}},
      {{"/Map", "m.svg", "--storey", "0"}, Lines({notNumber + "'0'."}), 2, {}},
      {{"/Map", "m.svg", "--storey", "-1"}, Lines({notNumber + "'-1'."}), 2, {}},
      {{"/Map", "m.svg", "--storey", "2x"}, Lines({notNumber + "'2x'."}), 2, {}},
      {{"/Map", "m.svg", "--storey"}, Lines({"--storey needs a value, type Quillmap /h"}), 2, {}},
      {{"/Map", "m.svg", "--storey", "4"},
       Lines({"Loading Level...", "Drawing the map...", "The level has no storey 4; it has 3 storeys."}), 2, {}},
      {{"/ShowRooms", "--storey", "1"}, Lines({"--storey is for /Map."}), 2, {}},
      {{"/Water", "1", "--storey", "1"}, Lines({"--storey is for /Map."}), 2, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    fs::remove(dir_ / "m.svg"), fs::remove(dir_ / "m.png");
    std::vector<std::string> args = row.args;
    for (std::string& a : args)
      if (a == "m.svg" || a == "m.png") a = (dir_ / a).string();
    const std::string out = RunOn(level, args, row.status);
    EXPECT_EQ(ReadBytes(level), before);
    if (!row.out.empty()) {
      EXPECT_EQ(out, row.out);
      EXPECT_FALSE(fs::exists(dir_ / "m.svg") || fs::exists(dir_ / "m.png"));
      continue;
    }
    if (fs::exists(dir_ / "m.png")) {
      EXPECT_EQ(ReadBytes(dir_ / "m.png").size() > 8 && ReadBytes(dir_ / "m.png")[1] == 'P', true);
      continue;
    }
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((dir_ / "m.svg").c_str()));
    const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
    ASSERT_EQ(panels.size(), 1u);
    const std::string storey = row.args.back();
    EXPECT_EQ(std::string(panels[0].attribute("data-storey").value()), storey);
    std::vector<int> drawn;
    for (const pugi::xml_node& g : PanelRooms(panels[0])) drawn.push_back(g.attribute("data-room").as_int());
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(drawn, row.rooms);
    const std::string title = doc.child("svg").child_value("title");
    const std::string suffix = ", storey " + storey;
    EXPECT_EQ(title.substr(title.size() - suffix.size()), suffix);
  }
}

}  // namespace
