// The one translation unit that holds the PNG reader and writer's code. Of
// the image library's readers only the PNG one is built: no other format's
// decoder can be reached by a file, whatever it holds.
#include "png.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "errors.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_WRITE_NO_STDIO
// Texture pages are 256 x 256: the decoder refuses anything larger by itself too.
#define STBI_MAX_DIMENSIONS 256
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace qm {

namespace {

void AppendTo(void* context, void* data, int size) {
    auto* png = static_cast<std::string*>(context);
    png->append(static_cast<const char*>(data), size_t(size));
}

} // namespace

std::string EncodePng(const std::vector<uint8_t>& rgba, int width, int height) {
    if (width <= 0 || height <= 0 || rgba.size() != size_t(width) * size_t(height) * 4)
        throw EQuillError("The picture's pixels do not match its size");
    std::string png;
    if (stbi_write_png_to_func(AppendTo, &png, width, height, 4, rgba.data(), width * 4) == 0)
        throw EQuillError("The picture could not be encoded as PNG");
    return png;
}

namespace {

void PutU32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char(uint8_t(v >> shift));
}

// A chunk: its length, type and data, and the CRC of type and data.
void PutChunk(std::string& png, const char* type, const std::string& data) {
    PutU32(png, uint32_t(data.size()));
    const size_t start = png.size();
    png.append(type, 4).append(data);
    PutU32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.data() + start), uInt(png.size() - start))));
}

// The deflate stream, released on every path: zlib's fastest level with run
// lengths only, which is what the rows of a picture of flat fills are made
// of (on the map of a level of 193 rooms, 5992 x 1900 pixels, zlib's default
// level and strategy make the file a tenth smaller at two and a half times
// the cost); run lengths need no large hash table (memory level 4 of 1-9:
// less to slide along as the input passes, a quarter less time).
struct TDeflate {
    z_stream Stream{};
    TDeflate() {
        if (deflateInit2(&Stream, 1, Z_DEFLATED, 15, 4, Z_RLE) != Z_OK) throw EQuillError("The picture could not be encoded as PNG");
    }
    ~TDeflate() { deflateEnd(&Stream); }
    TDeflate(const TDeflate&) = delete;
    TDeflate& operator=(const TDeflate&) = delete;

    void Add(const uint8_t* data, size_t size, bool last, std::string& out) {
        Stream.next_in = const_cast<Bytef*>(data);
        Stream.avail_in = uInt(size);
        uint8_t buffer[1 << 15];
        int status = Z_OK;
        do {
            Stream.next_out = buffer;
            Stream.avail_out = sizeof buffer;
            status = deflate(&Stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw EQuillError("The picture could not be encoded as PNG");
            out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - Stream.avail_out);
        } while (Stream.avail_out == 0 || (last && status != Z_STREAM_END));
    }
};

// The deflated rows of the picture, row(y) giving row y's bytes. A row the
// same as the one above is filtered by it ("up": all zeros), any other row
// goes as it is (a map's rows are long runs of one colour): no row is
// copied or worked out byte by byte.
template <class TRowOf>
void DeflatedRows(int height, size_t rowBytes, TRowOf row, std::string& data) {
    TDeflate deflater;
    const std::vector<uint8_t> zeros(rowBytes, 0);
    constexpr uint8_t None = 0, Up = 2;
    const uint8_t* above = nullptr;
    for (int y = 0; y < height; ++y) {
        const uint8_t* current = row(y);
        const bool same = above && std::memcmp(current, above, rowBytes) == 0;
        deflater.Add(same ? &Up : &None, 1, false, data);
        deflater.Add(same ? zeros.data() : current, rowBytes, y + 1 == height, data);
        above = current;
    }
}

std::string PngFile(int width, int height, bool indexed, const std::string& palette, const std::string& data) {
    std::string header;
    PutU32(header, uint32_t(width));
    PutU32(header, uint32_t(height));
    // 8 bits, indexed colour or RGB, deflate, adaptive filters, no interlace
    header += indexed ? std::string("\x08\x03\x00\x00\x00", 5) : std::string("\x08\x02\x00\x00\x00", 5);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", header);
    if (indexed) PutChunk(png, "PLTE", palette);
    PutChunk(png, "IDAT", data);
    PutChunk(png, "IEND", "");
    return png;
}

} // namespace

std::string EncodeRgbPng(const std::vector<uint8_t>& rgb, int width, int height) {
    if (width <= 0 || height <= 0 || width > (1 << 24) || rgb.size() != size_t(width) * size_t(height) * 3)
        throw EQuillError("The picture's pixels do not match its size");
    const size_t rowBytes = size_t(width) * 3;
    std::string data;
    DeflatedRows(height, rowBytes, [&](int y) { return rgb.data() + size_t(y) * rowBytes; }, data);
    return PngFile(width, height, false, "", data);
}

std::string EncodeIndexedPng(const std::vector<uint8_t>& indices, const std::vector<uint8_t>& palette, int width,
                             int height) {
    if (width <= 0 || height <= 0 || width > (1 << 24) || indices.size() != size_t(width) * size_t(height) ||
        palette.empty() || palette.size() % 3 != 0 || palette.size() > 256 * 3)
        throw EQuillError("The picture's pixels do not match its size");
    if (*std::max_element(indices.begin(), indices.end()) >= palette.size() / 3)
        throw EQuillError("The picture's pixels do not match its size");
    const size_t rowBytes = size_t(width);
    std::string data;
    DeflatedRows(height, rowBytes, [&](int y) { return indices.data() + size_t(y) * rowBytes; }, data);
    return PngFile(width, height, true, std::string(palette.begin(), palette.end()), data);
}

bool DecodeCheckedPng(const std::string& png, int side, std::vector<uint8_t>& rgba, std::string& reason) {
    rgba.clear();
    if (png.size() > size_t(INT32_MAX)) {
        reason = "too large";
        return false;
    }
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), int(png.size()), &width, &height, &channels, 4);
    if (!pixels) {
        const char* why = stbi_failure_reason();
        reason = why ? why : "unknown";
        return false;
    }
    if (width == side && height == side) rgba.assign(pixels, pixels + size_t(side) * size_t(side) * 4);
    else reason = "the decoded size differs from the stated one";
    stbi_image_free(pixels);
    return !rgba.empty();
}

} // namespace qm
