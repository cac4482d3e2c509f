// The level's texture pages as pictures: each 256 x 256 page as RGBA pixels,
// and "/ExportPages FOLDER", which stores pages as PNG files in a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console.h"
#include "result.h"
#include "trlevel.h"

namespace qm {

constexpr int PageSide = 256;

// The number of whole pages in the form the kind's pictures come from: the
// 8-bit pages (TR1, .TUB), the 16-bit pages (TR2, .TRG, TR3) or the 32-bit
// pages of the first chunk (TR4 family, TR5).
int32_t PictureCount(const Ttrlevel& L);

// Page `page` (0 .. PictureCount - 1) as RGBA pixels, rows top to bottom:
// 8-bit pages through the palette (each 6-bit value times 4; index 0
// transparent), 16-bit pages from ARGB 1-5-5-5, 32-bit pages as stored.
std::vector<uint8_t> PageRgba(const Ttrlevel& L, int32_t page);

// The file name of a page in the export folder: page_000.png, page_001.png ...
std::string PageFileName(int32_t page);

// The file of a page in the export folder: folder/page_000.png ...
std::string PageFilePath(const std::string& folder, int32_t page);

// Stores pages from .. to as PNG files in folder (made when missing), each
// replaced crash-safely; with dryRun, encodes them and stores nothing. The
// progress line goes to out. Returns the files written, or with dryRun those
// that would be. Throws EQuillError (the folder as place) when the folder
// cannot be made.
TWritten ExportPages(const Ttrlevel& L, const std::string& folder, int32_t from, int32_t to, bool dryRun,
                     TConsole& out);

} // namespace qm
