// The room table and the map on real levels: the table's counts agree with the
// totals independent readers found, and the map shows the sector facts of real
// rooms (corner sectors are walls; the outer ring is walls but for doors).
// Skipped when the shared level folder is absent.
#include <pugixml.hpp>

#include <algorithm>
#include <sstream>

#include "map_support.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

struct RealRooms {
  const char* path;
  int rooms, statics, lights, maxVertices, maxRectangles, maxTriangles;
  const char* room0;  // the first room's line, tokens joined by one blank
};
const RealRooms kLevels[] = {
    {"tr1/TEST1.PHD", 10, 2, 4, 229, 216, 16, "0 4 9 7 14 256 -3072 0040 - 27 -1 229 216 2 1 4 1 1"},
    {"tr2/TEST1.TR2", 5, 0, 2, 224, 211, 4, "0 1 9 7 14 0 -3072 0040 - 27 -1 224 211 2 0 3 1 0"},
    {"tr3/TEST1.TR2", 4, 0, 1, 224, 213, 2, "0 1 9 7 14 0 -3072 0040 - 27 -1 224 213 2 0 2 1 0"},
    {"tr4/TEST1.TR4", 4, 0, 1, 224, 213, 2, "0 1 9 7 14 0 -3072 0040 - #202020 -1 224 213 2 0 2 1 0"},
    {"trng/title.tr4", 2, 2, 1, 722, 720, 0, "0 32 66 9 8 0 -4096 0068 S #3C3C3C -1 112 110 0 0 0 1 2"},
    {"tr5/TEST1.TRC", 4, 0, 6, 224, 213, 2, "0 1 9 7 14 0 -3072 0040 - #202020 -1 224 213 2 0 2 4 0"},
};

void PrintTo(const RealRooms& L, std::ostream* os) { *os << L.path; }

std::vector<std::vector<std::string>> Rows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(out);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (n <= 4 || line.rfind("Done.", 0) == 0) continue;
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string w; words >> w;) rows.back().push_back(w);
  }
  return rows;
}

class RealRoomsTest : public ::testing::TestWithParam<RealRooms> {
protected:
  void SetUp() override {
    if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  }
  fs::path Level() const { return fs::path(QM_SHARED_LEVELS) / GetParam().path; }
  ScratchDir scratch_;
};

TEST_P(RealRoomsTest, TableCountsAgreeWithTheLevelsTotals) {
  const RealRooms& L = GetParam();
  const auto rows = Rows(RunOn(Level(), {"/ShowRooms"}));
  ASSERT_EQ(int(rows.size()), L.rooms);
  int statics = 0, lights = 0, verts = 0, rects = 0, tris = 0;
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 19u);
    EXPECT_GE(std::stoi(r[18]), 1) << "a storey counts from 1";
    verts = std::max(verts, std::stoi(r[11]));
    rects = std::max(rects, std::stoi(r[12]));
    tris = std::max(tris, std::stoi(r[13]));
    lights += std::stoi(r[16]);
    statics += std::stoi(r[17]);
  }
  EXPECT_EQ(std::vector<int>({statics, lights, verts, rects, tris}),
            std::vector<int>({L.statics, L.lights, L.maxVertices, L.maxRectangles, L.maxTriangles}));
  std::string first;
  for (size_t i = 0; i + 1 < rows[0].size(); ++i) first += (first.empty() ? "" : " ") + rows[0][i];
  EXPECT_EQ(first, L.room0);
}

TEST_P(RealRoomsTest, MapShowsWallCornersAndMostlyWalledRings) {
  const RealRooms& L = GetParam();
  const fs::path map = scratch_.path / "real.svg";
  const Bytes before = ReadBytes(Level());
  RunOn(Level(), {"/Map", map.string()});
  EXPECT_EQ(ReadBytes(Level()), before);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(map.c_str()));
  int groups = 0, ringSectors = 0, ringFloors = 0;
  for (pugi::xml_node g : MapRooms(doc)) {
    ++groups;
    const pugi::xml_node outline = g.find_child_by_attribute("rect", "class", "outline");
    const int x0 = outline.attribute("x").as_int(), y0 = outline.attribute("y").as_int();
    const int w = outline.attribute("width").as_int(), h = outline.attribute("height").as_int();
    ringSectors += 2 * (w + h) - 4;
    for (pugi::xml_node rect : g.find_child_by_attribute("g", "class", "floor").children("rect")) {
      const int rx = rect.attribute("x").as_int(), ry = rect.attribute("y").as_int();
      const int rw = rect.attribute("width").as_int(), rh = rect.attribute("height").as_int();
      for (int x = rx; x < rx + rw; ++x)
        for (int y = ry; y < ry + rh; ++y) {
          const bool edgeX = x == x0 || x == x0 + w - 1, edgeY = y == y0 || y == y0 + h - 1;
          EXPECT_FALSE(edgeX && edgeY) << g.attribute("id").value() << ": a corner sector is floor";
          ringFloors += edgeX || edgeY;
        }
    }
  }
  EXPECT_EQ(groups, L.rooms);
  EXPECT_LE(ringFloors * 5, ringSectors) << "more than a fifth of the outer ring sectors are floor";
}

INSTANTIATE_TEST_SUITE_P(Shared, RealRoomsTest, ::testing::ValuesIn(kLevels));

}  // namespace
