// /ExportPages through the real program: texture pages of levels built with
// known bytes come out as PNG pictures of the expected pixels, and the
// refusals and failures leave the folder and the level as they were.
#include <stb/stb_image.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "binary_run.h"
#include "png.h"
#include "pngbuilder.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

using Rgba = std::array<uint8_t, 4>;
constexpr size_t kPixel = 257, kLast = 65535;  // row 1 column 1, and the last pixel

// The decoded pixels of a PNG file, RGBA; empty when it is not a 256 x 256 PNG.
std::vector<Rgba> Decode(const fs::path& file) {
  const Bytes png = ReadBytes(file);
  int w = 0, h = 0, n = 0;
  unsigned char* data = stbi_load_from_memory(png.data(), int(png.size()), &w, &h, &n, 4);
  std::vector<Rgba> pixels;
  if (data && w == 256 && h == 256)
    for (size_t i = 0; i < 65536; ++i) pixels.push_back({data[i * 4], data[i * 4 + 1], data[i * 4 + 2], data[i * 4 + 3]});
  stbi_image_free(data);
  return pixels;
}

// A level of the kind with two pages of zero bytes, whose page 1 holds `a`
// at kPixel and `b` at kLast in the form its pictures come from (raw bytes
// of one pixel, little-endian for 16-bit ones). The 8-bit palette has
// index 5 = bytes C1 3F 20 and index 255 = FF FF FF.
BLevel TwoPages(int kind, const Bytes& a, const Bytes& b) {
  BLevel level = EmptyLevel(KindFromInt(kind));
  const auto put = [&](Bytes& pages, size_t pixelBytes) {
    pages.assign(2 * 65536 * pixelBytes, 0);
    const size_t page1 = 65536 * pixelBytes;
    // Each value is cut to the form's pixel size (the 8-bit form takes its first byte).
    std::copy_n(a.begin(), std::min(a.size(), pixelBytes), pages.begin() + long(page1 + kPixel * pixelBytes));
    std::copy_n(b.begin(), std::min(b.size(), pixelBytes), pages.begin() + long(page1 + kLast * pixelBytes));
  };
  if (kind <= 5) {
    put(level.textiles8, 1);
    level.palette8.assign(768, 0);
    level.palette8[15] = 0xC1, level.palette8[16] = 0x3F, level.palette8[17] = 0x20;
    std::fill(level.palette8.end() - 3, level.palette8.end(), 0xFF);
  }
  if (kind >= 3 && kind <= 5) put(level.textiles16, 2);
  if (kind >= 6) {
    put(level.textiles32, 4);
    level.textiles16.assign(2 * 131072, 0);
    level.tr4PageCounts = {2, 0, 0};
  }
  return level;
}

class PagesTest : public ::testing::Test {
protected:
  BinaryRun Run(const std::vector<std::string>& args) { return RunBinary(dir_, QM_TOOL_PATH, args); }
  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

TEST_F(PagesTest, EachKindsPagesComeOutAsTheirPixels) {
  const struct {
    int kind;
    Bytes a, b;
    Rgba wantA, wantB;
  } rows[] = {
      // 8-bit: the low 6 bits of each palette byte times 4; index 0 transparent.
      {1, {5}, {255}, {4, 252, 128, 255}, {252, 252, 252, 255}},
      {2, {5}, {0}, {4, 252, 128, 255}, {0, 0, 0, 0}},
      // 16-bit ARGB 1-5-5-5: c becomes (c << 3) | (c >> 2); alpha from the top bit.
      {3, {0x30, 0xFC}, {0xFF, 0x7F}, {255, 8, 132, 255}, {255, 255, 255, 0}},
      {4, {0x30, 0xFC}, {0x00, 0x80}, {255, 8, 132, 255}, {0, 0, 0, 255}},
      {5, {0x30, 0xFC}, {0xFF, 0x7F}, {255, 8, 132, 255}, {255, 255, 255, 0}},
      // 32-bit: stored blue, green, red, alpha.
      {6, {1, 2, 3, 4}, {0xFF, 0x80, 0x00, 0x7F}, {3, 2, 1, 4}, {0x00, 0x80, 0xFF, 0x7F}},
      {7, {1, 2, 3, 4}, {0xFF, 0x80, 0x00, 0x7F}, {3, 2, 1, 4}, {0x00, 0x80, 0xFF, 0x7F}},
      {8, {1, 2, 3, 4}, {0xFF, 0x80, 0x00, 0x7F}, {3, 2, 1, 4}, {0x00, 0x80, 0xFF, 0x7F}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind));
    const fs::path out = dir_ / ("out" + std::to_string(row.kind));
    WriteBytes(dir_ / "lvl", Build(TwoPages(row.kind, row.a, row.b)));
    const Bytes level = ReadBytes(dir_ / "lvl");
    const BinaryRun run = Run({"lvl", "/ExportPages", out.filename().string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + Lines({"Loading Level...", "Writing 2 pages...", "Done."}));
    const std::vector<Rgba> page0 = Decode(out / "page_000.png"), page1 = Decode(out / "page_001.png");
    ASSERT_EQ(page0.size(), 65536u);
    ASSERT_EQ(page1.size(), 65536u);
    EXPECT_EQ(page1[kPixel], row.wantA);
    EXPECT_EQ(page1[kLast], row.wantB);
    EXPECT_EQ(page1[0], (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(page0[kPixel], (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(ReadBytes(dir_ / "lvl"), level);
  }
}

TEST_F(PagesTest, RangesRefusalsAndFailuresTouchOnlyTheNamedPages) {
  WriteBytes(dir_ / "lvl.tr4", Build(TwoPages(6, {1, 2, 3, 4}, {5, 6, 7, 8})));
  WriteBytes(dir_ / "none.tr2", Build(EmptyLevel(Kind::TR2)));
  WriteBytes(dir_ / "blocker", Bytes{'x'});
  const std::string loading = "Loading Level...";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> out;
    int status;
    std::vector<std::string> files;  // what the folder "pics" holds afterwards
  } rows[] = {
      {{"lvl.tr4", "/ExportPages", "pics", "1"}, {loading, "Writing 1 pages...", "Done."}, 0, {"keep.txt", "page_001.png"}},
      {{"lvl.tr4", "/exportpages", "pics", "0", "0"}, {loading, "Writing 1 pages...", "Done."}, 0, {"keep.txt", "page_000.png"}},
      {{"lvl.tr4", "/ExportPages", "pics", "0", "99"}, {loading, "Writing 2 pages...", "Done."}, 0,
       {"keep.txt", "page_000.png", "page_001.png"}},
      {{"lvl.tr4", "/ExportPages", "pics", "2"}, {loading, "Page 2 is outside this level (pages 0 to 1)."}, 2, {"keep.txt"}},
      {{"lvl.tr4", "/ExportPages", "pics", "-1"}, {loading, "Page -1 is outside this level (pages 0 to 1)."}, 2, {"keep.txt"}},
      {{"none.tr2", "/ExportPages", "pics"}, {loading, "This level has no texture pages."}, 2, {"keep.txt"}},
      {{"lvl.tr4", "/ExportPages"}, {"Missing parameter"}, 2, {"keep.txt"}},
      {{"lvl.tr4", "/ExportPages", "--dry-run", "pics"},
       {loading, "Writing 2 pages...", "The pages were drawn; nothing was saved."}, 0, {"keep.txt"}},
  };
  const Bytes level = ReadBytes(dir_ / "lvl.tr4");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.at(row.args.size() - 1));
    fs::remove_all(dir_ / "pics");
    fs::create_directory(dir_ / "pics");
    WriteBytes(dir_ / "pics" / "keep.txt", Bytes{'k'});
    const BinaryRun run = Run(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, kBanner + Lines(row.out));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_ / "pics")) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, row.files);
    EXPECT_EQ(ReadBytes(dir_ / "pics" / "keep.txt"), Bytes{'k'});
    EXPECT_EQ(ReadBytes(dir_ / "lvl.tr4"), level);
  }

  // A missing folder is made, with its parents; a page file there is replaced.
  fs::create_directories(dir_ / "made" / "deep");
  WriteBytes(dir_ / "made" / "deep" / "page_001.png", Bytes{'o', 'l', 'd'});
  EXPECT_EQ(Run({"lvl.tr4", "/ExportPages", "made/deep", "1"}).status, 0);
  EXPECT_EQ(Decode(dir_ / "made" / "deep" / "page_001.png").at(kPixel), (Rgba{3, 2, 1, 4}));
  EXPECT_EQ(Run({"lvl.tr4", "/ExportPages", "new/sub"}).status, 0);
  EXPECT_EQ(Decode(dir_ / "new" / "sub" / "page_001.png").at(kLast), (Rgba{7, 6, 5, 8}));

  // A folder that cannot be made (a file stands in its way) fails with its name.
  const BinaryRun blocked = Run({"lvl.tr4", "/ExportPages", "blocker/pics"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.out,
            kBanner + Lines({loading, "Writing 2 pages...", "The folder could not be made.", "blocker/pics"}));
  EXPECT_EQ(ReadBytes(dir_ / "blocker"), Bytes{'x'});
}

// Real levels: every page the report counts comes out as a 256 x 256 picture,
// and the level is left as it was.
TEST_F(PagesTest, RealLevelsExportEveryPage) {
  if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  for (const char* name : {"tr1/TEST1.PHD", "tr2/TEST1.TR2", "tr3/TEST1.TR2", "tr4/TEST1.TR4", "trng/title.tr4",
                           "tr5/TEST1.TRC"}) {
    SCOPED_TRACE(name);
    const fs::path level = fs::path(QM_SHARED_LEVELS) / name;
    const Bytes before = ReadBytes(level);
    const std::string report = Run({level.string(), "/Info"}).out;
    const size_t at = report.find("Total Textures pages:");
    ASSERT_NE(at, std::string::npos);
    const int pages = std::stoi(report.substr(at + 21));
    ASSERT_GT(pages, 0);
    fs::remove_all(dir_ / "pics");
    const BinaryRun run = Run({level.string(), "/ExportPages", "pics"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + Lines({"Loading Level...", "Writing " + std::to_string(pages) + " pages...", "Done."}));
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(dir_ / "pics"), fs::directory_iterator())), size_t(pages));
    for (int page = 0; page < pages; ++page) {
      char file[32];
      std::snprintf(file, sizeof file, "page_%03d.png", page);
      EXPECT_EQ(Decode(dir_ / "pics" / file).size(), 65536u) << file;
    }
    EXPECT_EQ(ReadBytes(level), before);
  }
}

// Sets pixel i of page 1 to the bytes v in pages of bpp bytes a pixel.
void SetPixel(Bytes& pages, size_t bpp, size_t i, const Bytes& v) {
  std::copy(v.begin(), v.end(), pages.begin() + long(65536 * bpp + i * bpp));
}

// The picture the import tests put into page 1: kPixel near palette index 5,
// kLast near index 255, pixel 1 with alpha 127 (transparent), pixel 2 the
// colour of kPixel with alpha 128 (opaque), the rest opaque black (nearest to
// every zero palette entry: the lowest, index 1).
std::vector<uint8_t> TestPicture() {
  std::vector<uint8_t> rgba(65536 * 4, 0);
  for (size_t i = 0; i < 65536; ++i) rgba[i * 4 + 3] = 255;
  const auto set = [&](size_t i, Rgba c) { std::copy(c.begin(), c.end(), rgba.begin() + long(i * 4)); };
  set(kPixel, {8, 250, 130, 255});
  set(kLast, {250, 250, 250, 200});
  set(1, {1, 2, 3, 127});
  set(2, {8, 250, 130, 128});
  return rgba;
}

// The level of TwoPages whose page 1 holds TestPicture in every form of the kind.
BLevel WithTestPicture(int kind) {
  BLevel level = TwoPages(kind, Bytes(4, 0), Bytes(4, 0));
  const struct {
    Bytes* pages;
    size_t bpp;
    Bytes rest, pixel, last, clear, half;
  } forms[] = {
      {kind <= 5 ? &level.textiles8 : nullptr, 1, {1}, {5}, {255}, {0}, {5}},
      {kind >= 3 ? &level.textiles16 : nullptr, 2, {0x00, 0x80}, {0xF0, 0x87}, {0xFF, 0xFF}, {0x00, 0x00}, {0xF0, 0x87}},
      {kind >= 6 ? &level.textiles32 : nullptr, 4, {0, 0, 0, 255}, {130, 250, 8, 255}, {250, 250, 250, 200},
       {3, 2, 1, 127}, {130, 250, 8, 128}},
  };
  for (const auto& form : forms) {
    if (!form.pages) continue;
    for (size_t i = 0; i < 65536; ++i) SetPixel(*form.pages, form.bpp, i, form.rest);
    SetPixel(*form.pages, form.bpp, kPixel, form.pixel);
    SetPixel(*form.pages, form.bpp, kLast, form.last);
    SetPixel(*form.pages, form.bpp, 1, form.clear);
    SetPixel(*form.pages, form.bpp, 2, form.half);
  }
  return level;
}

TEST_F(PagesTest, ImportPutsThePictureIntoEveryFormOfThePage) {
  const std::string png = qm::EncodePng(TestPicture(), 256, 256);
  WriteBytes(dir_ / "pic.png", Bytes(png.begin(), png.end()));
  for (int kind = 1; kind <= 8; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    WriteBytes(dir_ / "lvl", Build(TwoPages(kind, {9, 9, 9, 9}, {7, 7, 7, 7})));
    const BinaryRun run = Run({"lvl", "/ImportPage", "1", "pic.png"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + Lines({"Loading Level...", "Replacing page 1...", "Saving the level...", "Done."}));
    EXPECT_EQ(Diff(ReadBytes(dir_ / "lvl"), Build(WithTestPicture(kind)), kind), "");
    if (kind < 6) continue;
    // 32-bit pages give back the picture exactly.
    ASSERT_EQ(Run({"lvl", "/ExportPages", "back", "1"}).status, 0);
    const std::vector<Rgba> back = Decode(dir_ / "back" / "page_001.png");
    ASSERT_EQ(back.size(), 65536u);
    const std::vector<uint8_t> want = TestPicture();
    for (size_t i = 0; i < 65536; ++i)
      ASSERT_EQ(back[i], (Rgba{want[i * 4], want[i * 4 + 1], want[i * 4 + 2], want[i * 4 + 3]})) << "pixel " << i;
  }
}

// Every refusal of a picture is one line and exit status 2, the level
// untouched. The runs go through `timeout`: a reader that waited on the FIFO
// would otherwise never end.
TEST_F(PagesTest, ImportRefusesBeforeTouchingTheLevel) {
  WriteBytes(dir_ / "lvl.tr2", Build(TwoPages(3, {1, 2}, {3, 4})));
  const std::string good = qm::EncodePng(TestPicture(), 256, 256);
  const std::string small = qm::EncodePng(std::vector<uint8_t>(255 * 256 * 4, 9), 255, 256);
  WriteBytes(dir_ / "good.png", Bytes(good.begin(), good.end()));
  WriteBytes(dir_ / "small.png", Bytes(small.begin(), small.end()));
  const std::string big = qm::EncodePng(std::vector<uint8_t>(256 * 300 * 4, 9), 256, 300);
  WriteBytes(dir_ / "big.png", Bytes(big.begin(), big.end()));
  WriteBytes(dir_ / "cut.png", Bytes(good.begin(), good.begin() + long(good.size() / 2)));
  WriteBytes(dir_ / "bitmap.png", Bytes{'B', 'M', 0, 0, 0, 0});
  // A header stating 100000 x 100000 and nothing after it.
  BPng huge;
  huge.width = huge.height = 100000;
  WriteBytes(dir_ / "huge.png", PngFile({PngChunk("IHDR", PngHeader(huge))}));
  fs::create_directory(dir_ / "pics");
  ASSERT_EQ(mkfifo((dir_ / "fifo.png").c_str(), 0600), 0);
  // Over 64 MiB, without taking the disk space (a sparse file).
  WriteBytes(dir_ / "large.png", Bytes(good.begin(), good.end()));
  fs::resize_file(dir_ / "large.png", (64u << 20) + 1);
  const Bytes level = ReadBytes(dir_ / "lvl.tr2");
  const std::string loading = "Loading Level...";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> out;
  } rows[] = {
      {{"lvl.tr2", "/ImportPage", "0", "small.png"}, {"The picture is 255 x 256 pixels; a page is 256 x 256."}},
      {{"lvl.tr2", "/ImportPage", "0", "big.png"}, {"The picture is 256 x 300 pixels; a page is 256 x 256."}},
      {{"lvl.tr2", "/ImportPage", "0", "huge.png"}, {"The picture is 100000 x 100000 pixels; a page is 256 x 256."}},
      {{"lvl.tr2", "/ImportPage", "0", "cut.png"}, {"The picture is damaged: the file ends inside chunk IDAT."}},
      {{"lvl.tr2", "/ImportPage", "0", "bitmap.png"}, {"The picture is not a PNG file."}},
      {{"lvl.tr2", "/ImportPage", "0", "none.png"}, {"none.png not found."}},
      {{"lvl.tr2", "/ImportPage", "0", "pics"}, {"pics is a folder, not a picture file."}},
      {{"lvl.tr2", "/ImportPage", "0", "fifo.png"}, {"fifo.png is not a regular file."}},
      {{"lvl.tr2", "/ImportPage", "0", "/dev/null"}, {"/dev/null is not a regular file."}},
      {{"lvl.tr2", "/ImportPage", "0", "large.png"}, {"The picture file is larger than 64 MiB."}},
      {{"lvl.tr2", "/ImportPage", "0"}, {"Missing parameter"}},
      {{"lvl.tr2", "/ImportPage", "2", "good.png"}, {loading, "Page 2 is outside this level (pages 0 to 1)."}},
      {{"lvl.tr2", "/ImportPage", "-1", "good.png"}, {loading, "Page -1 is outside this level (pages 0 to 1)."}},
      {{"lvl.tr2", "/ImportPage", "0", "good.png", "--dry-run"},
       {loading, "Replacing page 0...", "The page was converted; nothing was saved."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    std::vector<std::string> args = {"20", QM_TOOL_PATH};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const BinaryRun run = RunBinary(dir_, "timeout", args);
    EXPECT_EQ(run.status, row.out.size() == 3 ? 0 : 2);
    EXPECT_EQ(run.out, kBanner + Lines(row.out));
    EXPECT_EQ(ReadBytes(dir_ / "lvl.tr2"), level);
  }
}

// Real levels: page 0 imported from its own export exports the same again,
// and the report does not change.
TEST_F(PagesTest, RealLevelsTakeBackTheirOwnPage) {
  if (!fs::is_directory(QM_SHARED_LEVELS)) GTEST_SKIP() << "no real levels at " << QM_SHARED_LEVELS;
  for (const char* name : {"tr1/TEST1.PHD", "tr2/TEST1.TR2", "tr3/TEST1.TR2", "tr4/TEST1.TR4", "tr5/TEST1.TRC"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir_ / "lvl", ReadBytes(fs::path(QM_SHARED_LEVELS) / name));  // a writable copy
    const std::string report = Run({"lvl", "/Info"}).out;
    ASSERT_EQ(Run({"lvl", "/ExportPages", "a", "0", "0"}).status, 0);
    const BinaryRun run = Run({"lvl", "/ImportPage", "0", "a/page_000.png"});
    EXPECT_EQ(run.status, 0) << run.out;
    ASSERT_EQ(Run({"lvl", "/ExportPages", "b", "0", "0"}).status, 0);
    EXPECT_EQ(Decode(dir_ / "b" / "page_000.png"), Decode(dir_ / "a" / "page_000.png"));
    EXPECT_EQ(Run({"lvl", "/Info"}).out, report);
    fs::remove_all(dir_ / "a");
    fs::remove_all(dir_ / "b");
  }
}

}  // namespace
