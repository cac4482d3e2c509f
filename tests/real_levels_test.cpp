// Real level files written by the games' tools: the report they must give,
// saves that keep every byte not edited, and damage in a real TR5 level. Skipped
// when the shared level folder is absent.
#include <cctype>
#include <functional>

#include "errors.h"
#include "trlevel.h"

#include "tool_test_support.h"

using namespace qmtest;

namespace {

// Offsets of byte 0 of each room's flags, walking the rooms from the room
// count at `at` (kinds 1, 3, 5 and 6; TR4 inside the unpacked level data);
// ambient (when given) receives the offsets of the rooms' first ambient byte.
std::vector<size_t> RoomFlagOffsets(const Bytes& b, size_t at, int kind, std::vector<size_t>* ambient = nullptr) {
  const size_t light = kind == 1 ? 18 : kind <= 5 ? 24 : 46, stat = kind == 1 ? 18 : 20;
  const size_t rooms = U16(b, at);
  at += 2;
  std::vector<size_t> out;
  for (size_t r = 0; r < rooms; ++r) {
    at += 20 + 2 * size_t(U32(b, at + 16));  // info, geometry size in words, geometry
    at += 2 + 32 * size_t(U16(b, at));       // portals
    at += 4 + 8 * size_t(U16(b, at)) * U16(b, at + 2);  // sector grid
    if (ambient) ambient->push_back(at);
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

TEST_P(RealLevels, FlagAndColourEditsChangeOnlyTheirBytes) {
  const RealLevel& L = GetParam();
  const fs::path p = Copy(L.path);
  const Bytes original = ReadBytes(p);
  const std::vector<Bytes> before = Parts(original, L.kind);
  size_t roomCount = 4;  // after the reserved word (TR4) or the head (TR1-TR3)
  const Bytes& data = before[L.kind <= 5 ? 0 : 4];
  if (L.kind == 1) roomCount += 8 + 65536 * size_t(U32(data, 4));
  if (L.kind == 3 || L.kind == 5) roomCount += 1796 + 4 + 196608 * size_t(U32(data, 1796));
  std::vector<size_t> ambient;
  const std::vector<size_t> flags = RoomFlagOffsets(data, roomCount, L.kind, &ambient);
  ASSERT_EQ(flags.size(), size_t(L.report[0]));
  const bool tr4 = L.kind >= 6;
  const struct {
    std::vector<std::string> Args;
    bool Refused;
    std::function<void(Bytes&, size_t flags, size_t ambient)> Edit;
  } edits[] = {
      {{"/Flag", "0x4220", "1"}, false, [](Bytes& b, size_t f, size_t) { b[f] |= 0x20, b[f + 1] |= 0x42; }},
      {{"/Flag", "0xFFFF", "0"}, false, [](Bytes& b, size_t f, size_t) { b[f] = b[f + 1] = 0; }},
      {{"/Flag", "Wind", "1"}, L.kind == 1, [](Bytes& b, size_t f, size_t) { b[f] |= 0x20; }},
      {{"/Flag", "reflection", "1"}, L.kind < 5, [](Bytes& b, size_t f, size_t) { b[f + 1] |= 0x02; }},
      {{"/Room_Colour", "1", "2", "3"}, !tr4, [](Bytes& b, size_t, size_t a) { b[a] = 3, b[a + 1] = 2, b[a + 2] = 1; }},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.Args[0] + " " + e.Args[1]);
    WriteBytes(p, original);
    RunOn(p, e.Args, e.Refused ? 2 : 0);
    if (e.Refused) {
      EXPECT_TRUE(ReadBytes(p) == original);
      continue;
    }
    std::vector<Bytes> expected = before;
    for (size_t k = 0; k < flags.size(); ++k) e.Edit(expected[tr4 ? 4 : 0], flags[k], ambient[k]);
    EXPECT_FALSE(expected == before);
    EXPECT_TRUE(Parts(ReadBytes(p), L.kind) == expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RealLevels, ::testing::ValuesIn(kLevels), [](const auto& info) {
  std::string name = info.param.path;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

using RealTr5Level = RealLevels;

// tr5/TEST1.TRC, from the published layout of real TR5 files: the level data
// starts 40 bytes after the third chunk (P), at file offset 1,539,141.
constexpr size_t kTr5P = 1539101;
struct Tr5Room {
  size_t Xela, Flags, Colour, FirstSector, Sectors;
};
const Tr5Room kTr5Rooms[] = {{1539149, 1539235, 1539201, 1539717, 14 * 7},
                             {1549473, 1549559, 1549525, 1549689, 5 * 5},
                             {1551977, 1552063, 1552029, 1552405, 6 * 3},
                             {1553581, 1553667, 1553633, 1553833, 7 * 3}};

// Offsets (in the bytes from P) of the texture words of every face of a room:
// the faces start at D + the face start (X+188), layer after layer (count at
// X+176, records of 56 bytes at D + X+180): rectangles of 12 bytes (word at
// +8), then triangles of 10 bytes (word at +6). D is X+216.
std::vector<std::pair<size_t, bool>> TextureWords(const Bytes& rest, size_t xela) {
  const size_t x = xela - kTr5P, d = x + 216;
  std::vector<std::pair<size_t, bool>> out;  // offset, is a rectangle
  size_t face = d + U32(rest, x + 188);
  for (size_t j = 0; j < U32(rest, x + 176); ++j) {
    const size_t layer = d + U32(rest, x + 180) + 56 * j;
    for (size_t k = 0; k < U16(rest, layer + 6); ++k, face += 12) out.push_back({face + 8, true});
    for (size_t k = 0; k < U16(rest, layer + 8); ++k, face += 10) out.push_back({face + 6, false});
  }
  return out;
}

TEST_F(RealTr5Level, ReportsListsAndSavesItsBytes) {
  const fs::path p = Copy("tr5/TEST1.TRC");
  const std::vector<Bytes> before = Parts(ReadBytes(p), 8);
  ASSERT_EQ(before.size(), 5u);
  EXPECT_EQ(RunOn(p, {"/Info"}), ReportText("TR5", {4, 10, 2176, 1, 6, 1, 13, 58, 0, 6, 224, 213, 2, 0}));
  EXPECT_EQ(RunOn(p, {"/ShowAnimtext"}),
            Lines({"Loading Level...", "Showing ANIMATED TEXTURES Ids used in this level:", "",
                   "Animated Texture# 1-->2170  2171  2172  2173  2174  2175  ", "Done."}));
  EXPECT_EQ(RunOn(p, {"/ShowStatics"}),
            Lines({"Loading Level...", "Showing STATICS MESHES Ids used in this level:", "", "", "Done."}));
  const std::string items = RunOn(p, {"/ShowItems"});
  EXPECT_EQ(items.substr(0, 64), Lines({"Loading Level...", "Showing Items Id used in this level:", "", "ID:  0  "}).substr(0, 64));

  // An unchanged save: the same head, unpacked pages, level data and samples.
  EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}),
            Lines({"Loading Level...", "Changing Textures Ids...", "Saving the level...", "Done."}));
  EXPECT_TRUE(Parts(ReadBytes(p), 8) == before);

  // Each edit changes only the bytes it names.
  const Bytes& rest = before[4];
  const uint16_t oldTexture = uint16_t(U16(rest, TextureWords(rest, kTr5Rooms[0].Xela)[0].first) & 0x0FFF);
  const struct {
    std::vector<std::string> Args;
    std::function<void(Bytes&, const Tr5Room&)> Edit;
  } edits[] = {
      {{"/Water", "1"}, [](Bytes& b, const Tr5Room& r) { b[r.Flags - kTr5P] |= 0x01; }},
      {{"/Sky", "1"}, [](Bytes& b, const Tr5Room& r) { b[r.Flags - kTr5P] |= 0x08; }},
      {{"/QuickSand", "1"}, [](Bytes& b, const Tr5Room& r) { b[r.Flags - kTr5P] |= 0x04; }},
      {{"/Lara_Light", "$1234"}, [](Bytes& b, const Tr5Room& r) {
         b[r.Colour - kTr5P] = 0x34;
         b[r.Colour + 1 - kTr5P] = 0x12;
       }},
      {{"/Flag", "Mist", "1"}, [](Bytes& b, const Tr5Room& r) { b[r.Flags + 1 - kTr5P] |= 0x01; }},
      {{"/Flag", "0x2020", "1"}, [](Bytes& b, const Tr5Room& r) { b[r.Flags - kTr5P] |= 0x20, b[r.Flags + 1 - kTr5P] |= 0x20; }},
      {{"/Room_Colour", "1", "2", "3"}, [](Bytes& b, const Tr5Room& r) {
         b[r.Colour - kTr5P] = 3, b[r.Colour + 1 - kTr5P] = 2, b[r.Colour + 2 - kTr5P] = 1;
       }},
      {{"/Step_sound", "2"}, [](Bytes& b, const Tr5Room& r) {
         for (size_t k = 0; k < r.Sectors; ++k) {
           uint8_t& low = b[r.FirstSector + 8 * k + 2 - kTr5P];
           low = uint8_t((low & 0xF0) | 13);
         }
       }},
      {{"/Textures", std::to_string(oldTexture), "2000"}, [oldTexture](Bytes& b, const Tr5Room& r) {
         for (const auto& [at, rectangle] : TextureWords(b, r.Xela))
           if ((rectangle ? U16(b, at) & 0x0FFF : U16(b, at)) == oldTexture) b[at] = 0xD0, b[at + 1] = 0x07;
       }},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.Args[0]);
    WriteBytes(p, ReadBytes(fs::path(QM_SHARED_LEVELS) / "tr5/TEST1.TRC"));
    std::vector<Bytes> expected = before;
    for (const Tr5Room& r : kTr5Rooms) e.Edit(expected[4], r);
    EXPECT_FALSE(expected == before);
    RunOn(p, e.Args);
    EXPECT_TRUE(Parts(ReadBytes(p), 8) == expected);
  }
}

TEST_F(RealTr5Level, DamageGivesAnErrorReportAndLeavesTheFile) {
  const Bytes original = ReadBytes(fs::path(QM_SHARED_LEVELS) / "tr5/TEST1.TRC");
  const size_t data = kTr5P + 40;
  auto put32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  const struct {
    const char* Name;
    std::function<void(Bytes&)> Damage;
    std::string Message, Place;
  } rows[] = {
      {"no XELA mark", [](Bytes& b) { b[kTr5Rooms[2].Xela] = 'Y'; }, "Room 2 does not start with \"XELA\".",
       "at byte " + std::to_string(kTr5Rooms[2].Xela - data) + " of the level data: room 2, XELA mark"},
      {"room size past the data", [&](Bytes& b) { put32(b, kTr5Rooms[3].Xela + 4, 0x00FFFFFF); },
       "Read beyond end of file.", "at byte " + std::to_string(kTr5Rooms[3].Xela + 8 - data) + " of the level data: room 3, size"},
      {"layer count", [&](Bytes& b) { put32(b, kTr5Rooms[0].Xela + 176, 5000); },
       "Room 0 describes content outside its XELA block.",
       "at byte " + std::to_string(kTr5Rooms[0].Xela + 176 - data) + " of the level data: room 0, layers"},
      {"sector start", [&](Bytes& b) { put32(b, kTr5Rooms[1].Xela + 16, 2480); },
       "Room 1 describes content outside its XELA block.",
       "at byte " + std::to_string(kTr5Rooms[1].Xela + 48 - data) + " of the level data: room 1, sectors"},
      {"level data size", [&](Bytes& b) { put32(b, kTr5P + 32, 0x7FFFFFF0), put32(b, kTr5P + 36, 0x7FFFFFF0); },
       "Read beyond end of file.", "at byte " + std::to_string(kTr5P + 40) + " of the file: level data"},
  };
  const fs::path p = Copy("tr5/TEST1.TRC");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    Bytes damaged = original;
    row.Damage(damaged);
    WriteBytes(p, damaged);
    EXPECT_EQ(RunOn(p, {"/Water", "1"}, 1), Lines({"Loading Level...", row.Message, row.Place}));
    EXPECT_TRUE(ReadBytes(p) == damaged);
  }
}

TEST_F(RealTr5Level, EveryCutIsAnErrorReportBeforeTheEnd) {
  // The real level data with empty page chunks (fast to read), cut at many
  // places, its two sizes made to fit the cut.
  const Bytes original = ReadBytes(fs::path(QM_SHARED_LEVELS) / "tr5/TEST1.TRC");
  const size_t size = U32(original, kTr5P + 32), data = kTr5P + 40;
  Bytes head(original.begin(), original.begin() + 10);
  const Bytes none = Deflate({});
  for (int k = 0; k < 3; ++k) {
    for (uint32_t v : {0u, uint32_t(none.size())})
      for (int i = 0; i < 4; ++i) head.push_back(uint8_t(v >> (8 * i)));
    head.insert(head.end(), none.begin(), none.end());
  }
  head.insert(head.end(), original.begin() + long(kTr5P), original.begin() + long(data));
  std::vector<size_t> cuts;
  for (size_t n = 0; n <= size; n += 389) cuts.push_back(n);
  for (const Tr5Room& r : kTr5Rooms)
    for (size_t n = r.Xela - data - 2; n < r.Xela - data + 12; ++n) cuts.push_back(n);
  for (size_t n = size - 40; n <= size; ++n) cuts.push_back(n);
  for (const size_t n : cuts) {
    Bytes cut = head;
    for (size_t at : {cut.size() - 8, cut.size() - 4})
      for (int i = 0; i < 4; ++i) cut[at + size_t(i)] = uint8_t(n >> (8 * i));
    cut.insert(cut.end(), original.begin() + long(data), original.begin() + long(data + n));
    cut.insert(cut.end(), original.begin() + long(data + size), original.end());
    qm::Ttrlevel M;
    std::string where;
    try {
      M.ParseLevel(cut.data(), cut.size(), "TEST1.TRC");
    } catch (const qm::EQuillError& e) {
      where = e.Where;
    }
    if (n + 6 <= size - 0 && n < size - 6) {
      ASSERT_EQ(where.rfind("at byte ", 0), 0u) << "cut at " << n;
      EXPECT_LE(std::stoul(where.substr(8)), n) << where;
    } else {
      ASSERT_EQ(where, "") << "cut at " << n;
      EXPECT_EQ(M.TrailingBytes.size(), n - (size - 6));
      EXPECT_EQ(M.RoomCount, 4);
    }
  }
}

}  // namespace
