// The room edits, run through the tool's run flow on levels of every kind. The
// expected file is always the builder's file for the edited description.
#include <sys/stat.h>

#include <functional>
#include <sstream>

#include "tool_test_support.h"

using namespace qmtest;

namespace {

// Five rooms (the sample's three and copies of rooms 0 and 1) with chosen
// flags and texture words; TR4-family levels without texture pages.
BLevel Base(int kind) {
  BLevel L = SampleLevel(kind, 11);
  if (kind >= 6) FillPages(L, 0, 11, 500);  // small chunks keep the many saves quick
  L.objectTextures.resize(10);                // the new texture ids of the edits name textures 0 to 9
  L.rooms.push_back(L.rooms[0]);
  L.rooms.push_back(L.rooms[1]);
  const uint8_t flags[] = {0x00, 0xFF, 0x49, 0xB6, 0x08};
  for (size_t i = 0; i < 5; ++i) L.rooms[i].flags = {flags[i], uint8_t(0xA5 ^ i)};
  for (size_t i : {0u, 3u}) {
    BRoom& r = L.rooms[i];
    r.rectangles[0].texture = r.triangles[0].texture = 5;
    r.rectangles[1].texture = r.triangles[1].texture = 0x8005;
    r.rectangles[2].texture = i == 0 ? 0x1005 : 0x0105;  // bits 12-15 are flags, bits 8-11 part of the id
  }
  L.rooms[1].triangles[0].texture = 0xFFFF;
  return L;
}

void SetLight(BLevel& L, size_t room, uint16_t light) {
  auto& a = L.rooms[room].ambient;
  if (int(L.kind) >= 6) a = {uint8_t(light), uint8_t(light >> 8)};
  else a[1] = uint8_t(light);
}

std::string Saved(const std::string& progress) {
  return Lines({"Loading Level...", progress, "Saving the level...", "Done."});
}

class EditTest : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L, const Bytes& file) {
    const fs::path p = dir_ / (std::string("lvl") + FileExtension(L.kind));
    WriteBytes(p, file);
    return p;
  }
  // Edits the level with args and compares the saved file with the builder's
  // file for the description changed by edit.
  void ExpectEdit(const BLevel& before, const std::vector<std::string>& args, const std::string& progress,
                  const std::function<void(BLevel&)>& edit) {
    std::string trace = "kind " + std::to_string(int(before.kind));
    for (const std::string& a : args) trace += " [" + a + "]";
    SCOPED_TRACE(trace);
    const fs::path p = Put(before, Build(before));
    EXPECT_EQ(RunOn(p, args), Saved(progress));
    BLevel after = before;
    edit(after);
    EXPECT_EQ(Diff(ReadBytes(p), Build(after), int(before.kind)), "");
  }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

TEST_F(EditTest, EveryEditOnEveryKind) {
  for (int kind = 1; kind <= 7; ++kind) {
    const BLevel base = Base(kind);
    // Floor step sound (TR3 on): the mapped value in bits 0-3 of every sector's
    // word 1. The value is cut to 16 bits; 0-2 are mapped, 3-15 kept, others 5.
    const std::pair<const char*, uint8_t> sounds[] = {
        {"0", 5},   {"1", 12},     {"2", 13},     {"3", 3},      {"4", 4},      {"9", 9},  {"14", 14},
        {"15", 15}, {"16", 5},     {"65535", 5},  {"65537", 12}, {"65538", 13}, {"-1", 5}};
    for (const auto& [text, stored] : sounds)
      if (kind >= 5)
        ExpectEdit(base, {"/Step_sound", text}, "Changing Floor Sound...", [s = stored](BLevel& L) {
          for (BRoom& r : L.rooms)
            for (auto& sector : r.sectors) sector[2] = uint8_t((sector[2] & 0xF0) | s);
        });
    // Light: high byte of the ambient value, or the whole value for the TR4 family.
    for (const auto& [text, light] : {std::pair<const char*, uint16_t>{"20", 20}, {"300", 300}, {"$FFFF0102", 0x0102}})
      ExpectEdit(base, {"/Lara_Light", text}, "Changing Lara Light...", [v = light](BLevel& L) {
        for (size_t i = 0; i < L.rooms.size(); ++i) SetLight(L, i, v);
      });
    // Room flags: any non-zero value sets the bit, 0 clears it, nothing else changes.
    // Quicksand is bit 0x80 up to TR3; in the TR4 family that bit is "no lens
    // flare" and quicksand is 0x04.
    const std::tuple<const char*, const char*, uint8_t> flags[] = {{"/Water", "Turning On/Off the water...", 0x01},
                                                                   {"/Sky", "Turning On/Off the Sky...", 0x08},
                                                                   {"/QuickSand", "Turning On/Off the Quicksand...",
                                                                    kind >= 6 ? 0x04 : 0x80}};
    for (const auto& [sw, progress, mask] : flags)
      for (const auto& [text, on] : {std::pair<const char*, bool>{"2", true}, {"-1", true}, {"0", false}, {"$100", true}})
        ExpectEdit(base, {sw, text}, progress, [m = mask, on = on](BLevel& L) {
          for (BRoom& r : L.rooms) r.flags[0] = on ? uint8_t(r.flags[0] | m) : uint8_t(r.flags[0] & ~m);
        });
    // Texture ids: rectangles match on the low 12 bits, triangles on the whole
    // word; a matched word becomes exactly the new id's low 16 bits.
    const std::string tex = "Changing Textures Ids...";
    ExpectEdit(base, {"/Textures", "5", "7"}, tex, [](BLevel& L) {
      for (size_t i : {0u, 3u}) {
        for (size_t f = 0; f < 3; ++f) L.rooms[i].rectangles[f].texture = 7;  // 5, 0x8005 and 0x1005
        L.rooms[i].triangles[0].texture = 7;
      }
      L.rooms[3].rectangles[2].texture = 0x0105;  // id 0x105, not 5
    });
    ExpectEdit(base, {"/Textures", "$105", "9"}, tex, [](BLevel& L) { L.rooms[3].rectangles[2].texture = 9; });
    ExpectEdit(base, {"/Textures", "32773", "65545"}, tex, [](BLevel& L) {
      for (size_t i : {0u, 3u}) L.rooms[i].triangles[1].texture = 9;
    });
    ExpectEdit(base, {"/Textures", "$FFFF", "0"}, tex, [](BLevel& L) { L.rooms[1].triangles[0].texture = 0; });
    ExpectEdit(base, {"/Textures", "-1", "7"}, tex, [](BLevel&) {});
  }
}

TEST_F(EditTest, RoomRangesStayInsideTheLevel) {
  const struct {
    std::vector<std::string> range;
    int first, last;  // rooms edited; last < 0: refused, naming room first
  } rows[] = {{{}, 0, 4},           {{"3"}, 3, 4},          {{"3", "1"}, 3, 3},   {{"0", "999"}, 0, 4},
              {{"", "2"}, 0, 2},    {{"$1", "0x3"}, 1, 3},  {{"4", "4"}, 4, 4},   {{"2", "-7"}, 2, 2},
              {{"5"}, 5, -1},       {{"-1"}, -1, -1},       {{"-3", "-9"}, -3, -1}, {{"70000", "1"}, 70000, -1}};
  for (int kind : {1, 3, 6}) {
    const BLevel base = Base(kind);
    for (const auto& row : rows) {
      std::vector<std::string> args = {"/Lara_Light", "77"};
      args.insert(args.end(), row.range.begin(), row.range.end());
      if (row.last >= 0) {
        ExpectEdit(base, args, "Changing Lara Light...", [&](BLevel& L) {
          for (int i = row.first; i <= row.last; ++i) SetLight(L, size_t(i), 77);
        });
        continue;
      }
      const fs::path p = Put(base, Build(base));
      EXPECT_EQ(RunOn(p, args, 2), Lines({"Loading Level...", "Changing Lara Light...",
                                       "Room " + std::to_string(row.first) + " is outside this level (rooms 0 to 4)."}));
      EXPECT_EQ(ReadBytes(p), Build(base));
    }
    // A level without rooms has nothing to change, whatever the range.
    const BLevel empty = EmptyLevel(KindFromInt(kind));
    const fs::path p = Put(empty, Build(empty));
    for (const char* from : {"", "0"})
      EXPECT_EQ(RunOn(p, {"/Sky", "1", from, from}, 2),
                Lines({"Loading Level...", "Turning On/Off the Sky...", "This level has no rooms to change."}));
    EXPECT_EQ(ReadBytes(p), Build(empty));
  }
}

// The last numbers of a line, as words.
std::vector<std::string> LastWords(const std::string& line, size_t n) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return std::vector<std::string>(words.end() - long(std::min(n, words.size())), words.end());
}

// A room like those of levels built by today's editors, past every fixed
// capacity of the games' own room record (2282 vertices, 3343 rectangles,
// 1300 triangles, 60 sprites, 25 portals, 110 x 20 sectors, 60 lights, 52
// statics), in every kind that has the field: the level reports, lists the
// room, and an edit saves it byte for byte.
TEST_F(EditTest, RoomsPastTheGamesRoomRecordReportListAndEdit) {
  for (int kind = 1; kind <= 8; ++kind) {
    SCOPED_TRACE(kind);
    BLevel L = SampleLevel(kind, 6);
    if (kind >= 6) FillPages(L, 1, 6, 500);
    std::vector<std::string> listed;  // the room's vertices .. statics in the room table
    if (kind == 8) {
      B5Room& r = L.rooms5[1];
      r.layers = {B5Layer{}};
      r.layers[0].vertices.resize(2282), r.layers[0].rectangles.resize(3343), r.layers[0].triangles.resize(1300);
      r.sectorsX = 110, r.sectorsZ = 20, r.sectors.resize(2200);
      r.lights.resize(60), r.statics.resize(52), r.portals.resize(25);
      listed = {"2282", "3343", "1300", "0", "25", "60", "52"};
    } else {
      BRoom& r = L.rooms[1];
      r.vertices.resize(2282), r.rectangles.resize(3343), r.triangles.resize(1300), r.sprites.resize(60);
      r.portals.resize(25), r.sectorsX = 110, r.sectorsZ = 20, r.sectors.resize(2200);
      r.lights.assign(60, Bytes(SizesOf(L.kind).light, 3)), r.statics.assign(52, Bytes(SizesOf(L.kind).roomStatic, 4));
      listed = {"2282", "3343", "1300", "60", "25", "60", "52"};
    }
    const fs::path p = Put(L, Build(L));
    const std::string report = RunOn(p, {"/Info"});
    for (const char* line : {"Maximum Vertices used:2282\r\n", "Maximum Rectangles used:3343\r\n",
                             "Maximum Triangles used:1300\r\n"})
      EXPECT_NE(report.find(line), std::string::npos) << line << report;
    const std::string table = RunOn(p, {"/ShowRooms", "1", "1"});
    // The room's row is the line before "Done.".
    const size_t done = table.rfind("\r\nDone.");
    ASSERT_NE(done, std::string::npos) << table;
    const size_t row = table.rfind("\r\n", done - 1) + 2;
    // The last column is the storey.
    std::vector<std::string> words = LastWords(table.substr(row, done - row), 8);
    words.pop_back();
    EXPECT_EQ(words, listed);
    EXPECT_EQ(RunOn(p, {"/Water", "1", "1", "1"}), Saved("Turning On/Off the water..."));
    if (kind == 8) L.rooms5[1].flags |= 0x01;
    else L.rooms[1].flags[0] |= 0x01;
    EXPECT_TRUE(ReadBytes(p) == Build(L)) << "saved byte for byte";
  }
}

TEST_F(EditTest, UnchangedLevelIsStillSavedAndTheTr3StepSoundLimit) {
  for (int kind = 1; kind <= 7; ++kind) {
    SCOPED_TRACE(kind);
    BLevel L = Base(kind);
    L.trailingBytes = {1, 2, 3, 4, 5, 6};
    if (kind == 6) SetNgTrailer(L, 300, 40);
    // Stored in the "ZLIB" container, so a save shows as the plain level.
    const fs::path p = Put(L, WrapZlib(Build(L)));
    if (kind < 5) {
      EXPECT_EQ(RunOn(p, {"/Step_sound", "1"}, 2), Lines({"Loading Level...", "Function Only for Tr3 and above version"}));
      EXPECT_EQ(ReadBytes(p), WrapZlib(Build(L)));
    }
    EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}), Saved("Changing Textures Ids..."));
    EXPECT_EQ(Diff(ReadBytes(p), Build(L), kind), "");
  }
}

TEST_F(EditTest, Tr1LevelsUnderTheOtherLayoutsNameKeepTheirLayout) {
  // A ".TUB"-layout level named ".PHD" and the other way round: reported as
  // TR1, saved byte for byte in the layout they were read in.
  for (const auto& [built, name] : {std::pair{Kind::TUB, "DEMO.PHD"}, std::pair{Kind::TR1, "level.tub"}}) {
    SCOPED_TRACE(name);
    const BLevel L = Base(int(built));
    const fs::path p = dir_ / name;
    WriteBytes(p, Build(L));
    EXPECT_EQ(RunOn(p, {"/Info"}).substr(0, 38), Lines({"Loading Level...", "Level Version: TR1"}));
    EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}), Saved("Changing Textures Ids..."));
    EXPECT_EQ(ReadBytes(p), Build(L));
    EXPECT_EQ(RunOn(p, {"/Water", "1", "2", "3"}), Saved("Turning On/Off the water..."));
    BLevel after = L;
    for (size_t i : {2u, 3u}) after.rooms[i].flags[0] |= 0x01;
    EXPECT_EQ(ReadBytes(p), Build(after));
  }
}

TEST_F(EditTest, SavingKeepsPermissionsLinksAndReadOnlyFiles) {
  for (int kind : {2, 7}) {
    SCOPED_TRACE(kind);
    BLevel L = Base(kind);
    const Bytes file = Build(L);
    for (BRoom& r : L.rooms) r.flags[0] |= 0x01;
    const Bytes expected = Build(L);

    // Write-protected: refused, unchanged.
    const fs::path p = Put(L, file);
    ::chmod(p.c_str(), 0444);
    const std::string head =
        Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...", "File access denied."});
    EXPECT_EQ(RunOn(p, {"/Water", "1"}, 1).substr(0, head.size()), head);
    EXPECT_EQ(ReadBytes(p), file);
    EXPECT_EQ(fs::status(p).permissions(), fs::perms(0444));
    // Other permission bits are kept.
    ::chmod(p.c_str(), 0640);
    RunOn(p, {"/Water", "1"});
    EXPECT_EQ(Diff(ReadBytes(p), expected, kind), "");
    EXPECT_EQ(fs::status(p).permissions(), fs::perms(0640));
    fs::remove(p);
    // Through a symbolic link: the target is replaced, the link stays a link,
    // and no other file is left behind.
    fs::create_directory(dir_ / "real");
    const fs::path target = dir_ / "real" / p.filename(), link = dir_ / ("link" + p.extension().string());
    WriteBytes(target, file);
    fs::create_symlink(fs::path("real") / p.filename(), link);
    RunOn(link, {"/Water", "1"});
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Diff(ReadBytes(target), expected, kind), "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2);
    fs::remove_all(dir_ / "real");
    fs::remove(link);
  }
}

}  // namespace

TEST_F(EditTest, AnEditThatWouldLoseChunkBytesIsRefusedAndTheFileKept) {
  for (const int kind : {6, 7}) {
    SCOPED_TRACE(kind);
    BLevel L = Base(kind);
    L.textiles32.assign(262144, 0x42);  // one 32-bit page, no 16-bit page: a page count of 0
    const Bytes file = Build(L);
    const fs::path p = Put(L, file);
    EXPECT_EQ(RunOn(p, {"/Water", "1"}, 1),
              Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...",
                     "Saving would lose 262144 bytes of the level's 32-bit texture pages (chunk 1); it cannot be saved.",
                     "chunk 1 unpacks to 262144 bytes; its 0 texture pages take 0"}));
    EXPECT_EQ(ReadBytes(p), file);
  }
}
