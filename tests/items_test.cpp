// The level's items through the tool's run flow, on built levels of every kind:
// /ShowEntities against the builder's item records, each item edit against the
// builder's file for the edited description, and the refusals with the file
// left alone.
#include <cmath>
#include <functional>

#include "item_levels.h"

using namespace qmtest;

namespace {

// Every field of every item in the JSON form, for every kind: the second
// field after the intensity is the second intensity in TR2/TR3 and the OCB
// in the TR4 family and TR5.
TEST_F(ItemsTest, ShowEntitiesGivesEveryFieldOfTheRecords) {
  for (int kind = 1; kind <= 8; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const BLevel L = ItemLevel(kind);
    const Json e = Entry({Put(L).string(), "/ShowEntities"});
    ASSERT_EQ(e["status"], 0);
    ASSERT_EQ(e["entities"].size(), 3u);
    const char* second = kind <= 2 ? nullptr : kind <= 5 ? "intensity2" : "ocb";
    for (size_t i = 0; i < 3; ++i) {
      const BItem& b = L.items[i];
      const Json& j = e["entities"][i];
      EXPECT_EQ(j["index"], i);
      EXPECT_EQ(j["type"], b.objectId);
      EXPECT_EQ(j["room"], b.room);
      EXPECT_EQ(j["x"], b.x);
      EXPECT_EQ(j["y"], b.y);
      EXPECT_EQ(j["z"], b.z);
      EXPECT_EQ(j["angle"], b.angle);
      EXPECT_DOUBLE_EQ(j["degrees"].get<double>(), std::round(b.angle * 3600.0 / 65536) / 10);
      EXPECT_EQ(j["intensity"], int16_t(b.intensity));
      if (second) {
        EXPECT_EQ(j[second], b.intensity2);
      }
      EXPECT_EQ(j.contains("intensity2") + j.contains("ocb"), second ? 1 : 0);
      EXPECT_EQ(j["flags"], b.flags);
      EXPECT_EQ(j["invisible"], (b.flags & 0x0100) != 0);
      EXPECT_EQ(j["clearBody"], (b.flags & 0x8000) != 0);
      EXPECT_EQ(j["activation"], (b.flags >> 9) & 31);
    }
    EXPECT_EQ(e["entities"][0]["name"], "Lara");
    EXPECT_EQ(e["entities"][1]["name"], "Small_medipack");
    EXPECT_TRUE(e["entities"][2]["name"].is_null());
    EXPECT_EQ(e["types"], Json::parse(R"([{"type":0,"name":"Lara","count":1},{"type":)" + std::to_string(Medipack[kind]) +
                                      R"(,"name":"Small_medipack","count":1},{"type":600,"name":null,"count":1}])"));
  }
}

// The text form of the three record forms, and the item range.
TEST_F(ItemsTest, ShowEntitiesTextHasAlignedColumnsAndTheCountPerType) {
  const struct {
    int kind;
    std::vector<std::string> range;
    std::vector<std::string> lines;
  } rows[] = {
      {1, {}, {"Index Type Name           Room          X           Y      Z Angle Intensity Flags Invisible ClearBody Activation Triggers",
               "    0    0 Lara              0       1536           0   5632  90.0        -1  0000        no        no      -----        0",
               "    1   93 Small_medipack    2      -5000        -300 -70000 360.0    -32768  FFFF       yes       yes      12345        0",
               "    2  600 600               1 2147483647 -2147483648     12 180.0         7  3F00       yes        no      12345        0",
               "", "Items by type:", "1 x   0 Lara", "1 x  93 Small_medipack", "1 x 600 600", "3 items of 3 types."}},
      {3, {"1", "1"}, {"Index Type Name           Room     X    Y      Z Angle Intensity Intensity2 Flags Invisible ClearBody Activation Triggers",
                       "    1  149 Small_medipack    2 -5000 -300 -70000 360.0    -32768     -32768  FFFF       yes       yes      12345        0",
                       "", "Items by type:", "1 x 149 Small_medipack", "1 item of 1 type."}},
      {6, {"2", "9"}, {"Index Type Name Room          X           Y  Z Angle Intensity   OCB Flags Invisible ClearBody Activation Triggers",
                       "    2  600 600     1 2147483647 -2147483648 12 180.0         7 32767  3F00       yes        no      12345        0",
                       "", "Items by type:", "1 x 600 600", "1 item of 1 type."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind));
    std::vector<std::string> args = {Put(ItemLevel(row.kind)).string(), "/ShowEntities"};
    args.insert(args.end(), row.range.begin(), row.range.end());
    std::vector<std::string> lines = {"Loading Level...", "Showing ENTITIES of this level:", ""};
    lines.insert(lines.end(), row.lines.begin(), row.lines.end());
    lines.push_back("Done.");
    EXPECT_EQ(Run(args), kBanner + Lines(lines));
  }
  // A level without items shows none; a range of such a level is refused.
  BLevel empty = ItemLevel(2);
  empty.items.clear();
  const std::string file = Put(empty).string();
  EXPECT_EQ(Run({"-q", file, "/ShowEntities"}), Lines({"Showing ENTITIES of this level:", "", "No items.", "Done."}));
  EXPECT_EQ(Run({"-q", file, "/ShowEntities", "0"}, 2), Lines({"This level has no items."}));
  EXPECT_EQ(Run({"-q", Put(ItemLevel(2)).string(), "/ShowEntities", "3"}, 2),
            Lines({"Item 3 is outside this level (items 0 to 2)."}));
}

// Each edit on every kind: the saved file is the builder's file for the
// description with the edited item (TR4-family chunks compared unpacked), so
// every byte the edit does not name stays.
TEST_F(ItemsTest, EveryEditChangesItsItemAndNothingElse) {
  for (int kind = 1; kind <= 8; ++kind) {
    const BLevel base = ItemLevel(kind);
    const int16_t noSecond = kind >= 3 && kind <= 5 ? -1 : 0;  // a new item's second intensity or OCB
    const struct {
      std::vector<std::string> args;
      const char* progress;
      std::function<void(std::vector<BItem>&)> edit;
    } rows[] = {
        {{"/MoveItem", "1", "2", std::to_string(CentreX(2, 1)), "-100", std::to_string(CentreZ(2)), "-90"},
         "Moving the item...",
         [](auto& it) { it[1].room = 2, it[1].x = CentreX(2, 1), it[1].y = -100, it[1].z = CentreZ(2), it[1].angle = 0xC000; }},
        {{"/MoveItem", "0", "1", std::to_string(CentreX(1, 3)), "1024", std::to_string(CentreZ(1)), "22.5"},
         "Moving the item...", [](auto& it) { it[0].room = 1, it[0].x = CentreX(1, 3), it[0].y = 1024, it[0].z = CentreZ(1), it[0].angle = 0x1000; }},
        {{"/MoveItem", "2", "0", std::to_string(CentreX(0, 2)), "-2048", std::to_string(CentreZ(2))},
         "Moving the item...", [](auto& it) { it[2].room = 0, it[2].x = CentreX(0, 2), it[2].y = -2048, it[2].z = CentreZ(2); }},
        {{"/SetItem", "2", "small medipack"}, "Changing the item type...", [kind](auto& it) { it[2].objectId = Medipack[kind]; }},
        {{"/SetItem", "1", "$10"}, "Changing the item type...", [](auto& it) { it[1].objectId = 16; }},
        {{"/ItemFlags", "1", "invisible=0"}, "Changing the item flags...", [](auto& it) { it[1].flags = 0xFEFF; }},
        {{"/ItemFlags", "0", "activation=21", "Clear_Body=1"}, "Changing the item flags...", [](auto& it) { it[0].flags = 0xAA00; }},
        {{"/ItemFlags", "2", "activation=0", "invisible=1"}, "Changing the item flags...", [](auto& it) { it[2].flags = 0x0100; }},
        {{"/AddItem", "Lara", "0", std::to_string(CentreX(0, 3)), "0", std::to_string(CentreZ(2)), "180"},
         "Adding an item...", [noSecond](auto& it) {
           it.push_back({.objectId = 0, .room = 0, .x = CentreX(0, 3), .y = 0, .z = CentreZ(2), .angle = 0x8000,
                         .intensity = 0xFFFF, .intensity2 = noSecond, .flags = 0});
         }},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE("kind " + std::to_string(kind) + " " + ::testing::PrintToString(row.args));
      const fs::path p = Put(base);
      std::vector<std::string> args = {"-q", p.string()};
      args.insert(args.end(), row.args.begin(), row.args.end());
      const std::string out = Run(args);
      EXPECT_EQ(out.substr(out.size() - 7), "Done.\r\n");
      BLevel after = base;
      row.edit(after.items);
      EXPECT_EQ(Diff(ReadBytes(p), Build(after), kind), "");
    }
    if (kind >= 6) {  // the OCB
      const fs::path p = Put(base);
      Run({"-q", p.string(), "/ItemFlags", "1", "ocb=-7"});
      BLevel after = base;
      after.items[1].intensity2 = -7;
      EXPECT_EQ(Diff(ReadBytes(p), Build(after), kind), "") << "kind " << kind;
    }
  }
}

// An added item is the last one: /ShowEntities shows it there and /Info counts it.
TEST_F(ItemsTest, AnAddedItemComesLast) {
  for (int kind = 1; kind <= 8; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const std::string file = Put(ItemLevel(kind)).string();
    Run({"-q", file, "/AddItem", "7", "1", std::to_string(CentreX(1, 1)), "512", std::to_string(CentreZ(2))});
    const Json last = Entry({file, "/ShowEntities", "3"})["entities"];
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0]["index"], 3);
    EXPECT_EQ(last[0]["type"], 7);
    EXPECT_EQ(last[0]["room"], 1);
    EXPECT_EQ(Entry({file, "/Info"})["report"]["items"], 4);
  }
}

// Refused edits: exit status 2, a one-line message (two for an unknown name
// or flag), and the file as it was.
TEST_F(ItemsTest, RefusedEditsLeaveTheFileAlone) {
  const std::string x1 = std::to_string(CentreX(1, 1)), z1 = std::to_string(CentreZ(1));
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> lines;  // after "Loading Level..." and the progress line, when the level was loaded
    bool loaded;
  } rows[] = {
      {{"/MoveItem", "0"}, {"Missing parameter"}, false},
      {{"/MoveItem", "x", "1", x1, "0", z1}, {"The item index must be a number."}, false},
      {{"/MoveItem", "0", "1", "9.5", "0", z1}, {"The x coordinate must be a number or a sector (12s)."}, false},
      {{"/MoveItem", "0", "1", x1, "0", z1, "north"}, {"The angle must be a number of degrees."}, false},
      {{"/MoveItem", "3", "1", x1, "0", z1}, {"Item 3 is outside this level (items 0 to 2)."}, true},
      {{"/MoveItem", "-1", "1", x1, "0", z1}, {"Item -1 is outside this level (items 0 to 2)."}, true},
      {{"/MoveItem", "0", "3", x1, "0", z1}, {"Room 3 is outside this level (rooms 0 to 2)."}, true},
      {{"/MoveItem", "0", "1", "8191", "0", z1}, {"The point (x 8191, z " + z1 + ") is outside the sectors of room 1 (x 8192 to 13311, z 4096 to 8191; sectors 8s to 12s, 4s to 7s)."}, true},
      {{"/MoveItem", "0", "1", x1, "0", "9216"}, {"The point (x " + x1 + ", z 9216) is outside the sectors of room 1 (x 8192 to 13311, z 4096 to 8191; sectors 8s to 12s, 4s to 7s)."}, true},
      {{"/MoveItem", "0", "1", "8192", "0", z1}, {"The point (x 8192, z " + z1 + ") lies in a wall sector of room 1 (sector 0, 1)."}, true},
      {{"/MoveItem", "0", "1", std::to_string(CentreX(1, 2)), "0", z1},
       {"The point (x " + std::to_string(CentreX(1, 2)) + ", z " + z1 + ") lies in a wall sector of room 1 (sector 2, 1)."}, true},
      {{"/AddItem", "0", "2", x1, "0", z1}, {"The point (x " + x1 + ", z " + z1 + ") is outside the sectors of room 2 (x -16384 to -11265, z 4096 to 8191; sectors -16s to -12s, 4s to 7s)."}, true},
      {{"/SetItem", "0"}, {"Missing parameter"}, false},
      {{"/SetItem", "0", "Medipack"},
       {"Unknown object type Medipack in TR2 levels.",
        "the nearest names: Small_medipack, Large_medipack, Small_medipack_inventory, Large_medipack_inventory"}, true},
      {{"/SetItem", "0", "small medipak"},
       {"Unknown object type small medipak in TR2 levels.", "the nearest names: Small_medipack"}, true},
      {{"/AddItem", "Medikit", "1", x1, "0", z1},
       {"Unknown object type Medikit in TR2 levels.",
        "a type is a number or a name /ShowTypes lists (Small_medipack, \"small medipack\")"}, true},
      {{"/SetItem", "0", "265"}, {"Object type 265 is outside the TR2 object types (0 to 264)."}, true},
      {{"/AddItem", "-1", "1", x1, "0", z1}, {"Object type -1 is outside the TR2 object types (0 to 264)."}, true},
      {{"/ItemFlags", "0"}, {"Missing parameter"}, false},
      {{"/ItemFlags", "0", "activation=32"}, {"activation takes 0 to 31."}, false},
      {{"/ItemFlags", "0", "invisible=2"}, {"invisible and clearbody take 0 or 1."}, false},
      {{"/ItemFlags", "0", "hidden=1"},
       {"Unknown item flag.", "the item flags are invisible=0|1, clearbody=0|1, activation=0-31 and ocb=N (TR4, TR5)"}, false},
      {{"/ItemFlags", "0", "ocb=5"}, {"The OCB is in TR4 and TR5 levels only."}, true},
  };
  const char* progress[] = {"Moving the item...", "Changing the item type...", "Changing the item flags...",
                            "Adding an item..."};
  const fs::path p = Put(ItemLevel(3));
  const Bytes before = ReadBytes(p);
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    std::vector<std::string> args = {p.string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    std::vector<std::string> lines;
    if (row.loaded) {
      const std::string sw = row.args[0];
      lines = {"Loading Level...", progress[sw == "/MoveItem" ? 0 : sw == "/SetItem" ? 1 : sw == "/ItemFlags" ? 2 : 3]};
    }
    lines.insert(lines.end(), row.lines.begin(), row.lines.end());
    EXPECT_EQ(Run(args, 2), kBanner + Lines(lines));
    EXPECT_EQ(ReadBytes(p), before);
  }
}

// A level holding the engine's 256 items takes no more.
TEST_F(ItemsTest, NoItemBeyondTheGamesLimit) {
  for (int kind : {1, 6, 8}) {
    BLevel L = ItemLevel(kind);
    L.items.resize(256, L.items[0]);
    const fs::path p = Put(L);
    const Bytes before = ReadBytes(p);
    const std::string game = kind == 1 ? "TR1" : kind == 6 ? "TR4" : "TR5";
    EXPECT_EQ(Run({"-q", p.string(), "/AddItem", "0", "1", std::to_string(CentreX(1, 1)), "0", std::to_string(CentreZ(1))}, 2),
              Lines({"This level has 256 items, as many as " + game + " levels can hold."}));
    EXPECT_EQ(ReadBytes(p), before);
  }
}

// The item's fields before and after, the notes, and a dry run that saves
// nothing, in text and JSON.
TEST_F(ItemsTest, AnEditShowsTheItemBeforeAndAfter) {
  const fs::path p = Put(ItemLevel(3));
  const Bytes before = ReadBytes(p);
  const std::string x = std::to_string(CentreX(1, 1)), z = std::to_string(CentreZ(2));
  const std::string old = "type 0 Lara, room 0, x 1536, y 0, z 5632, angle 90.0, intensity -1, intensity2 -1, flags 0x0000 "
                          "(invisible no, clear body no, activation -----)";
  EXPECT_EQ(Run({"-n", p.string(), "/MoveItem", "0", "1", x, "2000", z}),
            kBanner + Lines({"Loading Level...", "Moving the item...", "Item 0 before: " + old,
                             "Item 0 after:  type 0 Lara, room 1, x " + x + ", y 2000, z " + z +
                                 ", angle 90.0, intensity -1, intensity2 -1, flags 0x0000 (invisible no, clear body no, "
                                 "activation -----)",
                             "Note: The point lies below the floor of its sector (y 2000, floor 1024).",
                             "The item would change; nothing was saved."}));
  const Json changes = Entry({"-n", p.string(), "/SetItem", "0", "Tiger"})["changes"];
  EXPECT_EQ(changes["items"][0]["before"]["type"], 0);
  EXPECT_EQ(changes["items"][0]["after"]["type"], 39);
  EXPECT_EQ(changes["items"][0]["after"]["name"], "Tiger");
  EXPECT_EQ(changes["notes"], Json::array({"This level holds no model or sprite of object type 39 (Tiger)."}));
  EXPECT_EQ(changes["saved"], false);
  EXPECT_EQ(ReadBytes(p), before);

  // Saved: the same lines, then the save; JSON names the file written.
  EXPECT_EQ(Run({"-q", p.string(), "/MoveItem", "0", "1", x, "-3000", z}),
            Lines({"Item 0 before: " + old,
                   "Item 0 after:  type 0 Lara, room 1, x " + x + ", y -3000, z " + z +
                       ", angle 90.0, intensity -1, intensity2 -1, flags 0x0000 (invisible no, clear body no, "
                       "activation -----)",
                   "Note: The point lies above the ceiling of its sector (y -3000, ceiling -2048).", "Done."}));
  const Json added = Entry({p.string(), "/AddItem", "Tiger", "1", x, "0", z});
  EXPECT_TRUE(added["changes"]["items"][0]["before"].is_null());
  EXPECT_EQ(added["changes"]["items"][0]["index"], 3);
  EXPECT_FALSE(added["changes"].contains("saved"));
  EXPECT_EQ(added["saved"], p.string());
}

}  // namespace
