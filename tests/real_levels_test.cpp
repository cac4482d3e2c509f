// Real level files written by the games' tools: the report they must give,
// saves that keep every byte not edited, and the refused TR5 layout. Skipped
// when the shared level folder is absent.
#include <cctype>

#include "tool_test_support.h"

using namespace qmtest;

namespace {

// Offsets of byte 0 of each room's flags, walking the rooms from the room
// count at `at` (kinds 1, 3, 5 and 6; TR4 inside the unpacked level data).
std::vector<size_t> RoomFlagOffsets(const Bytes& b, size_t at, int kind) {
  const size_t light = kind == 1 ? 18 : kind <= 5 ? 24 : 46, stat = kind == 1 ? 18 : 20;
  const size_t rooms = U16(b, at);
  at += 2;
  std::vector<size_t> out;
  for (size_t r = 0; r < rooms; ++r) {
    at += 20 + 2 * size_t(U32(b, at + 16));  // info, geometry size in words, geometry
    at += 2 + 32 * size_t(U16(b, at));       // portals
    at += 4 + 8 * size_t(U16(b, at)) * U16(b, at + 2);  // sector grid
    at += 2 + (kind >= 3 ? 2 : 0) + (kind == 3 ? 2 : 0);  // ambient values, light mode
    at += 2 + light * U16(b, at);
    at += 2 + stat * U16(b, at);
    out.push_back(at + 2);  // after the alternate room
    at += 4 + (kind >= 5 ? 3 : 0);
  }
  return out;
}

struct RealLevel {
  const char* path;
  int kind;
  const char* version;
  std::vector<int> report;  // the count lines, in report order
};
const RealLevel kLevels[] = {
    {"tr1/TEST1.PHD", 1, "TR1", {10, 9, 728, 3, 14, 1, 40, 236, 2, 4, 229, 216, 16, 0}},
    {"tr2/TEST1.TR2", 3, "TR2", {5, 9, 1200, 1, 7, 1, 17, 80, 0, 2, 224, 211, 4, 0}},
    {"tr3/TEST1.TR2", 5, "TR3", {4, 6, 1102, 1, 4, 1, 13, 58, 0, 1, 224, 213, 2, 0}},
    {"tr4/TEST1.TR4", 6, "TR4", {4, 7, 1447, 1, 4, 1, 13, 58, 0, 1, 224, 213, 2, 0}},
    {"trng/title.tr4", 6, "TR4", {2, 35, 2839, 0, 8, 0, 2, 0, 2, 1, 722, 720, 0, 0}},
};

void PrintTo(const RealLevel& L, std::ostream* os) { *os << L.path; }

class RealLevels : public ::testing::TestWithParam<RealLevel> {
protected:
  void SetUp() override {
    if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  }
  // A writable copy of the shared level, under its own name.
  fs::path Copy(const char* path) {
    const fs::path to = dir_ / fs::path(path).filename();
    fs::copy_file(fs::path(QM_SHARED_LEVELS) / path, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    return to;
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

TEST_P(RealLevels, ReportListAndSave) {
  const RealLevel& L = GetParam();
  const fs::path p = Copy(L.path);
  const std::vector<Bytes> before = Parts(ReadBytes(p), L.kind);
  EXPECT_EQ(RunOn(p, {"/Info"}), ReportText(L.version, L.report));
  for (const char* sw : {"/ShowItems", "/ShowStatics", "/ShowAnimtext"}) {
    const std::string out = RunOn(p, {sw});
    EXPECT_EQ(out.substr(0, 25), "Loading Level...\r\nShowing") << sw;
    EXPECT_EQ(out.substr(out.size() - 7), "Done.\r\n") << sw;
  }

  // An edit that matches nothing saves the level as it was.
  EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}),
            Lines({"Loading Level...", "Changing Textures Ids...", "Saving the level...", "Done."}));
  EXPECT_TRUE(Parts(ReadBytes(p), L.kind) == before);

  // Switching the sky flag of every room to the opposite of room 0's state
  // changes that bit of the rooms' flag bytes and nothing else.
  std::vector<Bytes> expected = before;
  Bytes& data = expected[L.kind <= 5 ? 0 : 4];
  size_t roomCount = 4;  // after the reserved word (TR4) or the head (TR1-TR3)
  if (L.kind == 1) roomCount += 8 + 65536 * size_t(U32(data, 4));
  if (L.kind == 3 || L.kind == 5) roomCount += 1796 + 4 + 196608 * size_t(U32(data, 1796));
  const std::vector<size_t> flags = RoomFlagOffsets(data, roomCount, L.kind);
  ASSERT_EQ(flags.size(), size_t(L.report[0]));
  const bool on = (data.at(flags[0]) & 0x08) == 0;
  for (size_t at : flags) data[at] = on ? uint8_t(data[at] | 0x08) : uint8_t(data[at] & ~0x08);
  RunOn(p, {"/Sky", on ? "1" : "0"});
  EXPECT_TRUE(Parts(ReadBytes(p), L.kind) == expected);
}

INSTANTIATE_TEST_SUITE_P(Files, RealLevels, ::testing::ValuesIn(kLevels), [](const auto& info) {
  std::string name = info.param.path;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

using RealTr5Level = RealLevels;

TEST_F(RealTr5Level, IsRefusedWithAnErrorReport) {
  const fs::path p = Copy("tr5/TEST1.TRC");
  const Bytes original = ReadBytes(p);
  const std::string out = RunOn(p, {"/Water", "1"}, 1), head = Lines({"Loading Level...", "error."});
  ASSERT_EQ(out.substr(0, head.size()), head);
  const std::string where = out.substr(head.size());
  EXPECT_EQ(where.find("\r\n"), where.size() - 2) << where;
  EXPECT_NE(where.find("TR5"), std::string::npos) << where;
  EXPECT_EQ(ReadBytes(p), original);
}

}  // namespace
