// Texture pages replaced from pictures.
#include "pageimport.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <mutex>

#include "errors.h"
#include "pages.h"
#include "platform.h"
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

// The line that refuses a name that is no regular file, or "". Only the
// name is looked at: a FIFO or a device is not opened.
std::string NameRefusal(const std::string& fileName) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_type type = fs::status(PathOf(fileName), error).type();
    if (type == fs::file_type::not_found) return fileName + " not found.";
    if (type == fs::file_type::directory) return fileName + " is a folder, not a picture file.";
    if (type != fs::file_type::regular && type != fs::file_type::none) return fileName + " is not a regular file.";
    return "";
}

TPagePicture Refused(std::string refusal) { return TPagePicture{.Rgba = {}, .Refusal = std::move(refusal)}; }

} // namespace

TPagePicture ReadPagePicture(const std::string& fileName) {
    if (std::string refusal = NameRefusal(fileName); !refusal.empty()) return Refused(std::move(refusal));
    const std::string unreadable = "The picture file cannot be read.";
    try {
        // Opened without waiting and kept only when it is a regular file, as a level is.
        TDiskFile file;
        file.OpenRead(fileName);
        const int64_t size = file.Stamp().Size;
        if (size > MaxPictureFileBytes) return Refused("The picture file is larger than 64 MiB.");
        int64_t offset = 0;
        return ReadPagePng([&](uint8_t* dest, size_t n) {
            const size_t piece = size_t(std::min<int64_t>(int64_t(n), size - offset));
            file.ReadAt(offset, dest, int64_t(piece));
            offset += int64_t(piece);
            return piece;
        });
    } catch (const EInOutError& e) {
        return Refused(e.Code == EInOutError::FileNotFound ? fileName + " not found." : unreadable);
    } catch (const EQuillError&) {
        return Refused(unreadable);
    }
}

const TPagePicture& PagePicture(const std::string& fileName) {
    static std::mutex guard;
    static std::map<std::string, TPagePicture> read;  // its entries stay where they are
    const std::lock_guard<std::mutex> lock(guard);
    auto it = read.find(fileName);
    if (it == read.end()) it = read.emplace(fileName, ReadPagePicture(fileName)).first;
    return it->second;
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
