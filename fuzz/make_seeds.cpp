// Writes the seed corpora of the fuzz targets into the directory named by the
// first argument: level/ (a name selector byte, then a level file, or for
// kinds 6-8 also the level data alone; for the load and round-trip targets), container/ (files for the container target)
// number/ (texts for the number target) and picture/ (a mode byte, then a PNG
// file of each colour type and bit depth, plain and interlaced, or the
// choices of one; see picture_harness.h). Every level is small: no texture
// pages and a short misc chunk, so that mutations stay fast; every picture
// is 256 x 256 of large blocks of one colour, so that it packs small.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "levelbuilder.h"
#include "pngbuilder.h"

namespace {

bool ok = true;

void Write(const std::filesystem::path& path, const qmtest::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    ok = false;
  }
}

// The selector byte the fuzz targets turn into the extension that gives the kind.
uint8_t Selector(int kind) {
  static const uint8_t selectors[9] = {0, 0, 1, 2, 3, 2, 4, 5, 5};
  return selectors[kind];
}

qmtest::Bytes WithSelector(int kind, const qmtest::Bytes& file) {
  qmtest::Bytes seed(file.size() + 1, Selector(kind));
  std::copy(file.begin(), file.end(), seed.begin() + 1);
  return seed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds <directory>\n");
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  for (const char* sub : {"level", "container", "number", "picture"}) std::filesystem::create_directories(dir / sub);

  for (int kind = 1; kind <= 8; ++kind) {
    const std::string name = "kind" + std::to_string(kind);
    qmtest::BLevel level = qmtest::SampleLevel(kind, unsigned(kind));
    qmtest::FillPages(level, 0, unsigned(kind), 256);
    const qmtest::Bytes file = qmtest::Build(level);
    Write(dir / "level" / (name + ".bin"), WithSelector(kind, file));
    // One byte more after the level data or the tail: the round trip edits it.
    qmtest::Bytes edited = WithSelector(kind, file);
    edited.push_back(1);
    Write(dir / "level" / (name + "-edit.bin"), edited);
    Write(dir / "level" / (name + "-empty.bin"),
          WithSelector(kind, qmtest::Build(qmtest::EmptyLevel(qmtest::KindFromInt(kind)))));
    if (kind == 3 || kind == 6) {
      Write(dir / "level" / (name + "-zlib.bin"), WithSelector(kind, qmtest::WrapZlib(file)));
      Write(dir / "container" / (name + "-zlib.bin"), qmtest::WrapZlib(file));
      Write(dir / "container" / (name + ".bin"), file);
    }
    if (kind >= 6) {
      // The level data alone; the fuzz targets put it into chunk 4 themselves
      // (selectors from 128 on with the same kind; 132 is a multiple of 6), or
      // for TR5 raw after the TR5 fields (from 192 on; 192 is one too).
      qmtest::Bytes data = WithSelector(kind, qmtest::BuildLevelData(level));
      data[0] = uint8_t((kind == 8 ? 192 : 132) + data[0]);
      Write(dir / "level" / (name + "-data.bin"), data);
    }
    if (kind == 6 || kind == 7) {
      qmtest::SetNgTrailer(level, 16, 40, unsigned(kind));
      Write(dir / "level" / (name + "-ng.bin"), WithSelector(kind, qmtest::Build(level)));
    }
  }
  Write(dir / "container" / "short.bin", qmtest::WrapZlib(qmtest::Bytes{1, 2, 3}));

  const char* numbers[] = {"0", "  -2147483648", "+2147483647", "$FFFFFFFF", "0x7fffffff", "X0000000010", "00012"};
  int i = 0;
  for (const char* text : numbers) {
    const std::string s(text);
    Write(dir / "number" / std::to_string(i++), qmtest::Bytes(s.begin(), s.end()));
  }

  const uint8_t forms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                              {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  for (uint8_t f = 0; f < std::size(forms); ++f)
    for (const bool interlaced : {false, true}) {
      qmtest::BPng png;
      png.colourType = forms[f][0];
      png.bitDepth = forms[f][1];
      png.interlaced = interlaced;
      const uint32_t mask = png.bitDepth == 16 ? 0xFFFF : (1u << png.bitDepth) - 1;
      png.sample = [mask](uint32_t x, uint32_t y, unsigned c) { return ((x >> 5) * 40503u + (y >> 5) * 9973u + c * 211u) & mask; };
      if (png.colourType == 3) {
        png.palette.resize(size_t(mask + 1) * 3);
        for (size_t i = 0; i < png.palette.size(); ++i) png.palette[i] = uint8_t(i * 29);
        png.transparency = {0, 128};
      } else if (png.colourType == 0 || png.colourType == 2) {
        png.transparency.assign(png.colourType == 0 ? 2 : 6, 1);
      }
      // Joined by append: g++ 12 warns falsely of overlapping copies for "t" + std::string&&.
      const std::string name = std::string("t").append(std::to_string(forms[f][0])).append("d")
                                   .append(std::to_string(forms[f][1])).append(interlaced ? "i" : "");
      qmtest::Bytes file = qmtest::BuildPng(png);
      file.insert(file.begin(), 0);  // read as it is
      Write(dir / "picture" / (name + ".bin"), file);
      file[0] = 1;  // check sums set right before reading
      Write(dir / "picture" / (name + "-crc.bin"), file);
      // The choices of a sound picture: form, interlacing and palette size,
      // transparency, image data bytes.
      Write(dir / "picture" / (name + "-built.bin"), {2, f, uint8_t(interlaced ? 9 : 8), 3, 0, 0, 1, 2, 3});
    }
  return ok ? 0 : 1;
}
