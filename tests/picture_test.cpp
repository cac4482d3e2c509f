// The picture reader of /ImportPage: PNG files of every colour type, bit
// depth and interlacing give their pixels; damaged, cut and hostile files are
// refused with what is wrong, before the level is loaded, within a bound of
// memory; a run reads its picture once. The pictures come from the test PNG
// builder, never from the tool's own writer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <fstream>

#include "binary_run.h"
#include "pageimport.h"
#include "pngbuilder.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

constexpr uint64_t MiB = uint64_t{1} << 20;

// A TR4 level with one texture page of zero bytes.
Bytes OnePageLevel() {
  BLevel level = EmptyLevel(KindFromInt(6));
  level.textiles32.assign(262144, 0);
  level.textiles16.assign(131072, 0);
  level.tr4PageCounts = {1, 0, 0};
  return Build(level);
}

// A 256 x 256 picture of the colour type and depth whose samples run through
// the depth's whole range.
BPng Pattern(uint8_t colourType, uint8_t depth, bool interlaced) {
  BPng png;
  png.colourType = colourType;
  png.bitDepth = depth;
  png.interlaced = interlaced;
  png.sample = [depth](uint32_t x, uint32_t y, unsigned c) {
    return (x * 257 + y * 131 + c * 4099) & ((depth == 16 ? 0x10000u : 1u << depth) - 1);
  };
  return png;
}

// The RGBA pixel a decoder must give for pixel (x, y) of the picture: grey and
// colour samples scaled to 8 bits (16-bit ones keep their high byte), palette
// entries past the palette opaque black, the tRNS colour or entry alphas.
std::array<uint8_t, 4> Expected(const BPng& png, uint32_t x, uint32_t y) {
  const auto scale = [&](uint32_t v) {
    return uint8_t(png.bitDepth == 16 ? v >> 8 : png.bitDepth == 8 ? v : v * 255 / ((1u << png.bitDepth) - 1));
  };
  const auto s = [&](unsigned c) { return png.sample(x, y, c); };
  const auto key = [&](unsigned c) { return uint32_t(png.transparency.at(c * 2)) << 8 | png.transparency.at(c * 2 + 1); };
  switch (png.colourType) {
    case 0: {
      const bool clear = !png.transparency.empty() && s(0) == key(0);
      return {scale(s(0)), scale(s(0)), scale(s(0)), uint8_t(clear ? 0 : 255)};
    }
    case 2: {
      const bool clear = !png.transparency.empty() && s(0) == key(0) && s(1) == key(1) && s(2) == key(2);
      return {scale(s(0)), scale(s(1)), scale(s(2)), uint8_t(clear ? 0 : 255)};
    }
    case 3: {
      const size_t i = s(0);
      const uint8_t alpha = i < png.transparency.size() ? png.transparency[i] : 255;
      if (i * 3 >= png.palette.size()) return {0, 0, 0, alpha};
      return {png.palette[i * 3], png.palette[i * 3 + 1], png.palette[i * 3 + 2], alpha};
    }
    case 4: return {scale(s(0)), scale(s(0)), scale(s(0)), scale(s(1))};
    default: return {scale(s(0)), scale(s(1)), scale(s(2)), scale(s(3))};
  }
}

Bytes Palette(size_t entries) {
  Bytes p;
  for (size_t i = 0; i < entries; ++i) p.insert(p.end(), {uint8_t(i * 3 + 1), uint8_t(255 - i), uint8_t(i * 7)});
  return p;
}

TEST(PictureTest, EveryColourTypeDepthAndInterlacingGivesItsPixels) {
  ScratchDir scratch;
  const struct Row {
    uint8_t type, depth;
    bool interlaced;
    Bytes palette, transparency;
  } rows[] = {
      {0, 1, false, {}, {}},
      {0, 2, true, {}, {}},
      {0, 4, false, {}, {0, 5}},
      {0, 8, true, {}, {0, 200}},
      {0, 16, false, {}, {0x12, 0x34}},
      {2, 8, false, {}, {0, 7, 0, 6, 0, 5}},
      {2, 16, true, {}, {}},
      {3, 1, false, Palette(2), {}},
      {3, 2, true, Palette(3), {}},  // index 3 is past the palette
      {3, 4, false, Palette(16), {0, 64, 127, 128, 255}},
      {3, 8, true, Palette(256), Palette(60)},
      {4, 8, false, {}, {}},
      {4, 16, true, {}, {}},
      {6, 8, true, {}, {}},
      {6, 16, false, {}, {}},
  };
  for (const Row& row : rows) {
    const std::string name = "t" + std::to_string(row.type) + "d" + std::to_string(row.depth) + (row.interlaced ? "i" : "");
    SCOPED_TRACE(name);
    BPng png = Pattern(row.type, row.depth, row.interlaced);
    png.palette = row.palette;
    png.transparency = row.transparency;
    const fs::path file = scratch.path / (name + ".png");
    WriteBytes(file, BuildPng(png));
    const qm::TPagePicture picture = qm::ReadPagePicture(file.string());
    ASSERT_EQ(picture.Refusal, "");
    ASSERT_EQ(picture.Rgba.size(), 256u * 256 * 4);
    for (uint32_t i = 0; i < 256 * 256; ++i) {
      const std::array<uint8_t, 4> want = Expected(png, i % 256, i / 256);
      ASSERT_EQ((std::array<uint8_t, 4>{picture.Rgba[i * 4], picture.Rgba[i * 4 + 1], picture.Rgba[i * 4 + 2],
                                        picture.Rgba[i * 4 + 3]}),
                want)
          << "pixel " << i % 256 << ", " << i / 256;
    }
  }
}

// The chunks of a good picture: IHDR, IDAT, IEND.
std::vector<Bytes> GoodChunks(const BPng& png = Pattern(6, 8, false)) {
  return {PngChunk("IHDR", PngHeader(png)), PngChunk("IDAT", Deflate(PngImageData(png))), PngChunk("IEND", {})};
}

// A zlib stream of the data, cut to `keep` bytes (all when 0).
Bytes Stream(const Bytes& data, size_t keep = 0) {
  Bytes s = Deflate(data);
  if (keep > 0) s.resize(keep);
  return s;
}

TEST(PictureTest, DamagedCutAndOddPicturesAreRefusedWithWhatIsWrong) {
  ScratchDir scratch;
  const BPng rgba = Pattern(6, 8, false);
  const Bytes data = PngImageData(rgba);
  const std::vector<Bytes> good = GoodChunks();
  const Bytes goodFile = PngFile(good);
  const Bytes ihdr = good[0], iend = good[2];
  // The data of the good file's IDAT, changed in place.
  const size_t idatData = 8 + ihdr.size() + 8;
  Bytes flipped = goodFile;
  flipped[idatData + 1000] ^= 0x10;
  Bytes badAdler = Stream(data);
  badAdler.back() ^= 1;
  Bytes badFilter = data;
  badFilter[0] = 7;  // filter types are 0-4
  BPng grey2 = Pattern(2, 8, false);
  grey2.bitDepth = 4;  // RGB has no 4-bit samples
  BPng wide = rgba;
  wide.width = 0;
  Bytes badIhdr = ihdr;
  badIhdr[10] ^= 1;
  Bytes hugeLength = good[1];
  hugeLength[0] = 0x80;
  Bytes notLetters = PngChunk("tE1t", {1, 2});
  // The image data in pieces of 1000 bytes, each its own IDAT chunk.
  std::vector<Bytes> pieces = {ihdr, PngChunk("tEXt", {'a', 0, 'b'})};
  const Bytes whole = Stream(data);
  for (size_t at = 0; at < whole.size(); at += 1000)
    pieces.push_back(PngChunk("IDAT", Bytes(whole.begin() + long(at), whole.begin() + long(std::min(at + 1000, whole.size())))));
  pieces.push_back(iend);
  Bytes trailing = goodFile;
  trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
  const BPng palette = Pattern(3, 8, false);
  Bytes more = data;
  more.insert(more.end(), 600, 0);
  const std::string damaged = "The picture is damaged: ";
  const struct {
    const char* name;
    Bytes file;
    std::string refusal;  // empty: imported
  } rows[] = {
      {"flipped", flipped, damaged + "chunk IDAT fails its check sum."},
      {"adler", PngFile({ihdr, PngChunk("IDAT", badAdler), iend}), damaged + "its image data fails its check sum."},
      {"cut_idat", Bytes(goodFile.begin(), goodFile.begin() + long(idatData + 50)), damaged + "the file ends inside chunk IDAT."},
      {"cut_crc", Bytes(goodFile.begin(), goodFile.end() - long(iend.size() + 2)), damaged + "the file ends inside chunk IDAT."},
      {"no_iend", Bytes(goodFile.begin(), goodFile.end() - long(iend.size())), damaged + "the file ends before chunk IEND."},
      {"signature", Bytes(goodFile.begin(), goodFile.begin() + 8), damaged + "the file ends before chunk IHDR."},
      {"short", Bytes(goodFile.begin(), goodFile.begin() + 5), "The picture is not a PNG file."},
      {"text_first", PngFile({PngChunk("tEXt", {'a', 0, 'b'}), ihdr, good[1], iend}), damaged + "it does not start with chunk IHDR."},
      {"ihdr_crc", PngFile({badIhdr, good[1], iend}), damaged + "chunk IHDR fails its check sum."},
      {"ihdr_depth", PngFile({PngChunk("IHDR", PngHeader(grey2)), good[1], iend}),
       damaged + "chunk IHDR states a colour type, bit depth or method PNG does not have."},
      {"ihdr_zero", PngFile({PngChunk("IHDR", PngHeader(wide)), good[1], iend}), damaged + "chunk IHDR states a size PNG does not allow."},
      {"ihdr_long", PngFile({PngChunk("IHDR", Bytes(14, 1)), good[1], iend}), damaged + "chunk IHDR is not 13 bytes long."},
      {"more", PngFile({ihdr, PngChunk("IDAT", Stream(more)), iend}),
       damaged + "its image data unpacks to more than a 256 x 256 picture holds."},
      {"less", PngFile({ihdr, PngChunk("IDAT", Stream(Bytes(data.begin(), data.end() - 1))), iend}),
       damaged + "its image data unpacks to less than a 256 x 256 picture holds."},
      {"stream_cut", PngFile({ihdr, PngChunk("IDAT", Stream(data, 500)), iend}),
       damaged + "its image data stops before its compressed stream ends."},
      {"no_idat", PngFile({ihdr, iend}), damaged + "it has no image data (chunk IDAT)."},
      {"no_palette", PngFile(GoodChunks(palette)), damaged + "it has no palette (chunk PLTE)."},
      {"trns_long", PngFile({PngChunk("IHDR", PngHeader(palette)), PngChunk("PLTE", Palette(4)), PngChunk("tRNS", Bytes(5, 9)),
                             PngChunk("IDAT", Stream(PngImageData(palette))), iend}),
       damaged + "chunk tRNS does not fit the picture's colour type."},
      {"critical", PngFile({ihdr, PngChunk("ABCD", {}), good[1], iend}), "The picture needs chunk ABCD, which is not part of PNG."},
      {"name", PngFile({ihdr, notLetters, good[1], iend}), damaged + "a chunk's name is not four letters."},
      {"length", PngFile({ihdr, hugeLength, iend}), damaged + "chunk IDAT states a length PNG does not allow."},
      {"filter", PngFile({ihdr, PngChunk("IDAT", Stream(badFilter)), iend}),
       damaged + "its pixels cannot be decoded (invalid filter)."},
      // Sound pictures: the image data over several chunks after an
      // ancillary chunk, and bytes after the end chunk.
      {"pieces", PngFile(pieces), ""},
      {"trailing", trailing, ""},
  };
  WriteBytes(scratch.path / "lvl.tr4", OnePageLevel());
  const Bytes before = ReadBytes(scratch.path / "lvl.tr4");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = std::string(row.name) + ".png";
    WriteBytes(scratch.path / file, row.file);
    const BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, {"-n", "lvl.tr4", "/ImportPage", "0", file});
    if (row.refusal.empty()) {
      EXPECT_EQ(run.status, 0) << run.out;
      continue;
    }
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kBanner + Lines({row.refusal}));
    EXPECT_EQ(ReadBytes(scratch.path / "lvl.tr4"), before);
  }
}

// A zlib stream of `bytes` zeros (a whole number of MiB) whose end is never
// reached by a sound reader: 1 MiB of zeros packed once, repeated.
Bytes ZeroBomb(uint64_t bytes) {
  const Bytes zeros(MiB);
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes segment(64 * 1024);
  s.next_in = const_cast<Bytef*>(zeros.data());
  s.avail_in = uInt(zeros.size());
  s.next_out = segment.data();
  s.avail_out = uInt(segment.size());
  EXPECT_EQ(deflate(&s, Z_SYNC_FLUSH), Z_OK);
  segment.resize(s.total_out);
  deflateEnd(&s);
  Bytes stream = {0x78, 0xDA};
  for (uint64_t n = 0; n < bytes; n += MiB) stream.insert(stream.end(), segment.begin(), segment.end());
  stream.insert(stream.end(), {0x03, 0x00, 0, 0, 0, 1});  // an empty final block; the check value is not reached
  return stream;
}

// Runs the real program with output to a file; its exit status, output and
// peak resident memory (of the child alone, from wait4).
struct MeasuredRun {
  int status = -1;
  std::string out;
  long peakKiB = 0;
};
MeasuredRun RunMeasured(const fs::path& dir, const std::vector<std::string>& args) {
  const std::string out = (dir / "out.txt").string();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0 || !std::freopen(out.c_str(), "wb", stdout)) _exit(99);
    std::vector<char*> argv = {const_cast<char*>(QM_TOOL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_TOOL_PATH, argv.data());
    _exit(98);
  }
  MeasuredRun r;
  int status = 0;
  rusage usage{};
  EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.peakKiB = usage.ru_maxrss;
  const Bytes text = ReadBytes(out);
  r.out.assign(text.begin(), text.end());
  return r;
}

// A PNG stating 256 x 256 whose image data unpacks to 256 MiB is refused at
// the first byte past the picture, within the level's memory bound (twice
// its size and 64 MiB) and 16 MiB for the picture.
TEST(PictureTest, AnInflateBombIsRefusedWithinTheMemoryBound) {
  ScratchDir scratch;
  WriteBytes(scratch.path / "lvl.tr4", OnePageLevel());
  const Bytes before = ReadBytes(scratch.path / "lvl.tr4");
  const std::vector<Bytes> good = GoodChunks();
  for (const char* name : {"bomb.png", "bomb_pieces.png"}) {
    SCOPED_TRACE(name);
    const Bytes stream = ZeroBomb(256 * MiB);
    std::vector<Bytes> chunks = {good[0]};
    // One IDAT chunk, or the stream in chunks of 8 KiB as many writers store it.
    const size_t piece = name == std::string("bomb.png") ? stream.size() : 8192;
    for (size_t at = 0; at < stream.size(); at += piece)
      chunks.push_back(PngChunk("IDAT", Bytes(stream.begin() + long(at), stream.begin() + long(std::min(at + piece, stream.size())))));
    chunks.push_back(good[2]);
    WriteBytes(scratch.path / name, PngFile(chunks));
    const MeasuredRun run = RunMeasured(scratch.path, {"lvl.tr4", "/ImportPage", "0", name});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kBanner + Lines({"The picture is damaged: its image data unpacks to more than a 256 x 256 picture holds."}));
    EXPECT_EQ(ReadBytes(scratch.path / "lvl.tr4"), before);
#if !defined(__SANITIZE_ADDRESS__)
    const long bound = long((2 * before.size() + 64 * MiB + 16 * MiB) / 1024);
    EXPECT_LE(run.peakKiB, bound) << "peak " << run.peakKiB << " KiB";
#endif
  }
}

// With several levels, the picture file is opened once in the whole run (seen
// through the system calls the run makes).
TEST(PictureTest, ARunReadsItsPictureOnce) {
  if (std::system("strace -f -qq -e trace=none true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
  ScratchDir scratch;
  WriteBytes(scratch.path / "a.tr4", OnePageLevel());
  WriteBytes(scratch.path / "b.tr4", OnePageLevel());
  WriteBytes(scratch.path / "pic.png", PngFile(GoodChunks()));
  // The leak checker of a sanitizer build cannot work under strace: it is off for this run.
  const BinaryRun run = RunBinary(scratch.path, "env",
                                  {"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1", "strace", "-f", "-qq", "-e", "trace=open,openat", "-o", "calls.txt", QM_TOOL_PATH, "-q",
                                   "--jobs", "2", "a.tr4", "b.tr4", "/ImportPage", "0", "pic.png"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::ifstream calls(scratch.path / "calls.txt");
  int opens = 0;
  for (std::string line; std::getline(calls, line);) opens += line.find("\"pic.png\"") != std::string::npos;
  EXPECT_EQ(opens, 1);
}

}  // namespace
