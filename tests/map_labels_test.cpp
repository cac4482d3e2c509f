// The map's room numbers and its PNG form through the real program: on the
// real levels and on built levels of dense stacks no two label boxes of a
// panel overlap and every room is labelled or named in the panel's note; the
// PNG shows the rooms' cells where rsvg-convert draws the SVG, in the same
// colours; the map's PNG writer keeps every pixel, with a palette or without.
#include <pugixml.hpp>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "binary_run.h"
#include "map_support.h"
#include "png.h"
#include "raster.h"
#include "tool_test_support.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
// A decoder of its own for pictures of any size (the tool's holds 256 x 256).
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

using namespace qmtest;

namespace {

struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3]; }
};

Picture Decode(const fs::path& file) {
  const Bytes png = ReadBytes(file);
  Picture p;
  int n = 0;
  unsigned char* data = stbi_load_from_memory(png.data(), int(png.size()), &p.w, &p.h, &n, 3);
  if (data) p.rgb.assign(data, data + size_t(p.w) * size_t(p.h) * 3);
  else p.w = p.h = 0;
  stbi_image_free(data);
  return p;
}

// A room's place in sectors, all at one height unless given.
struct Spot {
  int32_t x, z;
  uint16_t sizeX, sizeZ;
  int32_t floor = 0, ceiling = -1024;
};

void PutI32(std::array<uint8_t, 16>& info, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k) info[at + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
}

BLevel SpotLevel(const std::vector<Spot>& spots) {
  BLevel L = SampleLevel(3, 4);
  const BRoom first = L.rooms[0];
  L.rooms.assign(spots.size(), first);
  for (size_t i = 0; i < spots.size(); ++i) {
    const Spot& s = spots[i];
    BRoom& r = L.rooms[i];
    PutI32(r.info, 0, s.x * 1024), PutI32(r.info, 4, s.z * 1024);
    PutI32(r.info, 8, s.floor), PutI32(r.info, 12, s.ceiling);
    r.sectorsX = s.sizeX, r.sectorsZ = s.sizeZ;
    r.sectors.assign(size_t(s.sizeX) * s.sizeZ, {0x10, 0, 0x22, 0, 0xFF, 0x04, 0xFF, 0xF8});
    r.alternateRoom = -1;
  }
  return L;
}

// Dense stacks: many rooms in one place, rooms packed edge to edge, small
// rooms scattered over a large one, and rooms on several storeys at once.
std::map<std::string, std::vector<Spot>> DenseStacks() {
  std::map<std::string, std::vector<Spot>> levels;
  for (int i = 0; i < 30; ++i) levels["thirty rooms in one place"].push_back({5, 5, 2, 2});
  for (int i = 0; i < 144; ++i) levels["a grid of single sectors"].push_back({i % 12, i / 12, 1, 1});
  levels["small rooms over a large one"].push_back({0, 0, 20, 20});
  for (int i = 0; i < 40; ++i) levels["small rooms over a large one"].push_back({(i * 7) % 19, (i * 3) % 19, 1, 2});
  for (int i = 0; i < 90; ++i)
    levels["three storeys of overlapping rooms"].push_back(
        {(i * 5) % 13, (i * 11) % 9, uint16_t(1 + i % 4), uint16_t(1 + i % 3), -2048 * (i % 3), -2048 * (i % 3) - 1024});
  for (int i = 0; i < 200; ++i)
    levels["far apart and dense"].push_back({(i % 2) * 5000 + i % 7, (i / 2) % 5, 1, 1});
  return levels;
}

// The room numbers a panel's note lists, and how many it names only by count.
std::set<int> NoteRooms(const pugi::xml_node& panel, int& counted) {
  std::set<int> rooms;
  counted = 0;
  for (pugi::xml_node t : panel.children("text")) {
    if (std::string(t.attribute("class").value()) != "note") continue;
    std::string line = t.child_value();
    const size_t colon = line.find(':');
    if (colon != std::string::npos) line = line.substr(colon + 1);
    const size_t more = line.find(" and ");
    if (more != std::string::npos) {
      counted += std::stoi(line.substr(more + 5));
      line = line.substr(0, more);
    }
    for (char& c : line) c = c == ',' ? ' ' : c;
    std::istringstream words(line);
    for (int n; words >> n;) rooms.insert(n);
  }
  return rooms;
}

// No two boxes of a panel overlap; each room of the panel is labelled once
// or named in its note; a leader ends on its label's box. Returns how many
// rooms were labelled.
size_t CheckLabels(const pugi::xml_document& doc) {
  const double width = doc.child("svg").attribute("width").as_double(), height = doc.child("svg").attribute("height").as_double();
  size_t labelled = 0;
  for (const pugi::xml_node& panel : StoreyPanels(doc)) {
    SCOPED_TRACE(std::string("storey ") + panel.attribute("data-storey").value());
    const std::vector<LabelBox> boxes = PanelLabels(panel);
    labelled += boxes.size();
    for (size_t i = 0; i < boxes.size(); ++i) {
      const LabelBox& a = boxes[i];
      EXPECT_GT(a.w, 0) << "room " << a.room << ": no box";
      EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.w <= width && a.y + a.h <= height) << "room " << a.room;
      for (size_t j = i + 1; j < boxes.size(); ++j) {
        const LabelBox& b = boxes[j];
        EXPECT_FALSE(a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h)
            << "the labels of rooms " << a.room << " and " << b.room << " overlap";
      }
    }
    std::map<int, LabelBox> byRoom;
    for (const LabelBox& b : boxes) EXPECT_TRUE(byRoom.emplace(b.room, b).second) << "room " << b.room << " twice";
    for (pugi::xml_node line : panel.find_child_by_attribute("g", "class", "labels").children("line")) {
      const auto at = byRoom.find(line.attribute("data-room").as_int(-1));
      if (at == byRoom.end()) {
        ADD_FAILURE() << "a leader without its label";
        continue;
      }
      const LabelBox& b = at->second;
      const double x2 = line.attribute("x2").as_double(), y2 = line.attribute("y2").as_double();
      EXPECT_TRUE(x2 >= b.x - 0.01 && x2 <= b.x + b.w + 0.01 && y2 >= b.y - 0.01 && y2 <= b.y + b.h + 0.01);
    }
    // A label names its room, and after a "/" the flip room drawn with it.
    std::set<int> named;
    for (pugi::xml_node t : panel.find_child_by_attribute("g", "class", "labels").children("text")) {
      const std::string text = t.child_value();
      const size_t slash = text.find('/');
      EXPECT_EQ(std::stoi(text), t.attribute("data-room").as_int(-1)) << text;
      named.insert(std::stoi(text));
      if (slash != std::string::npos) {
        EXPECT_TRUE(named.insert(std::stoi(text.substr(slash + 1))).second) << text;
      }
    }
    int counted = 0;
    const std::set<int> noted = NoteRooms(panel, counted);
    size_t rooms = 0, unlabelled = 0;
    for (const pugi::xml_node& g : PanelRooms(panel)) {
      ++rooms;
      const int room = g.attribute("data-room").as_int();
      EXPECT_FALSE(named.count(room) && noted.count(room)) << "room " << room << " labelled and noted";
      unlabelled += !named.count(room);
      if (!named.count(room) && counted == 0) {
        EXPECT_TRUE(noted.count(room)) << "room " << room << " neither labelled nor noted";
      }
    }
    EXPECT_EQ(unlabelled, noted.size() + size_t(counted));
    EXPECT_EQ(named.size() + unlabelled, rooms);
  }
  return labelled;
}

class MapLabels : public ::testing::Test {
protected:
  // Draws the level's map in both forms; the SVG read back.
  bool Draw(const fs::path& level, pugi::xml_document& doc) {
    const BinaryRun svg = RunBinary(dir_, QM_TOOL_PATH, {"-q", level.string(), "/Map", "m.svg"});
    const BinaryRun png = RunBinary(dir_, QM_TOOL_PATH, {"-q", level.string(), "/Map", "m.png"});
    EXPECT_EQ(svg.status, 0) << svg.out;
    EXPECT_EQ(png.status, 0) << png.out;
    const Picture picture = Decode(dir_ / "m.png");
    if (!doc.load_file((dir_ / "m.svg").c_str())) return false;
    // The PNG holds the SVG's whole picture, at most 8192 pixels a side.
    EXPECT_LE(std::max(picture.w, picture.h), 8192);
    EXPECT_EQ(picture.w, int(std::ceil(doc.child("svg").attribute("width").as_double())));
    EXPECT_EQ(picture.h, int(std::ceil(doc.child("svg").attribute("height").as_double())));
    return true;
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

TEST_F(MapLabels, RealLevelsDrawInBothFormsWithoutOverlappingLabels) {
  if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  size_t levels = 0;
  for (const auto& entry : fs::recursive_directory_iterator(QM_SHARED_LEVELS)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    SCOPED_TRACE(entry.path().string());
    ++levels;
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(entry.path(), doc));
    EXPECT_GT(CheckLabels(doc), 0u);
  }
  EXPECT_GE(levels, 6u);
}

TEST_F(MapLabels, DenseStacksKeepTheirLabelsApart) {
  for (const auto& [what, spots] : DenseStacks()) {
    SCOPED_TRACE(what);
    const fs::path level = dir_ / "dense.tr2";
    WriteBytes(level, Build(SpotLevel(spots)));
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(level, doc));
    EXPECT_GT(CheckLabels(doc), 0u);
  }
}

// The sample level of each kind has the same three rooms with the same flag
// bytes, drawn through the same layout: a run compares the level of sixteen
// rooms (sky, water, quicksand and flip rooms), the TR1 one (the flag bits of
// TR1-TR3) and the TR5 one (those of the TR4 family). With QM_LONG_TESTS=1 in
// the environment it compares every sample level.
bool ComparedByDefault(const fs::path& level) {
  const char* longTests = std::getenv("QM_LONG_TESTS");
  if (longTests && *longTests && std::string(longTests) != "0") return true;
  const std::string name = level.filename().string();
  return name == "sample_rooms.tr4" || name == "sample_tr1.phd" || name == "sample_trc.trc";
}

// A floor rectangle's centre and quarter points in both pictures, away from
// labels, marks and outlines, within a few levels of each channel.
// It runs in the plain build only: the renderer is another program and the
// tool's PNG form is run under the sanitizers by the other tests of its pictures.
TEST_F(MapLabels, PngShowsTheCellsWhereTheSvgDoes) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "compared with the renderer in the plain build";
#endif
  if (std::system("rsvg-convert --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no rsvg-convert";
  size_t compared = 0, levels = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(QM_SOURCE_DIR) / "examples" / "levels")) {
    if (!ComparedByDefault(entry.path())) continue;
    ++levels;
    SCOPED_TRACE(entry.path().filename().string());
    pugi::xml_document doc;
    ASSERT_TRUE(Draw(entry.path(), doc));
    const std::string convert = "rsvg-convert " + ShellQuote((dir_ / "m.svg").string()) + " -o " +
                                ShellQuote((dir_ / "r.png").string());
    ASSERT_EQ(std::system(convert.c_str()), 0);
    const Picture ours = Decode(dir_ / "m.png"), theirs = Decode(dir_ / "r.png");
    ASSERT_EQ(ours.w, theirs.w);
    ASSERT_EQ(ours.h, theirs.h);
    for (const pugi::xml_node& panel : StoreyPanels(doc)) {
      const pugi::xml_node group = panel.find_child_by_attribute("g", "class", "rooms");
      double tx = 0, ty = 0, scale = 0;
      ASSERT_EQ(std::sscanf(group.attribute("transform").value(), "translate(%lf %lf) scale(%lf)", &tx, &ty, &scale), 3);
      // What may cover a cell: labels, item marks and every outline.
      std::vector<LabelBox> covers = PanelLabels(panel);
      for (const pugi::xml_node& g : PanelRooms(panel)) {
        const pugi::xml_node o = g.find_child_by_attribute("rect", "class", "outline");
        const double x = tx + o.attribute("x").as_double() * scale, y = ty + o.attribute("y").as_double() * scale;
        const double w = o.attribute("width").as_double() * scale, h = o.attribute("height").as_double() * scale;
        for (const LabelBox& edge : {LabelBox{0, x - 2, y - 2, w + 4, 4}, LabelBox{0, x - 2, y + h - 2, w + 4, 4},
                                     LabelBox{0, x - 2, y - 2, 4, h + 4}, LabelBox{0, x + w - 2, y - 2, 4, h + 4}})
          covers.push_back(edge);
      }
      for (pugi::xml_node mark : panel.find_child_by_attribute("g", "class", "items").children()) {
        const std::string title = mark.child_value("title");
        double cx = mark.attribute("cx").as_double(NAN), cy = mark.attribute("cy").as_double(NAN);
        if (std::isnan(cx)) {
          double x0 = 0, y0 = 0;
          if (std::sscanf(mark.attribute("points").value(), "%lf,%lf", &x0, &y0) == 2) cx = x0, cy = y0;
          else cx = mark.attribute("x").as_double(), cy = mark.attribute("y").as_double();
        }
        covers.push_back({0, tx + cx * scale - 10, ty + cy * scale - 10, 20, 20});
      }
      for (const pugi::xml_node& g : PanelRooms(panel)) {
        for (pugi::xml_node r : g.find_child_by_attribute("g", "class", "floor").children("rect")) {
          const double w = r.attribute("width").as_double() * scale, h = r.attribute("height").as_double() * scale;
          if (w < 4 || h < 4) continue;
          const double x = tx + r.attribute("x").as_double() * scale, y = ty + r.attribute("y").as_double() * scale;
          // The centre and the quarter points.
          for (const auto& [fx, fy] : {std::pair{0.5, 0.5}, {0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
            const double cx = x + w * fx, cy = y + h * fy;
            bool covered = false;
            for (const LabelBox& c : covers)
              covered = covered || (cx >= c.x - 1 && cx <= c.x + c.w + 1 && cy >= c.y - 1 && cy <= c.y + c.h + 1);
            if (covered) continue;
            const int px = int(cx), py = int(cy);
            const uint8_t *a = ours.At(px, py), *b = theirs.At(px, py);
            for (int k = 0; k < 3; ++k)
              EXPECT_NEAR(a[k], b[k], 6) << g.attribute("id").value() << " at " << px << ", " << py;
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_GE(levels, 3u);
  EXPECT_GT(compared, 10u);
}

// The map's pixels and its PNG writer: a picture of at most 256 colours is
// held and stored with a palette (a byte a pixel), one of more in RGB from
// its 257th colour on; either way every pixel keeps its colour and an
// independent decoder gives it back.
TEST(MapPng, PaletteUpTo256ColoursRgbBeyondEveryPixelKept) {
  const struct {
    const char* what;
    int w, h;
    uint32_t colours;
    uint8_t colourType;  // 3: indexed, 2: RGB
  } rows[] = {
      {"one pixel", 1, 1, 1, 3},
      {"a map's few colours in long runs", 300, 200, 7, 3},
      {"exactly 256 colours (white among them)", 64, 64, 256, 3},
      {"257 colours, the last first met in the last pixel", 64, 64, 257, 2},
      {"a colour in every pixel", 97, 61, 97 * 61, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const size_t pixels = size_t(row.w) * size_t(row.h);
    // Colour k: runs of the first colours, the last one alone in the last
    // pixel; colour 0 is white, the picture's own first colour.
    const size_t run = row.colours > 1 ? std::max<size_t>(1, (pixels - 1) / (row.colours - 1)) : 1;
    const auto colourOf = [&](size_t i) {
      const uint32_t k = row.colours == 1 ? 0 : i + 1 == pixels ? row.colours - 1 : uint32_t(i / run % (row.colours - 1));
      return std::array<uint8_t, 3>{uint8_t(255 - (k & 0xFF)), uint8_t(255 - (k >> 8) * 37), 255};
    };
    qm::TRaster r(row.w, row.h);
    for (size_t i = 0; i < pixels; ++i) {
      const auto c = colourOf(i);
      const double x = double(i % size_t(row.w)), y = double(i / size_t(row.w));
      r.Fill(x, y, x + 1, y + 1, {c[0], c[1], c[2]});
    }
    EXPECT_EQ(r.Indexed(), row.colourType == 3);
    const std::string png = r.Indexed() ? qm::EncodeIndexedPng(r.Indices(), r.Palette(), row.w, row.h)
                                        : qm::EncodeRgbPng(r.Rgb(), row.w, row.h);
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(uint8_t(png[25]), row.colourType);  // the IHDR's colour type
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(png.data()), int(png.size()), &w, &h, &n, 3);
    ASSERT_NE(data, nullptr) << stbi_failure_reason();
    ASSERT_EQ(w, row.w);
    ASSERT_EQ(h, row.h);
    size_t wrong = 0;
    for (size_t i = 0; i < pixels; ++i) {
      const auto c = colourOf(i);
      const qm::TRgb at = r.At(int(i % size_t(row.w)), int(i / size_t(row.w)));
      wrong += !std::equal(c.begin(), c.end(), data + i * 3) || at.R != c[0] || at.G != c[1] || at.B != c[2];
    }
    EXPECT_EQ(wrong, 0u);
    stbi_image_free(data);
  }
}

}  // namespace
