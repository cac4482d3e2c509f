// The named room flags (/Flag) and the room colour (/Room_Colour), run through
// the tool's run flow on built levels of every kind. The expected file is
// always the builder's file for the edited description.
#include <cstdio>
#include <functional>

#include "tool_test_support.h"

using namespace qmtest;

namespace {

// A level kind as the flags read it: TR4-layout levels ending with the NGLE
// block have flags of their own. column: the kind's column of kFlagBits.
struct Variant {
  int kind;
  bool ngle;
  int column;
  const char* name;  // as the refusal names the kind
};
const Variant kVariants[] = {{1, false, 0, "TR1"}, {2, false, 0, "TR1"}, {3, false, 1, "TR2"},
                             {4, false, 1, "TR2"}, {5, false, 2, "TR3"}, {6, false, 3, "TR4"},
                             {7, false, 3, "TR4"}, {6, true, 4, "TR4 NGLE"}, {8, false, 5, "TR5"}};

// The bit of each flag in each column (TR1, TR2, TR3, TR4, TR4 NGLE, TR5); 0: none.
const struct {
  const char* name;  // as the user may type it
  const char* canonical;
  uint16_t bits[6];
} kFlagBits[] = {
    {"water", "Water", {0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001}},
    {"SKY", "Sky", {0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008}},
    {"Wind", "Wind", {0, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020}},
    {"quickSAND", "QuickSand", {0, 0, 0x0080, 0x0004, 0x0004, 0x0004}},
    {"NoLensFlare", "NoLensFlare", {0, 0, 0, 0x0080, 0x0080, 0x0080}},
    {"caustics", "Caustics", {0, 0, 0x0100, 0x0100, 0x0100, 0}},
    {"Mist", "Mist", {0, 0, 0, 0, 0, 0x0100}},
    {"Reflection", "Reflection", {0, 0, 0x0200, 0x0200, 0x0200, 0x0200}},
    {"snow", "Snow", {0, 0, 0, 0, 0x0400, 0}},
    {"Rain", "Rain", {0, 0, 0, 0, 0x0800, 0}},
    {"COLD", "Cold", {0, 0, 0, 0, 0x1000, 0}},
};

size_t RoomCount(const BLevel& L) { return L.kind == Kind::TR5 ? L.rooms5.size() : L.rooms.size(); }

uint16_t FlagsOf(const BLevel& L, size_t i) {
  if (L.kind == Kind::TR5) return L.rooms5[i].flags;
  return uint16_t(L.rooms[i].flags[0] | L.rooms[i].flags[1] << 8);
}
void SetFlags(BLevel& L, size_t i, uint16_t v) {
  if (L.kind == Kind::TR5) L.rooms5[i].flags = v;
  else L.rooms[i].flags = {uint8_t(v), uint8_t(v >> 8)};
}
// Sets (on) or clears the bits in rooms from..to.
void ApplyBits(BLevel& L, uint16_t bits, bool on, size_t from, size_t to) {
  for (size_t i = from; i <= to; ++i)
    SetFlags(L, i, on ? uint16_t(FlagsOf(L, i) | bits) : uint16_t(FlagsOf(L, i) & ~bits));
}

// Three rooms: no flag, every flag, some; a colour whose alpha byte is set.
BLevel Base(const Variant& v) {
  BLevel L = SampleLevel(v.kind, 3);
  if (v.kind >= 6) FillPages(L, 0, 3, 300);  // small chunks keep the many saves quick
  if (v.ngle) SetNgTrailer(L, 300, 40);
  const uint16_t flags[] = {0x0000, 0xFFFF, 0x5A5A};
  for (size_t i = 0; i < 3; ++i) SetFlags(L, i, flags[i]);
  for (BRoom& r : L.rooms) r.ambient2 = 0xC720;
  for (B5Room& r : L.rooms5) r.colour = 0xC7202122;
  return L;
}

class RoomFlagsTest : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L, const Bytes& file) {
    const fs::path p = scratch_.path / (std::string("lvl") + FileExtension(L.kind));
    WriteBytes(p, file);
    return p;
  }
  // The edit's output and saved file: the builder's file for the description
  // changed by edit.
  void ExpectEdit(const BLevel& before, const std::vector<std::string>& args, const std::string& progress,
                  const std::function<void(BLevel&)>& edit) {
    std::string trace;
    for (const std::string& a : args) trace += " [" + a + "]";
    SCOPED_TRACE(trace);
    const fs::path p = Put(before, Build(before));
    EXPECT_EQ(RunOn(p, args), Lines({"Loading Level...", progress, "Saving the level...", "Done."}));
    BLevel after = before;
    edit(after);
    EXPECT_EQ(Diff(ReadBytes(p), Build(after), int(before.kind)), "");
  }
  // A refusal after loading: the output, exit 2 and the file as it was.
  void ExpectRefused(const BLevel& level, const std::vector<std::string>& args, const std::string& output) {
    const fs::path p = Put(level, Build(level));
    EXPECT_EQ(RunOn(p, args, 2), output);
    EXPECT_TRUE(ReadBytes(p) == Build(level));
  }
  ScratchDir scratch_;
};

TEST_F(RoomFlagsTest, EveryNameSetsClearsOrIsRefusedByKind) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name + std::string(" kind ") + std::to_string(v.kind));
    const BLevel base = Base(v);
    for (const auto& flag : kFlagBits) {
      const uint16_t bits = flag.bits[v.column];
      const std::string progress = std::string("Turning On/Off the ") + flag.canonical + "...";
      if (bits == 0) {
        ExpectRefused(base, {"/Flag", flag.name, "1"},
                      Lines({"Loading Level...", progress,
                             std::string("The flag ") + flag.canonical + " is not in " + v.name + " levels."}));
        continue;
      }
      // Any non-zero value sets, 0 clears; the range limits the rooms.
      ExpectEdit(base, {"/Flag", flag.name, "$100"}, progress, [&](BLevel& L) { ApplyBits(L, bits, true, 0, 2); });
      ExpectEdit(base, {"/Flag", flag.name, "0", "1", "1"}, progress,
                 [&](BLevel& L) { ApplyBits(L, bits, false, 1, 1); });
    }
  }
}

TEST_F(RoomFlagsTest, NamedFlagsSetTheBitsOfTheOlderFlagEdits) {
  // /Water, /Sky and /QuickSand and their /Flag names give the same file.
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.kind);
    const BLevel base = Base(v);
    const fs::path p = Put(base, Build(base));
    for (const auto& [older, name] : {std::pair{"/Water", "Water"}, {"/Sky", "Sky"}, {"/QuickSand", "QuickSand"}}) {
      if (v.column < 2 && std::string(name) == "QuickSand") continue;  // TR1, TR2: refused above
      for (const char* value : {"1", "0"}) {
        WriteBytes(p, Build(base));
        RunOn(p, {older, value, "2"});
        const Bytes byOlder = ReadBytes(p);
        WriteBytes(p, Build(base));
        RunOn(p, {"/Flag", name, value, "2"});
        EXPECT_TRUE(ReadBytes(p) == byOlder) << name << " " << value;
      }
    }
  }
}

TEST_F(RoomFlagsTest, RawBitsInEveryKind) {
  const struct {
    const char* bits;
    const char* value;
    const char* label;
    uint16_t mask;
  } rows[] = {
      {"0x0220", "1", "flags 0x0220", 0x0220},       {"$8001", "0", "flags 0x8001", 0x8001},
      {"4096", "7", "flags 0x1000", 0x1000},          {"x12340400", "1", "flags 0x0400", 0x0400},
      {"0", "1", "flags 0x0000", 0},
  };
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.kind);
    const BLevel base = Base(v);
    for (const auto& row : rows)
      ExpectEdit(base, {"/Flag", row.bits, row.value}, std::string("Turning On/Off the ") + row.label + "...",
                 [&](BLevel& L) { ApplyBits(L, row.mask, std::string(row.value) != "0", 0, RoomCount(L) - 1); });
  }
}

TEST_F(RoomFlagsTest, ColourBytesOfTr4AndTr5Rooms) {
  const struct {
    std::vector<std::string> args;
    uint8_t red, green, blue;
    size_t from, to;
  } rows[] = {{{"255", "128", "1"}, 255, 128, 1, 0, 2}, {{"$13", "0x1C", "32", "1", "1"}, 0x13, 0x1C, 32, 1, 1},
              {{"0", "0", "0", "2"}, 0, 0, 0, 2, 2}};
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.kind);
    const BLevel base = Base(v);
    for (const auto& row : rows) {
      std::vector<std::string> args = {"/Room_Colour"};
      args.insert(args.end(), row.args.begin(), row.args.end());
      if (v.kind < 6) {
        ExpectRefused(base, args, Lines({"Loading Level...", "Function Only for Tr4 and above version"}));
        continue;
      }
      ExpectEdit(base, args, "Changing Room Colour...", [&](BLevel& L) {
        for (size_t i = row.from; i <= row.to; ++i) {
          // Stored blue, green, red, alpha; the alpha byte is kept.
          if (L.kind == Kind::TR5) {
            B5Room& r = L.rooms5[i];
            r.colour = (r.colour & 0xFF000000u) | uint32_t(row.red) << 16 | uint32_t(row.green) << 8 | row.blue;
          } else {
            BRoom& r = L.rooms[i];
            r.ambient = {row.blue, row.green};
            r.ambient2 = uint16_t((r.ambient2 & 0xFF00) | row.red);
          }
        }
      });
    }
  }
}

TEST_F(RoomFlagsTest, ArgumentsAreRefusedBeforeLoading) {
  const std::string names =
      "the flags are Water, Sky, Wind, QuickSand, NoLensFlare, Caustics, Mist, Reflection, Snow, Rain, Cold";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> output;
  } rows[] = {
      {{"/Flag"}, {"Missing parameter"}},
      {{"/Flag", "Wind"}, {"Please especify 0 or 1"}},
      {{"/Flag", "Wind", "", "1"}, {"Please especify 0 or 1"}},
      {{"/Flag", "Windy", "1"}, {"Unknown flag name.", names}},
      {{"/Flag", "", "1"}, {"Unknown flag name.", names}},
      {{"/Flag", "0x", "1"}, {"Unknown flag name.", names}},
      {{"/Room_Colour"}, {"Missing parameter"}},
      {{"/Room_Colour", "1", "2"}, {"Missing parameter"}},
      {{"/Room_Colour", "1", "", "3"}, {"Missing parameter"}},
      {{"/Room_Colour", "256", "0", "0"}, {"Colour values must be 0 to 255."}},
      {{"/Room_Colour", "0", "-1", "0"}, {"Colour values must be 0 to 255."}},
      {{"/Room_Colour", "0", "0", "$100"}, {"Colour values must be 0 to 255."}},
      {{"/Room_Colour", "red", "0", "0"}, {"Colour values must be 0 to 255."}},
  };
  for (int kind : {1, 6}) {
    // A damaged level: any attempt to load it would report the damage.
    const fs::path p = scratch_.path / (std::string("damaged") + FileExtension(KindFromInt(kind)));
    Bytes file = Build(SampleLevel(kind, 3));
    file.resize(40);
    WriteBytes(p, file);
    for (const auto& row : rows) {
      SCOPED_TRACE(row.args[0] + " " + std::to_string(row.args.size()));
      EXPECT_EQ(RunOn(p, row.args, 2), Lines(row.output));
    }
  }
}

TEST_F(RoomFlagsTest, DryRunShowsTheColourAndTheFlags) {
  const BLevel base = Base(kVariants[5]);  // TR4
  const fs::path p = Put(base, Build(base));
  // The red byte is no part of the light value: the colour shows it.
  const auto& a = base.rooms[1].ambient;
  char change[96];
  std::snprintf(change, sizeof change, "Room 1: light 0x%02X%02X -> 0x0201, colour #20%02X%02X -> #FF0201", a[1], a[0],
                a[1], a[0]);
  EXPECT_EQ(RunOn(p, {"--dry-run", "/Room_Colour", "255", "2", "1", "1", "1"}),
            Lines({"Loading Level...", "Changing Room Colour...", change,
                   "1 room would change (0 sectors, 0 faces); nothing was saved."}));
  EXPECT_EQ(RunOn(p, {"--dry-run", "/Flag", "Wind", "1", "0", "0"}),
            Lines({"Loading Level...", "Turning On/Off the Wind...", "Room 0: flags 0x0000 -> 0x0020",
                   "1 room would change (0 sectors, 0 faces); nothing was saved."}));
  EXPECT_TRUE(ReadBytes(p) == Build(base));
}

}  // namespace
