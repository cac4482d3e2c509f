// PNG pictures of 8-bit RGBA pixels, encoded in memory, and the decoding of
// a PNG file whose parts were checked beforehand (pngread.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The PNG file of a width x height picture of RGBA pixels, rows top to
// bottom. Throws EQuillError when it cannot be encoded.
std::string EncodePng(const std::vector<uint8_t>& rgba, int width, int height);

// The PNG file of a width x height picture of RGB pixels, rows top to bottom,
// for pictures of thousands of pixels a side (the map): each row filtered by
// the row above and deflated by zlib as it goes. Throws EQuillError when it
// cannot be encoded.
std::string EncodeRgbPng(const std::vector<uint8_t>& rgb, int width, int height);

// The same for an indexed-colour picture: a byte a pixel, each an index into
// palette (red, green, blue of each of its 1 to 256 colours). Throws
// EQuillError when an index lies past the palette.
std::string EncodeIndexedPng(const std::vector<uint8_t>& indices, const std::vector<uint8_t>& palette, int width,
                             int height);

// Decodes a PNG file held in memory into the RGBA pixels of a side x side
// picture, rows top to bottom (16-bit samples keep their high byte). Only for
// files whose header, chunks and image data size were checked first: the
// decoder's own unpacking is bounded by those checks alone. False, with
// reason set, when the decoder refuses the file or its size is not side x side.
bool DecodeCheckedPng(const std::string& png, int side, std::vector<uint8_t>& rgba, std::string& reason);

} // namespace qm
