// Saving levels of every kind: a loaded level is written back as the builder
// lays it out (TR4-family chunks as sequential level-9 zlib streams), in the
// kind its new name gives, with whole texture pages only, and never from a
// level that is not (or no longer) fully loaded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "errors.h"
#include "levelbuilder.h"
#include "trlevel.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;
using qm::Ttrlevel;

// A fresh directory, in memory where the system offers it.
struct SaveDir {
    std::string Path = "/dev/shm/qm-save-XXXXXX";
    SaveDir() {
        if (!::mkdtemp(Path.data()) && !::mkdtemp((Path = "/tmp/qm-save-XXXXXX").data())) throw std::runtime_error("mkdtemp");
    }
    ~SaveDir() { std::error_code ec; fs::remove_all(Path, ec); }
    std::string operator/(const std::string& name) const { return Path + "/" + name; }
};

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
// Equal bytes, or where they first differ.
::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "sizes " << got.size() << " / " << want.size() << ", first difference at " << i;
}

std::string Name(Kind kind) { return std::string("level") + FileExtension(kind); }

class LevelSave : public ::testing::TestWithParam<int> {};

TEST_P(LevelSave, WritesTheLevelItLoaded) {
    const int k = GetParam();
    const Kind kind = KindFromInt(k);
    struct Variant {
        const char* Name;
        void (*Describe)(BLevel&);
        bool Wrap = false;
        void (*Edit)(Ttrlevel&, BLevel&) = nullptr;  // the same change in the model and in the description
    };
    const Variant variants[] = {
        {"plain", [](BLevel&) {}},
        {"trailing bytes", [](BLevel& L) { L.trailingBytes = {9, 8, 7, 6, 5, 4}; }},
        {"from a container", [](BLevel&) {}, true},
        {"stale DataWords", [](BLevel& L) { for (auto& r : L.rooms) r.dataWords = 7; }},
        {"no rooms", [](BLevel& L) { L.rooms.clear(); }},
        {"no object textures", [](BLevel& L) { L.objectTextures.clear(); }},
        {"NG level", [](BLevel& L) { if (L.kind >= Kind::TR4) SetNgTrailer(L, 37, 30), L.trailingBytes = {1, 2}; }},
        {"edited rooms", [](BLevel&) {}, false,
         [](Ttrlevel& M, BLevel& L) {
             M.Rooms[1].RoomFlags[0] ^= 0x09, L.rooms[1].flags[0] ^= 0x09;
             qm::SetU16(M.Rooms[0].Rectangles[2].data() + 8, 0x0123), L.rooms[0].rectangles[2].texture = 0x0123;
             qm::SetU16(M.Rooms[2].Triangles[1].data() + 6, 0x0456), L.rooms[2].triangles[1].texture = 0x0456;
             M.Rooms[2].Sectors[4][2] = 0x0C, L.rooms[2].sectors[4][2] = 0x0C;
             M.Rooms[0].AmbientIntensity[1] = 0x1F, L.rooms[0].ambient[1] = 0x1F;
         }},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.Name);
        SaveDir dir;
        Ttrlevel M;
        BLevel L = SampleLevel(k, 21);
        v.Describe(L);
        const Bytes file = Build(L);
        WriteFile(dir / Name(kind), v.Wrap ? WrapZlib(file) : file);
        ASSERT_EQ(M.LoadLevel(dir / Name(kind)), 0);
        if (v.Edit) v.Edit(M, L);
        ASSERT_EQ(M.SaveLevel(dir / Name(kind)), 0);
        for (auto& r : L.rooms) r.dataWords.reset();  // the saver computes them
        const Bytes want = Build(L);
        EXPECT_TRUE(SameBytes(ReadFile(dir / Name(kind)), want));
        for (size_t i = 0; i < L.rooms.size(); ++i)
            EXPECT_EQ(M.Rooms[i].RoomInfo.DataWords, ExpectedDataWords(kind, L.rooms[i])) << "room " << i;
        ASSERT_EQ(M.SaveLevel(dir / Name(kind)), 0) << "the model stays loaded and saves again";
        EXPECT_TRUE(SameBytes(ReadFile(dir / Name(kind)), want));
    }
}

TEST(LevelSaveKinds, TheKindReadIsTheKindWritten) {
    // A save never works the kind out again from a name: a level is written in
    // the layout it was read in, whatever the new name says.
    struct Row { Kind From; const char* To; };
    const Row rows[] = {{Kind::TR1, "b.tub"}, {Kind::TUB, "b.phd"}, {Kind::TR1, "c.TUB/b.phd"}, {Kind::TR2, "b.TRG"},
                        {Kind::TRG, "b.tr2"}, {Kind::TR3, "b.tub"},  {Kind::TR4, "b.trc"},       {Kind::TRC, "b.tr4"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.To);
        SaveDir dir;
        const BLevel L = SampleLevel(int(row.From), 13);
        WriteFile(dir / Name(row.From), Build(L));
        Ttrlevel M;
        ASSERT_EQ(M.LoadLevel(dir / Name(row.From)), 0);
        fs::create_directories(fs::path(dir / row.To).parent_path());
        ASSERT_EQ(M.SaveLevel(dir / row.To), 0);
        EXPECT_TRUE(SameBytes(ReadFile(dir / row.To), Build(L)));
        EXPECT_EQ(M.LevelVersion, int(row.From));
    }
}

TEST(LevelSaveTr4, ChunksThatDisagreeWithThePageCountAreNeverSavedWithLoss) {
    // Chunks 1 and 2 are written as whole pages of the page count (chunk 2's whole
    // pages): a chunk holding more would lose bytes, one holding less cannot be
    // written. Both are refused before the file is touched.
    struct Row { const char* Name; int Pages; size_t Chunk1, Chunk2; const char* Message; const char* Where; };
    const Row rows[] = {
        {"part page in chunk 2", 5, 5 * 262144, 5 * 131072 + 100,
         "Saving would lose 100 bytes of the level's 16-bit texture pages (chunk 2); it cannot be saved",
         "chunk 2 unpacks to 655460 bytes; its 5 texture pages take 655360"},
        {"part page in chunk 1", 5, 5 * 262144 + 40, 5 * 131072,
         "Saving would lose 40 bytes of the level's 32-bit texture pages (chunk 1); it cannot be saved",
         "chunk 1 unpacks to 1310760 bytes; its 5 texture pages take 1310720"},
        {"a 32-bit page and no 16-bit page", 0, 262144, 0,
         "Saving would lose 262144 bytes of the level's 32-bit texture pages (chunk 1); it cannot be saved",
         "chunk 1 unpacks to 262144 bytes; its 0 texture pages take 0"},
        {"chunk 1 short of two pages", 2, 262144 + 5, 2 * 131072,
         "The level's 32-bit texture pages hold fewer bytes than its 2 texture pages need; it cannot be saved",
         "chunk 1 unpacks to 262149 bytes, 524288 are needed"},
    };
    for (const Kind kind : {Kind::TR4, Kind::TRC})
        for (const Row& row : rows) {
            SCOPED_TRACE(row.Name);
            SaveDir dir;
            BLevel L = SampleLevel(int(kind), 17);
            FillPages(L, 5, 17, 3000);
            L.textiles32.resize(row.Chunk1, 0x66), L.textiles16.resize(row.Chunk2, 0x77);
            const Bytes file = Build(L);
            WriteFile(dir / Name(kind), file);
            Ttrlevel M;
            ASSERT_EQ(M.LoadLevel(dir / Name(kind)), 0);
            EXPECT_EQ(M.TexturePageCount(), row.Pages);
            for (const std::string& target : {dir / Name(kind), dir / "new.tr4"}) {
                try {
                    M.SaveLevel(target);
                    ADD_FAILURE() << "saved " << target;
                } catch (const qm::ELevelError& e) {
                    EXPECT_STREQ(e.what(), row.Message);
                    EXPECT_EQ(e.Where, row.Where);
                }
            }
            EXPECT_TRUE(SameBytes(ReadFile(dir / Name(kind)), file));
            EXPECT_FALSE(fs::exists(dir / "new.tr4"));
            EXPECT_THROW(M.SerializeLevel(), qm::ELevelError);
        }
}

TEST(LevelSaveKinds, NothingIsWrittenWithoutAWholeLevel) {
    SaveDir dir;
    Ttrlevel fresh;
    EXPECT_EQ(fresh.SaveLevel(dir / "new.phd"), 1);
    EXPECT_FALSE(fs::exists(dir / "new.phd"));
    for (const int k : {1, 3, 6}) {
        const Kind kind = KindFromInt(k);
        const std::string saved = dir / ("saved" + std::string(FileExtension(kind)));
        const Bytes file = Build(SampleLevel(k, 23));
        Bytes other = file;
        other[0] ^= 0x01;  // no accepted signature
        WriteFile(dir / Name(kind), file), WriteFile(dir / "other.lvl", other), WriteFile(dir / "short.lvl", {0x20, 0, 0});
        WriteFile(dir / "cut.lvl", Bytes(file.begin(), file.end() - 700));
        fs::create_directories(dir / "dir.lvl");
        // A second load that fails, or finds no level: a save afterwards either
        // refuses, or writes the earlier level whole.
        const std::pair<const char*, int> rows[] = {{"cut.lvl", -1}, {"other.lvl", 2}, {"short.lvl", 2}, {"missing.lvl", 1},
                                                    {"dir.lvl", 1}};
        for (const auto& [second, result] : rows) {
            SCOPED_TRACE(std::to_string(k) + " then " + second);
            Ttrlevel M;
            ASSERT_EQ(M.LoadLevel(dir / Name(kind)), 0);
            int got = -1;
            try {
                got = M.LoadLevel(dir / second);
            } catch (const qm::EQuillError&) {
            }
            EXPECT_EQ(got, result);
            if (result == 2) { EXPECT_EQ(M.FileSignature, 0u); }
            uint8_t written = 0;
            EXPECT_NO_THROW(written = M.SaveLevel(saved));
            EXPECT_TRUE(written == 1 ? ::testing::AssertionResult(!fs::exists(saved)) : SameBytes(ReadFile(saved), file));
            fs::remove(saved);
        }
    }
}

TEST(LevelSaveKinds, ASecondLoadKeepsNothingOfTheFirstLevel) {
    for (const auto& [first, second] : {std::pair{6, 1}, std::pair{1, 6}, std::pair{3, 2}, std::pair{7, 5}, std::pair{2, 7}}) {
        SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
        SaveDir dir;
        BLevel L = SampleLevel(second, 29);  // smaller than the first level
        L.rooms.pop_back(), L.items.pop_back(), L.objectTextures.pop_back(), L.boxes.pop_back();
        for (auto& z : L.zones) z.pop_back();
        const std::string one = dir / ("a" + Name(KindFromInt(first))), two = dir / ("b" + Name(L.kind));
        WriteFile(one, Build(SampleLevel(first, 27))), WriteFile(two, Build(L));
        Ttrlevel M;
        ASSERT_EQ(M.LoadLevel(one), 0);
        ASSERT_EQ(M.LoadLevel(two), 0);
        ASSERT_EQ(M.SaveLevel(two), 0);
        EXPECT_TRUE(SameBytes(ReadFile(two), Build(L)));
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, LevelSave, ::testing::Range(1, 8));

}  // namespace
}  // namespace qmtest
