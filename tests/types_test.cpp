// /ShowTypes: the game's object types through the run flow, in both forms,
// with the level's models marked; and every name it lists is the name
// /AddItem and /SetItem take for that same id.
#include "item_levels.h"
#include "itemnames.h"

using namespace qmtest;

namespace {

class TypesTest : public ItemsTest {};

// A TR2 level whose only models are a small medipack (a moveable) and the
// large medipack's inventory picture (a sprite).
BLevel ModelLevel() {
  BLevel L = ItemLevel(3);
  const auto put = [](auto& rec, uint32_t id) {
    for (int k = 0; k < 4; ++k) rec[size_t(k)] = uint8_t(id >> (8 * k));
  };
  for (auto& m : L.moveables) put(m, 9999);
  for (auto& s : L.spriteSequences) put(s, 9999);
  put(L.moveables[0], 149);
  put(L.spriteSequences[0], 172);
  return L;
}

TEST_F(TypesTest, ShowTypesListsTheNamesHoldingThePart) {
  const std::string file = Put(ModelLevel()).string();
  const struct {
    std::string part;
    std::vector<std::string> lines;  // after the heading and its empty line
  } rows[] = {
      {"medipack",
       {"Type Name                     Model", " 149 Small_medipack           yes", " 150 Large_medipack           no",
        " 171 Small_medipack_inventory no", " 172 Large_medipack_inventory yes", "",
        "4 types whose name holds \"medipack\", 2 with a model or sprite in this level."}},
      // Any letter case, a blank for an underscore.
      {"SMALL medi",
       {"Type Name                     Model", " 149 Small_medipack           yes", " 171 Small_medipack_inventory no", "",
        "2 types whose name holds \"SMALL medi\", 1 with a model or sprite in this level."}},
      {"lara_ponytail", {"Type Name          Model", "   2 Lara_ponytail no", "",
                         "1 type whose name holds \"lara_ponytail\", 0 with a model or sprite in this level."}},
      {"zzz", {"No object type of TR2 levels has a name holding \"zzz\"."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.part);
    std::vector<std::string> lines = {"Showing OBJECT TYPES of TR2 levels:", ""};
    lines.insert(lines.end(), row.lines.begin(), row.lines.end());
    lines.push_back("Done.");
    EXPECT_EQ(Run({"-q", file, "/ShowTypes", row.part}), Lines(lines));
  }
}

// Without a part, every named id of the kind's game, in id order; the JSON
// form gives the game and each type's name and model.
TEST_F(TypesTest, ShowTypesGivesTheWholeTableOfTheKindsGame) {
  const struct {
    int kind;
    const char* game;
    int types;  // ids of the game's table
  } rows[] = {{1, "TR1", 191}, {2, "TR1", 191}, {3, "TR2", 265}, {4, "TR2", 265}, {5, "TR3", 374},
              {6, "TR4", 465}, {7, "TR5", 460}, {8, "TR5", 460}};
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind));
    const Json e = Entry({Put(ItemLevel(row.kind)).string(), "/ShowTypes"});
    ASSERT_EQ(e["status"], 0);
    EXPECT_EQ(e["game"], row.game);
    const Json& types = e["objectTypes"];
    ASSERT_GT(types.size(), size_t(row.types) * 9 / 10);  // a few ids have no name
    int last = -1;
    for (const Json& t : types) {
      EXPECT_GT(t["type"].get<int>(), last);
      last = t["type"].get<int>();
      EXPECT_TRUE(t["model"].is_boolean());
    }
    EXPECT_LT(last, row.types);
    EXPECT_EQ(types[0], Json::parse(R"({"type": 0, "name": "Lara", "model": false})"));
  }
}

// A name the listing shows stands for its own id when typed back: no two ids
// of a game share a name.
TEST(TypeNames, EveryListedNameIsTakenForItsOwnId) {
  for (int32_t version : {qm::KindTR1, qm::KindTR2, qm::KindTR3, qm::KindTR4, qm::KindTR5}) {
    SCOPED_TRACE(qm::ItemGameName(version));
    for (int32_t type : qm::NamedTypes(version)) {
      const std::string name = qm::ItemTypeName(version, type);
      EXPECT_EQ(qm::ItemTypeByName(version, name), type) << name;
    }
  }
}

}  // namespace
