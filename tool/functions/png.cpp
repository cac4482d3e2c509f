// The one translation unit that holds the PNG reader and writer's code. Of
// the image library's readers only the PNG one is built: no other format's
// decoder can be reached by a file, whatever it holds.
#include "png.h"

#include <cstdint>

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
