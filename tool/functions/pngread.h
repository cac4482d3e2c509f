// Reading a texture page's picture from a PNG file with every part checked
// before it is used, so that no file can make the reader wait, read out of
// bounds or take more memory than a page's picture needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm {

// Reads up to n bytes into dest and returns how many; 0 only at the end of
// the bytes. May throw EQuillError when the bytes cannot be read.
using TByteSource = std::function<size_t(uint8_t* dest, size_t n)>;

// A page's picture: its pixels, or the one line that refuses it.
struct TPagePicture {
    std::vector<uint8_t> Rgba;  // 256 x 256 RGBA pixels, rows top to bottom; empty when refused
    std::string Refusal;        // empty when the picture was read
};

// The bytes of image data (every scanline with its filter byte, the seven
// passes of an interlaced picture one after the other) a PNG picture of this
// size, colour type and bit depth holds; 0 for a colour type and bit depth
// PNG does not have.
uint64_t PngImageBytes(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth, bool interlaced);

// Reads a 256 x 256 PNG picture from source, in this order: the signature;
// the header chunk first, its check sum, the size (any other is refused
// before anything more is read) and the colour type, bit depth and methods;
// then every chunk with its check sum, the image data unpacked as it comes
// into a buffer of exactly the size the header calls for (a stream that
// unpacks to more is refused at the first byte too many, one that ends short
// or fails its own check sum is refused too), up to the end chunk. Only then
// is the picture decoded, from the checked parts. Bytes after the end chunk
// are not read. Exceptions of the source pass through.
TPagePicture ReadPagePng(const TByteSource& source);

} // namespace qm
