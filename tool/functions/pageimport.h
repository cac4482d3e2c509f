// "/ImportPage N FILE.png": a texture page replaced by a 256 x 256 picture,
// converted into every form of the page the kind keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trlevel.h"

namespace qm {

// The RGBA pixels of a 256 x 256 PNG file (any colour type), rows top to
// bottom; empty with refusal set to the one-line message when the file cannot
// be read, is not a PNG or has another size.
std::vector<uint8_t> ReadPagePicture(const std::string& fileName, const char*& refusal);

// The refusal of a page number the level does not have, or "".
std::string PageRefusal(const Ttrlevel& L, int32_t page);

// The palette index (1-255) whose colour, as exported, is nearest to r, g, b
// by squared distance, the lowest on ties.
uint8_t NearestIndex(const Ttrlevel& L, uint8_t r, uint8_t g, uint8_t b);

// Replaces page `page` (inside the level) with the pixels: 8-bit pages take the
// nearest palette index (alpha below 128: index 0), 16-bit pages ARGB 1-5-5-5,
// 32-bit pages blue, green, red, alpha.
void ImportPage(Ttrlevel& L, int32_t page, const std::vector<uint8_t>& rgba);

} // namespace qm
