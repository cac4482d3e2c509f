// What a TR4-family or TR5 save packs again: only the chunks whose content
// changed. Room edits keep the page chunks, an edit that changes nothing keeps
// the whole file, /ImportPage repacks the page chunks it writes, a wrong stated
// size is corrected over the kept bytes, and the real levels keep every chunk
// an edit did not change. The levels are packed at other zlib levels than the
// saver's 9, so that a chunk packed again never looks like one kept.
#include "png.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

struct Variant {
  const char* Name;
  int Kind;
  bool Ng;
};
const Variant kVariants[] = {{"TR4", 6, false}, {"TRC", 7, false}, {"TRNG", 6, true}, {"TR5", 8, false}};

// A level of the variant with two texture pages, every chunk packed at zlib
// level `level`.
BLevel Packed(const Variant& v, int level) {
  BLevel L = SampleLevel(v.Kind, 21);
  FillPages(L, 2, 21, 5000);
  if (v.Ng) SetNgTrailer(L, 40, 30);
  for (BChunkOptions& c : L.chunks) c.level = level;
  // Room 1 without water, so that setting it changes the level data.
  if (L.kind == Kind::TR5) L.rooms5[1].flags &= 0xFFFE;
  else L.rooms[1].flags[0] &= 0xFE;
  return L;
}

void SetWater(BLevel& L, size_t room) {
  if (L.kind == Kind::TR5) L.rooms5[room].flags |= 0x01;
  else L.rooms[room].flags[0] |= 0x01;
}

std::string Saved(const std::string& progress) {
  return Lines({"Loading Level...", progress, "Saving the level...", "Done."});
}

class ChunksKept : public ::testing::Test {
protected:
  fs::path Put(const BLevel& L, const Bytes& file) {
    const fs::path p = scratch_.path / (std::string("lvl") + FileExtension(L.kind));
    WriteBytes(p, file);
    return p;
  }
  ScratchDir scratch_;
};

// A room edit packs the level data again (at level 9, its content the edited
// level's) and keeps the three page chunks as they were read; an edit that
// changes nothing gives back the file byte for byte.
TEST_F(ChunksKept, RoomEditsKeepThePageChunksAndANoChangeEditTheWholeFile) {
  for (const Variant& v : kVariants)
    for (const int level : {1, 6}) {  // streams starting 78 01 and 78 9C
      SCOPED_TRACE(std::string(v.Name) + " packed at level " + std::to_string(level));
      BLevel L = Packed(v, level);
      const fs::path p = Put(L, Build(L));
      EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}), Saved("Changing Textures Ids..."));
      EXPECT_TRUE(ReadBytes(p) == Build(L)) << "an edit that changes nothing keeps every byte";
      EXPECT_EQ(RunOn(p, {"/Water", "1", "1", "1"}), Saved("Turning On/Off the water..."));
      SetWater(L, 1);
      L.chunks[3].level = 9;
      EXPECT_TRUE(ReadBytes(p) == Build(L)) << "the page chunks kept, the level data packed again";
    }
}

// /ImportPage packs again the 32-bit and 16-bit page chunks it writes, even
// with the pixels they held, and keeps the misc chunk and the level data.
TEST_F(ChunksKept, ImportPageRepacksOnlyThePageChunksItWrites) {
  // Page 1 all red, in both forms: blue, green, red, alpha and ARGB 1-5-5-5.
  std::vector<uint8_t> red(65536 * 4);
  for (size_t i = 0; i < 65536; ++i) red[i * 4] = 255, red[i * 4 + 3] = 255;
  const std::string png = qm::EncodePng(red, 256, 256);
  WriteBytes(scratch_.path / "red.png", Bytes(png.begin(), png.end()));
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.Name);
    BLevel L = Packed(v, 1);
    for (size_t i = 65536; i < 131072; ++i) {
      const uint8_t bgra[4] = {0, 0, 255, 255};
      std::copy(bgra, bgra + 4, L.textiles32.begin() + long(i * 4));
      L.textiles16[i * 2] = 0x00, L.textiles16[i * 2 + 1] = 0xFC;
    }
    const fs::path p = Put(L, Build(L));
    EXPECT_EQ(RunOn(p, {"/ImportPage", "1", (scratch_.path / "red.png").string()}), Saved("Replacing page 1..."));
    L.chunks[0].level = L.chunks[1].level = 9;
    EXPECT_TRUE(ReadBytes(p) == Build(L));
  }
}

// A stated unpacked size that was wrong is written as the real one, over the
// packed bytes as they were read.
TEST_F(ChunksKept, AWrongStatedSizeIsCorrectedAndThePackedBytesKept) {
  const struct {
    int Kind, Chunk;
    int64_t Stated;
    std::vector<std::string> Edit;
  } rows[] = {{6, 0, 5, {"/Water", "1", "1", "1"}},  {6, 1, 0, {"/Water", "1", "1", "1"}},
              {7, 2, 99999999, {"/Water", "1", "1", "1"}}, {6, 3, 12, {"/Textures", "99999", "0"}},
              {8, 0, 1, {"/Water", "1", "1", "1"}},  {8, 2, 7, {"/Water", "1", "1", "1"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.Kind) + ", chunk " + std::to_string(row.Chunk + 1));
    BLevel L = Packed({"", row.Kind, false}, 1);
    L.chunks[size_t(row.Chunk)].unpackedSize = row.Stated;
    const fs::path p = Put(L, Build(L));
    RunOn(p, row.Edit);
    L.chunks[size_t(row.Chunk)].unpackedSize.reset();
    if (row.Edit[0] == "/Water") SetWater(L, 1), L.chunks[3].level = 9;
    EXPECT_TRUE(ReadBytes(p) == Build(L));
  }
}

// An edit checks the texture chunks it keeps while it packs the level data: a
// damaged one refuses the save with the report /Info gives for the level, and
// the file stays as it was. With several faults the first in file order is
// reported, also when the other is in the level data the edit reads first.
TEST_F(ChunksKept, AnEditRefusesADamagedTextureChunkWithTheReportOfALoad) {
  const struct {
    const char* Name;
    Variant V;
    std::vector<std::pair<size_t, ChunkForm>> Damage;
    bool LevelDataSound;
  } rows[] = {
      {"chunk 1 checksum", {"", 6, false}, {{0, ChunkForm::BadChecksum}}, true},
      {"chunk 2 no zlib", {"", 7, false}, {{1, ChunkForm::NotZlib}}, true},
      {"chunk 3 checksum, NG", {"", 6, true}, {{2, ChunkForm::BadChecksum}}, true},
      {"chunks 2 and 4", {"", 6, false}, {{1, ChunkForm::BadChecksum}, {3, ChunkForm::NotZlib}}, false},
      {"chunk 1 and the level data's items", {"", 6, false}, {{0, ChunkForm::NotZlib}}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    BLevel L = Packed(row.V, 1);
    for (const auto& [chunk, form] : row.Damage) L.chunks[chunk].form = form;
    if (std::string(row.Name).find("items") != std::string::npos) L.counts.items = 1'000'000;
    const Bytes file = Build(L);
    const fs::path p = Put(L, file);
    const std::string info = RunOn(p, {"/Info"}, 1);
    const std::string loading = Lines({"Loading Level..."});
    ASSERT_EQ(info.rfind(loading, 0), 0u) << info;
    const std::string report = info.substr(loading.size());
    EXPECT_NE(report.find(row.Damage[0].first == 0 ? "32-bit" : row.Damage[0].first == 1 ? "16-bit" : "misc"),
              std::string::npos) << report;
    const std::string edit = RunOn(p, {"/Water", "1"}, 1);
    EXPECT_EQ(edit, (row.LevelDataSound ? Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level..."})
                                        : loading) + report);
    EXPECT_TRUE(ReadBytes(p) == file);
  }
}

// The real TR4-family and TR5 levels: an edit that changes nothing gives back
// the file; a room edit keeps the page chunks and the tail, and the level
// data it packs again unpacks to the edited level data.
TEST_F(ChunksKept, RealLevelsKeepEveryChunkAnEditDidNotChange) {
  if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  for (const auto& [path, kind] : {std::pair{"tr4/TEST1.TR4", 6}, std::pair{"trng/title.tr4", 6},
                                   std::pair{"tr5/TEST1.TRC", 8}}) {
    SCOPED_TRACE(path);
    const Bytes original = ReadBytes(fs::path(QM_SHARED_LEVELS) / path);
    const fs::path p = scratch_.path / fs::path(path).filename();
    WriteBytes(p, original);
    EXPECT_EQ(RunOn(p, {"/Textures", "99999", "0"}), Saved("Changing Textures Ids..."));
    EXPECT_TRUE(ReadBytes(p) == original);
    EXPECT_EQ(RunOn(p, {"/Water", "1", "0", "0"}), Saved("Turning On/Off the water..."));
    const Bytes edited = ReadBytes(p);
    // The head and the three page chunks, size pairs included.
    size_t end = 10;
    for (int k = 0; k < 3; ++k) end += 8 + U32(original, end + 4);
    ASSERT_GE(edited.size(), end);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + long(end), edited.begin()));
    if (kind == 8) continue;  // the level data and tail, stored as they are, are compared by the real TR5 tests
    const std::vector<Bytes> before = Parts(original, kind), after = Parts(edited, kind);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(after.back() == before.back()) << "the tail";
    EXPECT_EQ(edited[end + 8], 0x78);
    EXPECT_EQ(edited[end + 9], 0xDA) << "the level data packed again at level 9";
    EXPECT_EQ(after[4].size(), before[4].size());
  }
}

} // namespace
