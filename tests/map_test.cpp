// The map (/Map) of built levels whose rooms lie at chosen places: which rooms
// are drawn as flip rooms, where the picture starts and how large its rooms
// are drawn, and the level's own name in the title. The SVG is read back with
// an XML parser.
#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "html.h"
#include "map_support.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

// A room's place and size, in sectors (1024 world units).
using Place = BuiltRoom;

// The sample level of the kind with one room per place, every sector a floor,
// and room i's flip room alternates[i] (none when not given).
BLevel PlacedLevel(int kind, std::vector<Place> places, const std::vector<int16_t>& alternates = {}) {
  for (size_t i = 0; i < places.size() && i < alternates.size(); ++i) places[i].alternate = alternates[i];
  return LevelOfRooms(kind, places);
}

class MapTest : public ::testing::Test {
protected:
  // Draws the map of the level stored under name; false when it is no XML.
  bool Draw(const BLevel& L, const std::string& name, pugi::xml_document& doc) {
    const fs::path level = dir_ / name, map = dir_ / "map.svg";
    WriteBytes(level, Build(L));
    EXPECT_EQ(RunOn(level, {"/Map", map.string()}),
              Lines({"Loading Level...", "Drawing the map...", "Saving the map...", "Done."}));
    return bool(doc.load_file(map.c_str()));
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

// The rooms group of the map's one storey panel.
pugi::xml_node RoomsGroup(const pugi::xml_document& doc) {
  const std::vector<pugi::xml_node> panels = StoreyPanels(doc);
  EXPECT_EQ(panels.size(), 1u);
  return panels.empty() ? pugi::xml_node() : panels[0].find_child_by_attribute("g", "class", "rooms");
}

double Attr(const pugi::xml_node& n, const char* name) { return n.attribute(name).as_double(NAN); }

// A room is drawn as a flip room (dashed outline, no fill) when another room
// names it as its alternate; the first room to name it is its partner.
TEST_F(MapTest, FlipRoomsAreTheRoomsOthersNameAsTheirAlternate) {
  const std::vector<Place> places = {{0, 0, 2, 2}, {3, 0, 2, 2}, {6, 0, 2, 2}};
  const struct {
    std::vector<int16_t> alternates;
    std::map<int, int> flips;  // flip room -> the room it replaces
  } rows[] = {
      {{-1, -1, -1}, {}},
      {{-1, 0, -1}, {{0, 1}}},          // the flip room of room 1 is room 0
      {{1, -1, -1}, {{1, 0}}},
      {{2, 2, -1}, {{2, 0}}},           // two rooms name room 2: the first is its partner
      {{-1, 0, 1}, {{0, 1}, {1, 2}}},
      {{3, -1, 7}, {}},                 // no such room
      {{-2, -1, -1}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.alternates));
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(PlacedLevel(3, places, row.alternates), "lvl.tr2", doc));
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE("room " + std::to_string(i));
      const pugi::xml_node g = RoomsGroup(doc).find_child_by_attribute("g", "id", ("room-" + std::to_string(i)).c_str());
      ASSERT_TRUE(g);
      const auto flip = row.flips.find(i);
      const bool isFlip = flip != row.flips.end();
      EXPECT_EQ(std::string(g.attribute("class").value()), isFlip ? "room flip" : "room");
      EXPECT_EQ(std::string(g.attribute("fill").value()) == "none", isFlip);
      const pugi::xml_node outline = g.find_child_by_attribute("rect", "class", "outline");
      EXPECT_EQ(outline.attribute("stroke-dasharray").empty(), !isFlip);
      const std::string title = g.child_value("title");
      const size_t at = title.find(", alternate of room ");
      EXPECT_EQ(at == std::string::npos ? "" : title.substr(at), isFlip ? ", alternate of room " + std::to_string(flip->second) : "");
    }
  }
}

// The picture starts at the rooms, wherever they lie (never at x = 0 or z = 0),
// and its longer side is drawn as large as the limits allow: 24 pixels a
// sector, at most 1600 pixels for the whole extent. The rooms start below the
// heading and the storey's title row.
TEST_F(MapTest, ThePictureFitsTheRoomsExtent) {
  constexpr double Margin = 16, Header = 40 + 24, CellPixels = 24, MapPixels = 1600, Near = 0.01;
  const std::vector<Place> rows[] = {
      {{100, 40, 3, 2}, {104, 43, 2, 4}},          // far from both axes, positive
      {{-300, -200, 4, 4}, {-290, -195, 5, 5}},    // far from both axes, negative
      {{-3, -2, 2, 2}, {4, 5, 3, 3}},              // around the origin
      {{0, 500, 2, 2}, {3, 505, 4, 4}},            // far along z only
      {{1000, 0, 10, 10}, {1100, 50, 10, 10}},     // 110 sectors wide: scaled down
      {{-2000, 30, 40, 2}, {-1970, 31, 2, 60}},    // taller than wide, far left
  };
  for (const std::vector<Place>& places : rows) {
    int32_t left = INT32_MAX, right = INT32_MIN, bottom = INT32_MAX, top = INT32_MIN;
    for (const Place& p : places) {
      left = std::min(left, p.x), right = std::max(right, p.x + p.sizeX);
      bottom = std::min(bottom, p.z), top = std::max(top, p.z + p.sizeZ);
    }
    SCOPED_TRACE("x " + std::to_string(left) + " to " + std::to_string(right) + ", z " + std::to_string(bottom) +
                 " to " + std::to_string(top));
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(PlacedLevel(3, places), "lvl.tr2", doc));
    const pugi::xml_node svg = doc.child("svg");
    const double width = Attr(svg, "width"), height = Attr(svg, "height");
    double vx = NAN, vy = NAN, vw = NAN, vh = NAN;
    ASSERT_EQ(std::sscanf(svg.attribute("viewBox").value(), "%lf %lf %lf %lf", &vx, &vy, &vw, &vh), 4);
    EXPECT_EQ(std::vector<double>({vx, vy, vw, vh}), std::vector<double>({0, 0, width, height}));
    double tx = NAN, ty = NAN, scale = NAN;
    ASSERT_EQ(std::sscanf(RoomsGroup(doc).attribute("transform").value(), "translate(%lf %lf) scale(%lf)", &tx, &ty,
                          &scale), 3);
    // The drawn outlines in pixels.
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (pugi::xml_node g : RoomsGroup(doc).children("g")) {
      const pugi::xml_node r = g.find_child_by_attribute("rect", "class", "outline");
      x0 = std::min(x0, tx + scale * Attr(r, "x"));
      x1 = std::max(x1, tx + scale * (Attr(r, "x") + Attr(r, "width")));
      y0 = std::min(y0, ty + scale * Attr(r, "y"));
      y1 = std::max(y1, ty + scale * (Attr(r, "y") + Attr(r, "height")));
    }
    // Left of the rooms their z coordinates, above them their x coordinates,
    // each number at its sector's edge.
    const double axisLeft = 7.0 * double(std::max(std::to_string(bottom).size(), std::to_string(top).size())) + 12;
    EXPECT_NEAR(x0, Margin + axisLeft, Near);
    EXPECT_NEAR(y0, Header + 20, Near);
    size_t xs = 0, zs = 0;
    for (pugi::xml_node t : StoreyPanels(doc)[0].find_child_by_attribute("g", "class", "ticks").children("text")) {
      const double v = std::stod(t.child_value());
      if (std::string(t.attribute("class").value()) == "x") {
        ++xs;
        EXPECT_NEAR(Attr(t, "x"), tx + v * scale, Near);
        EXPECT_TRUE(v >= left && v <= right) << v;
      } else {
        ++zs;
        EXPECT_NEAR(Attr(t, "y") - 4, ty - v * scale, Near);
        EXPECT_TRUE(v >= bottom && v <= top) << v;
      }
    }
    EXPECT_GE(xs, 2u);
    EXPECT_GE(zs, 2u);
    const double longer = std::max(right - left, top - bottom);
    EXPECT_NEAR(std::max(x1 - x0, y1 - y0), std::min(MapPixels, CellPixels * longer), Near);
    EXPECT_NEAR(x1 - x0, (right - left) * scale, Near);
    EXPECT_NEAR(y1 - y0, (top - bottom) * scale, Near);
    // Inside the picture, the legend below the rooms; no wider than the rooms
    // need unless the picture's least width asks for more.
    EXPECT_LE(x1 + Margin, width + Near);
    EXPECT_LE(y1 + Margin, height + Near);
    if (x1 + Margin > 560) {
      EXPECT_NEAR(x1 + 6 + Margin, width, Near) << "room for labels just outside the rooms";
    }
  }
}

// The title names the file by its own name: on Linux a backslash is part of it.
TEST_F(MapTest, TitleNamesTheFilesOwnName) {
  fs::create_directory(dir_ / "sub");
  const struct {
    std::string stored, shown;
  } rows[] = {
      {"a\\b.tr4", "a\\b.tr4"},
      {"sub/c.tr4", "c.tr4"},
      {"sub/x\\y\\z.tr4", "x\\y\\z.tr4"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored);
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(PlacedLevel(6, {{0, 0, 1, 1}, {2, 0, 1, 1}}), row.stored, doc));
    EXPECT_EQ(std::string(doc.child("svg").child_value("title")), "Map of " + row.shown + " (TR4), rooms 0 to 1");
    EXPECT_EQ(std::string(doc.child("svg").child("text").child_value()).rfind(row.shown + " (TR4)", 0), 0u);
  }
}

// "{name}" in the file /Map and /ExportPages write is each level's file name
// without its extension: one picture (or folder of pages) per level, also
// with --jobs; without it two levels writing one file stay refused, and so do
// two levels of one name.
TEST_F(MapTest, NameInTheOutputIsEachLevelsName) {
  const BLevel L = PlacedLevel(3, {{0, 0, 3, 3}});
  for (const char* level : {"a.tr2", "b.tr2", "sub/a.tr2"}) {
    fs::create_directories((dir_ / level).parent_path());
    WriteBytes(dir_ / level, Build(L));
  }
  const std::string d = dir_.string() + "/";
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> written;  // under the folder
    std::string message;               // a line of the output, when refused
  } rows[] = {
      {{"-j", "2", d + "a.tr2", d + "b.tr2", "/Map", d + "{name}.svg"}, 0, {"a.svg", "b.svg"}, ""},
      {{d + "a.tr2", d + "b.tr2", "/Map", d + "m_{name}_{name}.png"}, 0, {"m_a_a.png", "m_b_b.png"}, ""},
      {{"--jobs", "2", d + "a.tr2", d + "b.tr2", "/ExportPages", d + "pages/{name}", "0", "0"}, 0,
       {"pages/a/page_000.png", "pages/b/page_000.png"}, ""},
      {{d + "a.tr2", "/Water", "1", "/Map", d + "{name}.html"}, 0, {"a.html"}, ""},
      {{d + "a.tr2", d + "b.tr2", "/Map", d + "one.svg"}, 2, {}, d + "a.tr2 and " + d + "b.tr2 would both write " + d + "one.svg"},
      {{d + "a.tr2", d + "sub/a.tr2", "/Map", d + "{name}.svg"}, 2, {}, d + "a.tr2 and " + d + "sub/a.tr2 would both write " + d + "a.svg"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    for (const char* f : {"a.svg", "b.svg", "m_a_a.png", "m_b_b.png", "a.html", "one.svg", "pages"}) fs::remove_all(dir_ / f);
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(row.args, console), row.status) << console.Text;
    for (const std::string& f : row.written) EXPECT_TRUE(fs::exists(dir_ / f)) << f;
    if (row.written.empty()) {
      EXPECT_FALSE(fs::exists(dir_ / "a.svg") || fs::exists(dir_ / "one.svg"));
      const std::vector<std::string> lines = SplitLines(console.Text);
      EXPECT_NE(std::find(lines.begin(), lines.end(), row.message), lines.end()) << console.Text;
    }
  }
}

// The page (/Map OUT.html) stands alone: nothing in it names another file or
// a place on the network, its picture is inline without namespace
// declarations, and its JSON block holds the facts of the rooms drawn.
class MapPageTest : public MapTest {
protected:
  // The page of the level stored under name; options go before the level,
  // extra after the map's name.
  std::string Page(const BLevel& L, const std::string& name, std::vector<std::string> options = {},
                   const std::vector<std::string>& extra = {}) {
    const fs::path level = dir_ / name, page = dir_ / "map.HTML";
    WriteBytes(level, Build(L));
    options.insert(options.end(), {level.string(), "/Map", page.string()});
    options.insert(options.end(), extra.begin(), extra.end());
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(options, console), 0);
    EXPECT_EQ(console.Text.substr(kBanner.size()),
              Lines({"Loading Level...", "Drawing the map...", "Saving the map...", "Done."}));
    std::ifstream in(page, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The text of the page's JSON block.
std::string FactsText(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"map-facts\">";
  const size_t at = page.find(open);
  if (at == std::string::npos) return "";
  const size_t end = page.find("</script>", at);
  return page.substr(at + open.size(), end - at - open.size());
}

TEST_F(MapPageTest, ThePageStandsAloneAndHoldsTheRoomsFacts) {
  const std::vector<Place> places = {{0, 0, 2, 2}, {3, 0, 2, 2}, {0, 0, 3, 3}};
  const struct {
    int kind;
    std::vector<std::string> options, range;
    bool items;
  } rows[] = {
      {3, {}, {}, true},
      {6, {}, {}, true},
      {6, {"--no-items"}, {}, false},
      {1, {}, {}, true},
      {6, {}, {"1", "2"}, true},  // the flip room's partner lies outside the range
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind) + " " + ::testing::PrintToString(row.options) +
                 ::testing::PrintToString(row.range));
    const std::string page = Page(PlacedLevel(row.kind, places, {1, -1, -1}), "lvl.tr4", row.options, row.range);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    for (const char* outside : {"http:", "https:", "file:", "ftp:", "src=", "href=", "<link", "@import", "url(",
                                "<iframe", "<object", "<embed", "<?xml", "xmlns"})
      EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_EQ(Count(page, "<svg"), 1u);
    EXPECT_EQ(Count(page, "</script>"), 2u);
    const auto facts = nlohmann::json::parse(FactsText(page), nullptr, false);
    ASSERT_FALSE(facts.is_discarded());
    EXPECT_EQ(facts["items"], row.items);
    const int first = row.range.empty() ? 0 : 1;
    EXPECT_EQ(facts["rooms"].size(), size_t(3 - first));
    int n = first;
    for (const auto& room : facts["rooms"]) {
      SCOPED_TRACE("room " + std::to_string(n));
      EXPECT_EQ(room["room"], n);
      EXPECT_EQ(room["sizeX"], places[size_t(n)].sizeX);
      EXPECT_NE(page.find("id=\"room-" + std::to_string(n) + "\""), std::string::npos);
      // Room 0 names room 1 as its flip room.
      EXPECT_EQ(room.contains("flipOf") ? room["flipOf"].get<int>() : -1, n == 1 ? 0 : -1);
      EXPECT_EQ(room.contains("items"), row.items);
      ++n;
    }
  }
}

// Whatever a level's name holds, the page's title shows it as text and the
// JSON block reads back as the name; no name can end the script early.
TEST_F(MapPageTest, TheLevelsNameIsEscapedWhereverItGoes) {
  const struct {
    std::string stored, title, json;
  } rows[] = {
      {"a&b.tr4", "a&amp;b.tr4", "a&b.tr4"},
      {"<script>.tr4", "&lt;script&gt;.tr4", "<script>.tr4"},
      {"q\"u'o.tr4", "q&quot;u&#39;o.tr4", "q\"u'o.tr4"},
      {"<!--c--> <\\script>.tr4", "&lt;!--c--&gt; &lt;\\script&gt;.tr4", "<!--c--> <\\script>.tr4"},
      {"x\xFF.tr4", "x\xFF.tr4", "x\xEF\xBF\xBD.tr4"},  // not UTF-8: the JSON shows U+FFFD
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored);
    const std::string page = Page(PlacedLevel(6, {{0, 0, 1, 1}}), row.stored);
    EXPECT_NE(page.find("<title>Map of " + row.title + " (TR4), rooms 0 to 0</title>"), std::string::npos);
    const auto facts = nlohmann::json::parse(FactsText(page), nullptr, false);
    ASSERT_FALSE(facts.is_discarded());
    EXPECT_EQ(facts["title"], row.json + " (TR4), rooms 0 to 0");
    if (row.stored.find_first_of("<&\"'") != std::string::npos) {
      EXPECT_EQ(page.find(row.stored), std::string::npos);
    }
    EXPECT_EQ(Count(page, "</script>"), 2u);
    EXPECT_EQ(Count(page, "<!--"), 0u);
  }
}

// In the page a flip room also carries its fill and floor, hidden until the
// page shows the flipped state; the SVG form draws it as a dashed outline only.
TEST_F(MapPageTest, FlipRoomsCarryTheirFloorHiddenInThePageOnly) {
  const BLevel L = PlacedLevel(3, {{0, 0, 3, 3}, {0, 0, 3, 3}, {4, 0, 2, 2}}, {1, -1, -1});
  pugi::xml_document alone, inPage;
  ASSERT_TRUE(Draw(L, "lvl.tr2", alone));
  const std::string page = Page(L, "lvl.tr2");
  const size_t at = page.find("<svg"), end = page.find("</svg>");
  ASSERT_NE(end, std::string::npos);
  ASSERT_TRUE(inPage.load_string(page.substr(at, end + 6 - at).c_str()));
  const auto room = [](const pugi::xml_document& doc, int i) {
    return doc.find_node([i](const pugi::xml_node& n) {
      return std::string(n.attribute("id").value()) == "room-" + std::to_string(i);
    });
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("room " + std::to_string(i));
    const bool flip = i == 1;
    const pugi::xml_node a = room(alone, i), p = room(inPage, i);
    ASSERT_TRUE(a && p);
    EXPECT_EQ(std::string(p.attribute("class").value()), flip ? "room flip" : "room");
    EXPECT_EQ(bool(a.find_child_by_attribute("g", "class", "floor")), !flip);
    const pugi::xml_node floor = p.find_child_by_attribute("g", "class", "floor");
    ASSERT_TRUE(floor);
    EXPECT_EQ(std::string(floor.attribute("display").value()), flip ? "none" : "");
    EXPECT_EQ(std::distance(floor.children("rect").begin(), floor.children("rect").end()), 1);
    EXPECT_EQ(std::string(p.attribute("fill").value()).rfind('#', 0), 0u);
    if (!flip) {
      EXPECT_EQ(std::string(p.attribute("fill").value()), a.attribute("fill").value());
    }
    // The outlines are the same in both.
    const auto outline = [](const pugi::xml_node& g) {
      std::ostringstream text;
      g.find_child_by_attribute("rect", "class", "outline").print(text);
      return text.str();
    };
    EXPECT_EQ(outline(p), outline(a));
  }
}

TEST(MapPageParts, ScriptJsonCannotEndItsElement) {
  const struct {
    std::string text, written;
  } rows[] = {
      {"</script>", R"("\u003c/script\u003e")"},
      {"<!--", R"("\u003c!--")"},
      {"a&b", R"("a\u0026b")"},
      {"plain \"quoted\"", R"("plain \"quoted\"")"},
      {"\xFF", "\"\xEF\xBF\xBD\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string written = qm::ScriptJson(nlohmann::ordered_json(row.text));
    EXPECT_EQ(written, row.written);
    if (row.text != "\xFF") {
      EXPECT_EQ(nlohmann::json::parse(written).get<std::string>(), row.text);
    }
  }
}

TEST(MapPageParts, InlineSvgDropsThePrologueAndTheNamespaces) {
  const struct {
    std::string svg, inlined;
  } rows[] = {
      {"<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"3\">x</svg>\n",
       "<svg width=\"3\">x</svg>\n"},
      {"<svg xmlns:xlink='http://www.w3.org/1999/xlink' data-a=\"a>b\" xmlns=\"u\"><g/></svg>",
       "<svg data-a=\"a>b\"><g/></svg>"},
      {"<!-- <svgx> --><svg>\n<g/></svg>", "<svg>\n<g/></svg>"},
      {"<svg\n  xmlns=\"a\"\n  width=\"1\"/>", "<svg\n  width=\"1\"/>"},
      {"<svg data-xmlns=\"k\">", "<svg data-xmlns=\"k\">"},
      {"no picture", ""},
      {"<svg width=\"1", ""},  // no end of the start tag
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.svg);
    EXPECT_EQ(qm::InlineSvg(row.svg), row.inlined);
  }
}

}  // namespace
