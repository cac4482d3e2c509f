// Test-only builder of PNG files, byte by byte, from a description of the
// picture sample by sample. It shares no code with the picture reader under
// test: the scanlines, the passes of an interlaced picture and the chunks are
// laid out here on their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "levelbuilder.h"

namespace qmtest {

// A PNG picture: its header fields and its samples.
struct BPng {
  uint32_t width = 256, height = 256;
  uint8_t colourType = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
  uint8_t bitDepth = 8;
  bool interlaced = false;
  // Sample c of the pixel at column x, row y, within the bit depth's range
  // (a palette index for colour type 3).
  std::function<uint32_t(uint32_t x, uint32_t y, unsigned c)> sample;
  Bytes palette;       // the PLTE chunk's data; written when not empty
  Bytes transparency;  // the tRNS chunk's data; written when not empty
};

// The samples per pixel of a colour type (0 for one PNG does not have).
unsigned PngChannels(uint8_t colourType);

// The 13 bytes of the header chunk's data.
Bytes PngHeader(const BPng& png);
// The image data before compression: the scanlines of every pass (one pass
// unless interlaced), each with filter byte 0.
Bytes PngImageData(const BPng& png);
// One chunk: length, name, data, CRC-32 of name and data.
Bytes PngChunk(const std::string& name, const Bytes& data);
// The signature, then the chunks as given.
Bytes PngFile(const std::vector<Bytes>& chunks);
// A whole file: IHDR, PLTE, tRNS, one IDAT of Deflate(PngImageData), IEND.
Bytes BuildPng(const BPng& png);

}  // namespace qmtest
