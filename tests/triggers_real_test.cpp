// The triggers of the real levels: /ShowTriggers against a reading of their
// floor data written here from the format description, and /RemoveItem of an
// item no trigger names, after which every trigger names the same items.
// Skipped when the shared level folder is absent.
#include <map>

#include "trlevel.h"

#include "item_levels.h"

using namespace qmtest;

namespace {

struct RealTriggers {
  const char* path;
  int kind;
};
const RealTriggers kLevels[] = {{"tr1/TEST1.PHD", 1}, {"tr2/TEST1.TR2", 3},    {"tr3/TEST1.TR2", 5},
                                {"tr4/TEST1.TR4", 6}, {"trng/title.tr4", 6},   {"tr5/TEST1.TRC", 8},
                                {"tr2-large/OPERA.TR2", 3}};

const char* const kTypeNames[] = {"Trigger", "Pad",         "Switch",           "Key",    "Pickup",   "HeavyTrigger",
                                  "Antipad", "Combat",      "Dummy",            "Antitrigger", "HeavySwitch",
                                  "HeavyAntitrigger", "Monkey", "Skeleton", "Tightrope", "Crawl", "Climb"};

// The format description's reading: each sector's entries from its index, a
// setup word and the words its function takes, until the end bit; a
// trigger's actions until the bit 15 of an action (or of a camera's or
// flyby's second word). Counts the triggers per type name and the item
// indices of the object and look-at actions.
struct Reading {
  std::map<std::string, int> types;
  std::vector<int> items;
  int triggers = 0;
};

Reading ReadFloor(const qm::Ttrlevel& L, int kind) {
  Reading out;
  const auto& fd = L.FloorData;
  for (const qm::RoomRecord& room : L.Rooms)
    for (const auto& sector : room.Sectors) {
      size_t at = size_t(sector[0] | sector[1] << 8);
      if (at == 0) continue;
      for (bool end = false; !end;) {
        const uint16_t setup = fd.at(at++);
        end = (setup & 0x8000) != 0;
        const int function = setup & 0x1F;
        if (function != 4) {
          at += (function <= 3 || (function >= 7 && function <= 18)) ? 1 : 0;
          continue;
        }
        ++out.triggers;
        ++out.types[kTypeNames[(setup >> 8) & 0x7F]];
        ++at;  // the trigger word
        for (bool last = false; !last;) {
          const uint16_t action = fd.at(at++);
          const int type = (action >> 10) & 0x1F;
          last = (action & 0x8000) != 0;
          if (type == 0 || type == 6) out.items.push_back(action & 0x3FF);
          if (type == 1 || (type == 12 && kind >= 6)) last = (fd.at(at++) & 0x8000) != 0;
        }
      }
    }
  return out;
}

class RealTriggersTest : public ItemsTest, public ::testing::WithParamInterface<RealTriggers> {
protected:
  void SetUp() override {
    if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  }
};

TEST_P(RealTriggersTest, ShowTriggersAgreesWithTheFormatAndRemovalKeepsEveryTrigger) {
  const fs::path source = fs::path(QM_SHARED_LEVELS) / GetParam().path;
  qm::Ttrlevel L;
  ASSERT_EQ(L.LoadLevel(source.string()), 0);
  const Reading reading = ReadFloor(L, GetParam().kind);

  const Json e = Entry({source.string(), "/ShowTriggers"});
  ASSERT_EQ(e["status"], 0);
  EXPECT_EQ(e["floorDataDamage"], Json::array());
  EXPECT_EQ(int(e["triggers"].size()), reading.triggers);
  std::map<std::string, int> types;
  for (const Json& t : e["triggerTypes"]) types[t["type"].get<std::string>()] = t["count"].get<int>();
  EXPECT_EQ(types, reading.types);
  std::vector<int> items;
  for (const Json& t : e["triggers"])
    for (const Json& a : t["actions"])
      if (a.contains("item")) items.push_back(a["item"].get<int>());
  // Sectors may share floor data: the test's reading lists each sector's actions too.
  EXPECT_EQ(items, reading.items);
  for (int item : items) EXPECT_LT(item, L.ItemCount);

  // Remove an item no trigger names: every trigger keeps its sector and the
  // type and name of each item it names.
  ASSERT_FALSE(e["untriggeredItems"].empty());
  const int removed = e["untriggeredItems"].back().get<int>();
  const fs::path copy = dir_ / source.filename();
  Run({"-q", "-o", copy.string(), source.string(), "/RemoveItem", std::to_string(removed)});
  const Json after = Entry({copy.string(), "/ShowTriggers"});
  ASSERT_EQ(after["triggers"].size(), e["triggers"].size());
  for (size_t k = 0; k < e["triggers"].size(); ++k) {
    Json expected = e["triggers"][k];
    for (Json& a : expected["actions"])
      if (a.contains("item") && a["item"].get<int>() > removed) a["item"] = a["item"].get<int>() - 1;
    EXPECT_EQ(after["triggers"][k], expected);
  }
  const Json before = Entry({source.string(), "/ShowEntities"}), now = Entry({copy.string(), "/ShowEntities"});
  ASSERT_EQ(now["entities"].size() + 1, before["entities"].size());
  for (size_t i = 0; i < now["entities"].size(); ++i) {
    const Json& was = before["entities"][i < size_t(removed) ? i : i + 1];
    EXPECT_EQ(now["entities"][i]["type"], was["type"]);
    EXPECT_EQ(now["entities"][i]["x"], was["x"]);
    EXPECT_EQ(now["entities"][i]["triggers"], was["triggers"]);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, RealTriggersTest, ::testing::ValuesIn(kLevels),
                         [](const auto& info) { return "kind" + std::to_string(info.index); });

}  // namespace
