// "/ImportPage N FILE.png": a texture page replaced by a 256 x 256 picture,
// converted into every form of the page the kind keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pngread.h"
#include "trlevel.h"

namespace qm {

// The largest picture file that is read: a 256 x 256 PNG of any colour type
// and bit depth needs far less.
constexpr int64_t MaxPictureFileBytes = int64_t{64} << 20;

// The picture file fileName as a page's picture (ReadPagePng), or the line
// that refuses it: not found, a folder, not a regular file (a FIFO or device
// is refused without waiting for data), larger than MaxPictureFileBytes, not
// readable, or refused by ReadPagePng.
TPagePicture ReadPagePicture(const std::string& fileName);

// The picture of fileName as read the first time this process asked for it:
// a run reads and decodes its picture once, however many levels it goes
// into, also when several threads ask at once.
const TPagePicture& PagePicture(const std::string& fileName);

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
