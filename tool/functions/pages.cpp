// Texture pages as RGBA pictures, and their export as PNG files.
#include "pages.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "errors.h"
#include "platform.h"
#include "png.h"
#include "utf8path.h"

namespace qm {

namespace {

constexpr size_t PagePixels = size_t(PageSide) * PageSide;

bool HasPages8(const Ttrlevel& L) { return L.LevelVersion == KindTR1 || L.LevelVersion == KindTUB; }
bool HasPages32(const Ttrlevel& L) { return L.LevelVersion >= KindTR4; }

// A 5-bit colour value spread over 8 bits, so that 31 becomes 255.
uint8_t Expand5(unsigned c) { return uint8_t((c << 3) | (c >> 2)); }

void Page8(const Ttrlevel& L, size_t first, std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < PagePixels; ++i) {
        const unsigned index = L.Textiles8.at(first + i);
        if (index == 0) continue;  // transparent: stays 0, 0, 0, 0
        for (size_t c = 0; c < 3; ++c) rgba[i * 4 + c] = uint8_t((L.Palette8.at(index * 3 + c) & 63) * 4);
        rgba[i * 4 + 3] = 255;
    }
}

void Page16(const Ttrlevel& L, size_t first, std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < PagePixels; ++i) {
        const unsigned v = unsigned(L.Textiles16.at(first + i * 2)) | unsigned(L.Textiles16.at(first + i * 2 + 1)) << 8;
        rgba[i * 4 + 0] = Expand5((v >> 10) & 31);
        rgba[i * 4 + 1] = Expand5((v >> 5) & 31);
        rgba[i * 4 + 2] = Expand5(v & 31);
        rgba[i * 4 + 3] = (v & 0x8000) ? 255 : 0;
    }
}

// Stored blue, green, red, alpha.
void Page32(const Ttrlevel& L, size_t first, std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < PagePixels; ++i) {
        const size_t at = first + i * 4;
        rgba[i * 4 + 0] = L.Textiles32.at(at + 2);
        rgba[i * 4 + 1] = L.Textiles32.at(at + 1);
        rgba[i * 4 + 2] = L.Textiles32.at(at + 0);
        rgba[i * 4 + 3] = L.Textiles32.at(at + 3);
    }
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

void MakeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(folder), error);
    if (error || !std::filesystem::is_directory(PathOf(folder), error))
        throw EQuillError("The folder could not be made", folder);
}

} // namespace

int32_t PictureCount(const Ttrlevel& L) {
    if (HasPages8(L)) return int32_t(L.Textiles8.size() / PagePixels);
    if (HasPages32(L)) return int32_t(L.Textiles32.size() / (PagePixels * 4));
    if (L.LevelVersion >= KindTR2) return int32_t(L.Textiles16.size() / (PagePixels * 2));
    return 0;
}

std::vector<uint8_t> PageRgba(const Ttrlevel& L, int32_t page) {
    if (page < 0 || page >= PictureCount(L)) throw EQuillError("No such texture page", "page " + std::to_string(page));
    std::vector<uint8_t> rgba(PagePixels * 4, 0);
    const size_t n = size_t(page);
    if (HasPages8(L)) Page8(L, n * PagePixels, rgba);
    else if (HasPages32(L)) Page32(L, n * PagePixels * 4, rgba);
    else Page16(L, n * PagePixels * 2, rgba);
    return rgba;
}

std::string PageFileName(int32_t page) {
    char name[32];
    std::snprintf(name, sizeof name, "page_%03d.png", int(page));
    return name;
}

std::string PageFilePath(const std::string& folder, int32_t page) {
    return Utf8Of(PathOf(folder) / PathOf(PageFileName(page)));
}

TWritten ExportPages(const Ttrlevel& L, const std::string& folder, int32_t from, int32_t to, bool dryRun,
                     TConsole& out) {
    const int32_t count = to - from + 1;
    out.Progress("Writing " + std::to_string(count) + " pages...");
    if (!dryRun) MakeFolder(folder);
    TWritten written{.What = TWritten::TWhat::Pages, .DryRun = dryRun};
    for (int32_t page = from; page <= to; ++page) {
        const std::string png = EncodePng(PageRgba(L, page), PageSide, PageSide);
        written.Files.push_back(PageFilePath(folder, page));
        if (!dryRun) StoreFileReplacing(written.Files.back(), {png.data()}, {png.size()});
    }
    return written;
}

} // namespace qm
