// Test-only PNG builder (see pngbuilder.h).
#include "pngbuilder.h"

#include <zlib.h>

#include <stdexcept>

namespace qmtest {

namespace {

void PutBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The scanlines of the pixels at x0, x0 + dx, ... and y0, y0 + dy, ...
void AppendPass(const BPng& png, uint32_t x0, uint32_t y0, uint32_t dx, uint32_t dy, Bytes& out) {
  const unsigned channels = PngChannels(png.colourType);
  if (x0 >= png.width || y0 >= png.height) return;  // an empty pass has no scanlines
  for (uint32_t y = y0; y < png.height; y += dy) {
    out.push_back(0);  // filter type None
    unsigned bits = 0, filled = 0;
    for (uint32_t x = x0; x < png.width; x += dx)
      for (unsigned c = 0; c < channels; ++c) {
        const uint32_t v = png.sample(x, y, c);
        if (png.bitDepth == 16) {
          out.push_back(static_cast<uint8_t>(v >> 8));
          out.push_back(static_cast<uint8_t>(v));
        } else if (png.bitDepth == 8) {
          out.push_back(static_cast<uint8_t>(v));
        } else {  // samples packed from the high bit down
          bits = bits << png.bitDepth | (v & ((1u << png.bitDepth) - 1));
          filled += png.bitDepth;
          if (filled == 8) out.push_back(static_cast<uint8_t>(bits)), bits = 0, filled = 0;
        }
      }
    if (filled > 0) out.push_back(static_cast<uint8_t>(bits << (8 - filled)));
  }
}

}  // namespace

unsigned PngChannels(uint8_t colourType) {
  switch (colourType) {
    case 0: case 3: return 1;
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
  }
}

Bytes PngHeader(const BPng& png) {
  Bytes h;
  PutBe32(h, png.width);
  PutBe32(h, png.height);
  h.insert(h.end(), {png.bitDepth, png.colourType, 0, 0, static_cast<uint8_t>(png.interlaced ? 1 : 0)});
  return h;
}

Bytes PngImageData(const BPng& png) {
  if (PngChannels(png.colourType) == 0 || !png.sample) throw std::invalid_argument("PngImageData: no such picture");
  Bytes out;
  if (!png.interlaced) {
    AppendPass(png, 0, 0, 1, 1, out);
    return out;
  }
  const uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  for (const auto& p : passes) AppendPass(png, p[0], p[1], p[2], p[3], out);
  return out;
}

Bytes PngChunk(const std::string& name, const Bytes& data) {
  if (name.size() != 4) throw std::invalid_argument("PngChunk: a chunk name has four letters");
  Bytes out;
  out.reserve(data.size() + 12);
  PutBe32(out, static_cast<uint32_t>(data.size()));
  for (const char c : name) out.push_back(static_cast<uint8_t>(c));
  out.insert(out.end(), data.begin(), data.end());
  // The CRC-32 of name and data.
  const uLong crc = crc32(0, out.data() + 4, static_cast<uInt>(data.size() + 4));
  PutBe32(out, static_cast<uint32_t>(crc));
  return out;
}

Bytes PngFile(const std::vector<Bytes>& chunks) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const Bytes& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

Bytes BuildPng(const BPng& png) {
  std::vector<Bytes> chunks = {PngChunk("IHDR", PngHeader(png))};
  if (!png.palette.empty()) chunks.push_back(PngChunk("PLTE", png.palette));
  if (!png.transparency.empty()) chunks.push_back(PngChunk("tRNS", png.transparency));
  chunks.push_back(PngChunk("IDAT", Deflate(PngImageData(png))));
  chunks.push_back(PngChunk("IEND", {}));
  return PngFile(chunks);
}

}  // namespace qmtest
