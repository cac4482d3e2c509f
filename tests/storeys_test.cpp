// Storeys through the real program: rooms of built levels stacked at known
// heights are grouped alike by the room table (/ShowRooms, its JSON) and by
// the map's storey panels; --storey draws one of them or is refused.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <map>

#include "map_support.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

using Json = nlohmann::json;

// A room's place in sectors and its heights in world units.
using Stacked = BuiltRoom;

BLevel StackedLevel(int kind, const std::vector<Stacked>& rooms) { return LevelOfRooms(kind, rooms); }

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

// Three rooms one above the other, in room order from the top: storeys 3, 2, 1.
const std::vector<Stacked> kTower = {
    {0, 0, 3, 3, -4096, -5120}, {0, 0, 3, 3, -2048, -3072}, {0, 0, 3, 3, 0, -1024}, {4, 0, 2, 2, 0, -1024}};

TEST_F(StoreysTest, RoomsOverlappingByHalfTheShorterSpanShareAStorey) {
  const struct {
    const char* what;
    std::vector<std::pair<int32_t, int32_t>> spans;  // floor, ceiling of each room, all at one place
    std::vector<int> storeys;
  } rows[] = {
      {"one height", {{0, -1024}, {0, -1024}, {-256, -768}}, {1, 1, 1}},
      {"overlap of exactly half", {{0, -2048}, {-1024, -3072}}, {1, 1}},
      {"overlap just under half", {{0, -2048}, {-1028, -3076}}, {1, 2}},
      {"touching", {{0, -1024}, {-1024, -2048}}, {1, 2}},
      {"a room spanning two joins them", {{0, -1024}, {-1024, -2048}, {0, -2048}}, {1, 1, 1}},
      {"a short room inside a tall one", {{0, -4096}, {-3072, -3584}}, {1, 1}},
      {"lowest first whatever the room order", {{-4096, -5120}, {0, -1024}, {-2048, -3072}}, {3, 1, 2}},
      {"floor stored above the ceiling", {{-1024, 0}, {0, -1024}}, {1, 1}},
      {"apart and far below", {{INT32_MAX, INT32_MAX - 1024}, {0, -1024}}, {1, 2}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<Stacked> rooms;
    for (const auto& [floor, ceiling] : row.spans) rooms.push_back({0, 0, 3, 2, floor, ceiling});
    const fs::path level = Put(StackedLevel(3, rooms)), map = dir_ / "m.svg";
    qm::TStringConsole console;
    ASSERT_EQ(qm::RunTool({"--json", level.string(), "/ShowRooms"}, console), 0);
    const Json table = Json::parse(console.Text)["levels"][0]["rooms"];
    std::vector<int> shown;
    for (const Json& room : table) shown.push_back(room["storey"]);
    EXPECT_EQ(shown, row.storeys);

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
          const auto [floor, ceiling] = row.spans[i];
          low = std::max<int64_t>(low, std::max(floor, ceiling));
          high = std::min<int64_t>(high, std::min(floor, ceiling));
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

// Panels side by side share the scale and the x/z frame: a room's outline
// lies at the same place within its panel as it would in any other.
TEST_F(StoreysTest, PanelsShareTheScaleAndTheFrame) {
  const fs::path level = Put(StackedLevel(6, kTower)), map = dir_ / "m.svg";
  RunOn(level, {"/Map", map.string()});
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(map.c_str()));
  const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
  ASSERT_EQ(panels.size(), 3u);
  double scale0 = NAN, titleY = NAN;
  std::vector<double> lefts;
  for (const pugi::xml_node& panel : panels) {
    double tx = NAN, ty = NAN, scale = NAN;
    ASSERT_EQ(std::sscanf(panel.find_child_by_attribute("g", "class", "rooms").attribute("transform").value(),
                          "translate(%lf %lf) scale(%lf)", &tx, &ty, &scale), 3);
    if (std::isnan(scale0)) scale0 = scale, titleY = ty;
    EXPECT_EQ(scale, scale0);
    EXPECT_EQ(ty, titleY) << "the panels stand in one row";
    lefts.push_back(tx);
  }
  EXPECT_LT(lefts[0], lefts[1]);
  EXPECT_LT(lefts[1], lefts[2]);
  // The same room place (sector 0, 0) lies a panel's width apart.
  EXPECT_NEAR(lefts[2] - lefts[1], lefts[1] - lefts[0], 1e-6);
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
