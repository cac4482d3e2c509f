// The items of real levels, on the map, and the name tables.
#include <pugixml.hpp>

#include <map>

#include "item_levels.h"
#include "map_support.h"
#include "itemnames.h"
#include "trlevel.h"

using namespace qmtest;

namespace {

// The real levels: every item in a room of its level, and the player and the
// common pick-ups named.
TEST_F(ItemsTest, RealLevelsNameTheirItems) {
  const fs::path shared = QM_SHARED_LEVELS;
  if (!fs::exists(shared)) GTEST_SKIP() << "no real levels at " << shared;
  const struct {
    const char* file;
    std::map<int, std::string> names;  // item index -> name
  } rows[] = {
      {"tr1/TEST1.PHD", {{0, "Lara"}, {2, "Magnums"}, {3, "Uzi_ammo"}, {10, "Key_1"}, {12, "Wolf"}}},
      {"tr2/TEST1.TR2", {{0, "Lara"}, {2, "Automags"}, {3, "Uzis"}, {1, "Tiger"}}},
      {"tr3/TEST1.TR2", {{0, "Lara"}, {1, "Mp5"}, {2, "Large_medipack"}}},
      {"tr4/TEST1.TR4", {{0, "Lara"}, {3, "Uzis"}, {1, "Dog"}}},
      {"trng/title.tr4", {{0, "Lara"}, {2, "Door_type_1"}}},
      {"tr5/TEST1.TRC", {{0, "Lara"}, {1, "Key_item_7"}, {3, "Flares"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const std::string file = (shared / row.file).string();
    const Json items = Entry({file, "/ShowEntities"})["entities"];
    const int rooms = Entry({file, "/Info"})["report"]["rooms"];
    ASSERT_FALSE(items.empty());
    for (const Json& it : items) {
      EXPECT_GE(it["room"].get<int>(), 0);
      EXPECT_LT(it["room"].get<int>(), rooms);
    }
    for (const auto& [index, name] : row.names) EXPECT_EQ(items.at(size_t(index))["name"], name) << "item " << index;
  }
}

// On the map each item of the drawn rooms is a mark at its x and z, shaped by
// its kind, with its index, name and height in its title; an item outside its
// storey's rooms is named in a note instead, and never widens the frame;
// --no-items, or a level without items, gives the map without marks or their
// legend.
TEST_F(ItemsTest, TheMapMarksTheItemsOfItsRooms) {
  BLevel L = ItemLevel(6);
  L.items[1].x = CentreX(2, 3), L.items[1].z = CentreZ(1);  // inside room 2
  L.items[2].x = CentreX(1, 1), L.items[2].z = INT32_MIN;  // far outside the rooms: named, not drawn
  const fs::path level = Put(L), map = dir_ / "map.svg";
  const auto draw = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"-q", level.string(), "/Map", map.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    Run(args);
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(map.c_str()));
    return doc;
  };
  const struct {
    const char* element;
    const char* kind;
    size_t item;
    std::string title;
  } marks[] = {
      {"circle", "item player", 0, "Item 0: Lara (type 0), room 0, height 0"},
      {"polygon", "item pickup", 1, "Item 1: Small_medipack (type 369), room 2, height -300"},
  };
  // The marks of every storey panel, each in the panel of its room, in the
  // panel's frame; in item order.
  const auto marksOf = [](const pugi::xml_document& doc) {
    std::map<int, pugi::xml_node> byItem;
    for (const pugi::xml_node& panel : StoreyPanels(doc)) {
      const pugi::xml_node group = panel.find_child_by_attribute("g", "class", "items");
      if (!group) continue;
      EXPECT_STREQ(group.attribute("transform").value(),
                   panel.find_child_by_attribute("g", "class", "rooms").attribute("transform").value());
      for (pugi::xml_node mark : group.children()) {
        const std::string room = mark.attribute("data-room").value();
        EXPECT_TRUE(panel.find_child_by_attribute("g", "class", "rooms").find_child_by_attribute("g", "data-room", room.c_str()))
            << "room " << room << " is not in the mark's panel";
        byItem[std::stoi(std::string(mark.child_value("title")).substr(5))] = mark;
      }
    }
    std::vector<pugi::xml_node> list;
    for (const auto& [item, mark] : byItem) list.push_back(mark);
    return list;
  };
  pugi::xml_document doc = draw({});
  size_t n = 0;
  for (pugi::xml_node mark : marksOf(doc)) {
    ASSERT_LT(n, std::size(marks));
    const auto& want = marks[n];
    SCOPED_TRACE(want.title);
    EXPECT_EQ(std::string(mark.name()), want.element);
    EXPECT_EQ(std::string(mark.attribute("class").value()), want.kind);
    EXPECT_EQ(std::string(mark.child_value("title")), want.title);
    // The mark's centre, in sectors: x right, z up.
    double cx = 0, cy = 0;
    if (n == 0) {
      cx = mark.attribute("cx").as_double(), cy = mark.attribute("cy").as_double();
    } else if (n == 1) {
      double px[4], py[4];
      ASSERT_EQ(std::sscanf(mark.attribute("points").value(), "%lf,%lf %lf,%lf %lf,%lf %lf,%lf", &px[0], &py[0], &px[1],
                            &py[1], &px[2], &py[2], &px[3], &py[3]), 8);
      cx = (px[0] + px[1] + px[2] + px[3]) / 4, cy = (py[0] + py[1] + py[2] + py[3]) / 4;
    } else {
      cx = mark.attribute("x").as_double() + mark.attribute("width").as_double() / 2;
      cy = mark.attribute("y").as_double() + mark.attribute("height").as_double() / 2;
    }
    EXPECT_NEAR(cx, L.items[want.item].x / 1024.0, 0.001);
    EXPECT_NEAR(cy, -double(L.items[want.item].z) / 1024, 0.001);
    ++n;
  }
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(doc.child("svg").find_child_by_attribute("g", "id", "item-legend"));
  std::vector<std::string> notes;
  for (pugi::xml_node t : doc.child("svg").children("text"))
    if (std::string(t.attribute("class").value()) == "note") notes.push_back(t.child_value());
  EXPECT_EQ(notes, std::vector<std::string>{"Items outside the rooms, not drawn: 2"});
  EXPECT_LT(doc.child("svg").attribute("height").as_double(), 1000) << "the far item left the frame as it was";

  // Rooms 1 to 2 hold items 1 and 2 only.
  doc = draw({"1", "2"});
  EXPECT_EQ(marksOf(doc).size(), 1u);

  // Without items: the same picture whichever way.
  draw({"--no-items"});
  const Bytes withoutMarks = ReadBytes(map);
  BLevel none = L;
  none.items.clear();
  WriteBytes(level, Build(none));
  draw({});
  EXPECT_EQ(ReadBytes(map), withoutMarks);
  const std::string svg(withoutMarks.begin(), withoutMarks.end());
  EXPECT_EQ(svg.find("class=\"items\""), std::string::npos);
  EXPECT_EQ(svg.find("item-legend"), std::string::npos);
}


// The tables against ids the format documentation gives: first, inner and
// last names of each game (a shifted entry moves every later id), an id it
// leaves unnamed, and names matched in any case with blanks or underscores.
TEST(ItemNames, TablesHoldTheDocumentedIds) {
  const struct {
    int32_t version;
    int32_t count;
    std::vector<std::pair<int32_t, const char*>> names;
  } rows[] = {
      {qm::KindTR1, 191, {{0, "Lara"}, {7, "Wolf"}, {93, "Small_medipack"}, {129, "Key_1"}, {184, nullptr}, {190, "Font_graphics"}}},
      {qm::KindTUB, 191, {{93, "Small_medipack"}, {190, "Font_graphics"}}},
      {qm::KindTR2, 265, {{15, "Doberman"}, {149, "Small_medipack"}, {214, "T_rex"}, {264, "Dragon_explosion_emitter"}}},
      {qm::KindTRG, 265, {{149, "Small_medipack"}}},
      {qm::KindTR3, 374, {{176, "Small_medipack"}, {240, "Infada_stone"}, {373, "Electrical_switch_box"}}},
      {qm::KindTR4, 465, {{202, "Puzzle_item_8_combo_2"}, {369, "Small_medipack"}, {373, "Flares"}, {458, "Animating_16_mip"}, {464, "Misc_sprites"}}},
      {qm::KindTRC, 460, {{350, "Small_medipack"}}},
      {qm::KindTR5, 460, {{299, "Door_type_8_mip"}, {350, "Small_medipack"}, {459, "Misc_sprites"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.version));
    EXPECT_EQ(qm::ItemTypeCount(row.version), row.count);
    EXPECT_EQ(qm::ItemTypeName(row.version, row.count), nullptr);
    EXPECT_EQ(qm::ItemTypeName(row.version, -1), nullptr);
    for (const auto& [id, name] : row.names) {
      EXPECT_EQ(qm::ItemTypeName(row.version, id) ? std::string(qm::ItemTypeName(row.version, id)) : "", name ? name : "");
      if (name) {
        EXPECT_EQ(qm::ItemTypeByName(row.version, name), id);
      }
    }
    for (const char* spelling : {"small medipack", "SMALL_MEDIPACK", "Small Medipack"})
      EXPECT_EQ(qm::ItemTypeByName(row.version, spelling), qm::ItemTypeByName(row.version, "Small_medipack"));
    for (const char* unknown : {"", "medipack", "Small_medipack_", "Smallmedipack"})
      EXPECT_EQ(qm::ItemTypeByName(row.version, unknown), std::nullopt) << unknown;
  }
}

}  // namespace
