// PNG pictures of 8-bit RGBA pixels, encoded in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The PNG file of a width x height picture of RGBA pixels, rows top to
// bottom. Throws EQuillError when it cannot be encoded.
std::string EncodePng(const std::vector<uint8_t>& rgba, int width, int height);

// Decodes a PNG file (any colour type) into RGBA pixels and its size; false
// when the bytes are not a whole PNG file. A picture wider or higher than
// maxSide is not decoded: its size is set and rgba left empty.
bool DecodePng(const std::string& file, std::vector<uint8_t>& rgba, int& width, int& height, int maxSide);

} // namespace qm
