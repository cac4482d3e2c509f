// Texture pages replaced from pictures.
#include "pageimport.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "pages.h"
#include "png.h"
#include "utf8path.h"

namespace qm {

namespace {

constexpr size_t PagePixels = size_t(PageSide) * PageSide;

uint16_t Argb1555(const uint8_t* p) {
    const unsigned alpha = p[3] >= 128 ? 0x8000u : 0u;
    return uint16_t(alpha | unsigned(p[0] >> 3) << 10 | unsigned(p[1] >> 3) << 5 | unsigned(p[2] >> 3));
}

void Put8(Ttrlevel& L, size_t first, const std::vector<uint8_t>& rgba) {
    // Neighbouring pixels often share a colour: the last answer is kept.
    uint32_t lastColour = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (size_t i = 0; i < PagePixels; ++i) {
        const uint8_t* p = &rgba.at(i * 4);
        if (p[3] < 128) {
            L.Textiles8.at(first + i) = 0;
            continue;
        }
        const uint32_t colour = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        if (colour != lastColour) lastIndex = NearestIndex(L, p[0], p[1], p[2]);
        lastColour = colour;
        L.Textiles8.at(first + i) = lastIndex;
    }
}

void Put16(Ttrlevel& L, size_t first, const std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < PagePixels; ++i) {
        const uint16_t v = Argb1555(&rgba.at(i * 4));
        L.Textiles16.at(first + i * 2) = uint8_t(v & 0xFF);
        L.Textiles16.at(first + i * 2 + 1) = uint8_t(v >> 8);
    }
}

void Put32(Ttrlevel& L, size_t first, const std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < PagePixels; ++i) {
        const uint8_t* p = &rgba.at(i * 4);
        L.Textiles32.at(first + i * 4 + 0) = p[2];
        L.Textiles32.at(first + i * 4 + 1) = p[1];
        L.Textiles32.at(first + i * 4 + 2) = p[0];
        L.Textiles32.at(first + i * 4 + 3) = p[3];
    }
}

// Whether the level holds whole page `page` of `bytesPerPixel` in `pages`.
template <class TPages>
bool Holds(const TPages& pages, size_t page, size_t bytesPerPixel) {
    return pages.size() / (PagePixels * bytesPerPixel) > page;
}

} // namespace

std::vector<uint8_t> ReadPagePicture(const std::string& fileName, const char*& refusal) {
    std::ifstream in(PathOf(fileName), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    refusal = nullptr;
    if (!in.good() && !in.eof()) refusal = "The picture file cannot be read.";
    else if (!DecodePng(bytes, rgba, width, height, PageSide)) refusal = "The picture is not a PNG file.";
    else if (width != PageSide || height != PageSide) refusal = "The picture must be 256 x 256 pixels.";
    if (refusal) rgba.clear();
    return rgba;
}

std::string PageRefusal(const Ttrlevel& L, int32_t page) {
    const int32_t count = PictureCount(L);
    if (count <= 0) return "This level has no texture pages.";
    if (page >= 0 && page < count) return "";
    return "Page " + std::to_string(page) + " is outside this level (pages 0 to " + std::to_string(count - 1) + ").";
}

uint8_t NearestIndex(const Ttrlevel& L, uint8_t r, uint8_t g, uint8_t b) {
    const std::array<int, 3> want = {r, g, b};
    uint8_t best = 1;
    int bestDistance = -1;
    for (int index = 1; index <= 255; ++index) {
        int distance = 0;
        for (size_t c = 0; c < 3; ++c) {
            const int d = (L.Palette8.at(size_t(index) * 3 + c) & 63) * 4 - want[c];
            distance += d * d;
        }
        if (bestDistance < 0 || distance < bestDistance) {
            best = uint8_t(index);
            bestDistance = distance;
        }
    }
    return best;
}

void ImportPage(Ttrlevel& L, int32_t page, const std::vector<uint8_t>& rgba) {
    const size_t n = size_t(page);
    if (L.LevelVersion >= KindTR4) {
        Put32(L, n * PagePixels * 4, rgba);
        if (Holds(L.Textiles16, n, 2)) Put16(L, n * PagePixels * 2, rgba);
        return;
    }
    if (L.LevelVersion >= KindTR2 && Holds(L.Textiles16, n, 2)) Put16(L, n * PagePixels * 2, rgba);
    if (Holds(L.Textiles8, n, 1)) Put8(L, n * PagePixels, rgba);
}

} // namespace qm
