// The floor data and its triggers through the tool's run flow, on levels whose
// floor data the test builder wrote: /ShowTriggers in both forms on every
// kind, damaged floor data reported at its place, the trigger column of
// /ShowEntities, and /RemoveItem against the builder's file for the level
// with the item gone and the triggers renumbered.
#include "trigger_levels.h"

using namespace qmtest;

namespace {

class TriggersTest : public ItemsTest {};

Json Action(const char* name, const char* key, int value) { return Json{{"action", name}, {key, value}}; }
Json ItemAction(const char* name, int item, const Json& itemName) {
  return Json{{"action", name}, {"item", item}, {"name", itemName}};
}

// Every field of every trigger in the JSON form, on every kind: the shared
// floor data listed under both of its sectors, the camera's second word, the
// names of the items the actions name, the slope, kill and portal entries
// read past without a trigger.
TEST_F(TriggersTest, ShowTriggersGivesEveryTriggerOfEveryKind) {
  for (int kind = 1; kind <= 8; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const Json e = Entry({Put(TriggerLevel(kind)).string(), "/ShowTriggers"});
    ASSERT_EQ(e["status"], 0);
    const Json pad = {ItemAction("Object", 4, "Small_medipack"),
                      {{"action", "Camera"}, {"camera", 0}, {"time", 3}, {"once", false}, {"moveTime", 1}},
                      Action("Secret", "secret", 1)};
    const auto padAt = [&](int row) {
      return Json{{"room", 0}, {"column", 1}, {"row", row}, {"x", 1024}, {"z", RoomZ + 1024 * row}, {"type", "Pad"},
                  {"timer", 5}, {"once", true}, {"mask", 31}, {"actions", pad}};
    };
    const Json sw = {{"room", 1}, {"column", 3}, {"row", 2}, {"x", RoomX[1] + 3072}, {"z", RoomZ + 2048},
                     {"type", "Switch"}, {"timer", 0}, {"once", false}, {"mask", 3},
                     {"actions", {ItemAction("Object", 2, nullptr), ItemAction("Object", 3, "Small_medipack"),
                                  ItemAction("LookAt", 4, "Small_medipack"), Action("FlipMap", "flipMap", 1),
                                  Action("EndLevel", "level", 0)}}};
    EXPECT_EQ(e["triggers"], Json::array({padAt(1), padAt(2), sw}));
    EXPECT_EQ(e["triggerTypes"], Json::parse(R"([{"type":"Pad","count":2},{"type":"Switch","count":1}])"));
    EXPECT_EQ(e["untriggeredItems"], Json::parse("[0, 1]"));
    EXPECT_EQ(e["floorDataDamage"], Json::array());
  }
}

// The text form, and a range of rooms.
TEST_F(TriggersTest, ShowTriggersTextHasABlockPerRoom) {
  const std::string file = Put(TriggerLevel(3)).string();
  EXPECT_EQ(Run({"-q", file, "/ShowTriggers"}),
            Lines({"Showing TRIGGERS of this level:", "", "Room 0:",
                   "  Sector 1,1 (x 1024, z 5120): Pad, timer 5, once yes, mask 12345: Object 4 Small_medipack, "
                   "Camera 0, Secret 1",
                   "  Sector 1,2 (x 1024, z 6144): Pad, timer 5, once yes, mask 12345: Object 4 Small_medipack, "
                   "Camera 0, Secret 1",
                   "Room 1:",
                   "  Sector 3,2 (x 11264, z 6144): Switch, timer 0, once no, mask 12---: Object 2 600, Object 3 "
                   "Small_medipack, LookAt 4 Small_medipack, FlipMap 1, EndLevel 0",
                   "Room 2: no triggers.", "", "Triggers by type:", "2 x Pad", "1 x Switch",
                   "Items no trigger names: 0, 1.", "3 triggers in 3 rooms.", "Done."}));
  EXPECT_EQ(Run({"-q", file, "/ShowTriggers", "2"}),
            Lines({"Showing TRIGGERS of this level:", "", "Room 2: no triggers.", "", "Triggers by type:",
                   "Items no trigger names: 0, 1.", "0 triggers in 1 room.", "Done."}));
}

// Damaged floor data is reported at its sector and never read past; a removal
// that could not find every trigger is refused and the file left alone. The
// same entries are whole in a game that has their function.
TEST_F(TriggersTest, DamagedFloorDataIsReportedAtItsPlace) {
  const struct {
    int kind;
    std::function<void(BLevel&)> damage;
    const char* message;  // "" for no damage
  } rows[] = {
      {2, [](BLevel& L) { SetFloorIndex(SectorAt(L, 0, 2, 2), uint16_t(L.floorData.size() + 5)); },
       "the floor data index 24 is outside the floor data (19 words)"},
      {6, [](BLevel& L) { SetFloorIndex(SectorAt(L, 0, 2, 2), AppendFloor(L.floorData, {FloorEntry(5), FloorEntry(2, {7})}, false)); },
       "the entries from word 19 run past the end of the floor data without an end bit"},
      {8, [](BLevel& L) {
         SetFloorIndex(SectorAt(L, 0, 2, 2), AppendFloor(L.floorData, {TriggerEntry(0, 0, false, 31, {{0, 1, {}}}, false)}));
       }, "the Trigger entry at word 19 runs past the end of the floor data"},
      {1, [](BLevel& L) { SetFloorIndex(SectorAt(L, 0, 2, 2), AppendFloor(L.floorData, {FloorEntry(7, {0x1234})})); },
       "unknown floor data function 7 at word 19"},
      {5, [](BLevel& L) { SetFloorIndex(SectorAt(L, 0, 2, 2), AppendFloor(L.floorData, {FloorEntry(7, {0x1234})})); }, ""},
      {3, [](BLevel& L) { SetFloorIndex(SectorAt(L, 0, 2, 2), AppendFloor(L.floorData, {FloorEntry(19)})); },
       "unknown floor data function 19 at word 19"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("kind ") + std::to_string(row.kind) + ": " + row.message);
    BLevel L = TriggerLevel(row.kind);
    ASSERT_EQ(L.floorData.size(), 19u);
    row.damage(L);
    const fs::path file = Put(L);
    const Json e = Entry({file.string(), "/ShowTriggers"});
    EXPECT_EQ(e["status"], 0);
    EXPECT_EQ(e["triggers"].size(), 3u);
    if (*row.message == 0) {
      EXPECT_EQ(e["floorDataDamage"], Json::array());
      continue;
    }
    EXPECT_EQ(e["floorDataDamage"], Json::array({{{"room", 0}, {"column", 2}, {"row", 2}, {"x", 2048},
                                                  {"z", RoomZ + 2048}, {"message", row.message}}}));
    const Bytes before = ReadBytes(file);
    EXPECT_EQ(Run({"-q", file.string(), "/RemoveItem", "1"}, 2),
              Lines({std::string("The floor data of room 0 sector 2,2 is damaged (") + row.message +
                     "); the triggers cannot all be renumbered."}));
    EXPECT_EQ(ReadBytes(file), before);
  }
}

// /ShowEntities counts the sectors whose triggers name each item, and lists them.
TEST_F(TriggersTest, ShowEntitiesCountsTheTriggersOfEachItem) {
  const std::string file = Put(TriggerLevel(1)).string();
  const Json e = Entry({file, "/ShowEntities"});
  const Json none = Json::array();
  EXPECT_EQ(e["entities"][0]["triggers"], none);
  EXPECT_EQ(e["entities"][1]["triggers"], none);
  EXPECT_EQ(e["entities"][2]["triggers"], Json::parse(R"([{"room":1,"column":3,"row":2}])"));
  EXPECT_EQ(e["entities"][4]["triggers"],
            Json::parse(R"([{"room":0,"column":1,"row":1},{"room":0,"column":1,"row":2},{"room":1,"column":3,"row":2}])"));
  const std::vector<std::string> lines = SplitLines(Run({"-q", file, "/ShowEntities", "3", "4"}));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2].substr(lines[2].size() - 8), "Triggers");
  EXPECT_EQ(lines[3].back(), '1');
  EXPECT_EQ(lines[4].back(), '3');
}

// /RemoveItem on every kind: the saved file is the builder's file for the
// level without the item and with every trigger naming a later item one lower.
TEST_F(TriggersTest, RemoveItemRenumbersEveryTriggerAndKeepsEveryOtherByte) {
  for (int kind = 1; kind <= 8; ++kind) {
    for (int removed : {0, 1}) {
      SCOPED_TRACE("kind " + std::to_string(kind) + ", item " + std::to_string(removed));
      const BLevel base = TriggerLevel(kind);
      const fs::path file = Put(base);
      const std::string out = RunOn(file, {"/RemoveItem", std::to_string(removed)});
      const std::vector<std::string> lines = SplitLines(out);
      ASSERT_EQ(lines.size(), 6u) << out;
      EXPECT_EQ(lines[1], "Removing the item...");
      EXPECT_EQ(lines[2].substr(0, 16), "Item " + std::to_string(removed) + " removed: ");
      EXPECT_EQ(lines[3], "Trigger actions renumbered: 4.");
      EXPECT_EQ(lines[5], "Done.");
      BLevel expected = base;
      expected.items.erase(expected.items.begin() + removed);
      PutTriggers(expected, removed);
      EXPECT_EQ(Diff(ReadBytes(file), Build(expected), kind), "");
    }
  }
}

// A removal is refused while a trigger names the item; the file stays as it was.
TEST_F(TriggersTest, RemoveItemIsRefusedWhileATriggerNamesIt) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } rows[] = {
      {{"/RemoveItem", "4"},
       {"Item 4 is named by 3 triggers: room 0 sector 1,1 (Pad), room 0 sector 1,2 (Pad), room 1 sector 3,2 (Switch).",
        "to keep the triggers as they are, hide the item instead: /ItemFlags 4 invisible=1"}},
      {{"/RemoveItem", "2"},
       {"Item 2 is named by 1 trigger: room 1 sector 3,2 (Switch).",
        "to keep the triggers as they are, hide the item instead: /ItemFlags 2 invisible=1"}},
      {{"/RemoveItem", "5"}, {"Item 5 is outside this level (items 0 to 4)."}},
      {{"/RemoveItem", "x"}, {"The item index must be a number."}},
  };
  const fs::path file = Put(TriggerLevel(4));
  const Bytes before = ReadBytes(file);
  for (const auto& row : rows) {
    std::vector<std::string> args = {"-q", file.string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(Run(args, 2), Lines(row.lines));
    EXPECT_EQ(ReadBytes(file), before);
  }
}

// A dry run says what would be removed and writes nothing; the JSON form has
// the item before, none after, and the count of renumbered actions.
TEST_F(TriggersTest, RemoveItemDryRunAndJson) {
  const fs::path file = Put(TriggerLevel(6));
  const Bytes before = ReadBytes(file);
  const std::vector<std::string> lines = SplitLines(Run({"-q", "--dry-run", file.string(), "/RemoveItem", "1"}));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "The item would be removed; nothing was saved.");
  EXPECT_EQ(ReadBytes(file), before);
  const Json e = Entry({file.string(), "/RemoveItem", "0"});
  EXPECT_EQ(e["changes"]["items"][0]["index"], 0);
  EXPECT_EQ(e["changes"]["items"][0]["before"]["name"], "Lara");
  EXPECT_TRUE(e["changes"]["items"][0]["after"].is_null());
  EXPECT_EQ(e["changes"]["renumbered"], 4);
  EXPECT_EQ(Entry({file.string(), "/ShowEntities"})["entities"].size(), 4u);
}

}  // namespace
