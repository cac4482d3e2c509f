// The one translation unit that holds the PNG reader and writer's code.
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
#define STBI_WRITE_NO_STDIO
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

bool DecodePng(const std::string& file, std::vector<uint8_t>& rgba, int& width, int& height, int maxSide) {
    // The decoder also reads other formats: only a PNG signature is taken.
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (file.size() < 8 || file.compare(0, 8, signature, 8) != 0 || file.size() > size_t(INT32_MAX)) return false;
    int channels = 0;
    const auto* bytes = reinterpret_cast<const stbi_uc*>(file.data());
    // The size from the header first, so that a huge stated size is not allocated.
    if (!stbi_info_from_memory(bytes, int(file.size()), &width, &height, &channels)) return false;
    rgba.clear();
    if (width > maxSide || height > maxSide) return true;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(file.data()), int(file.size()), &width,
                                            &height, &channels, 4);
    if (!pixels) return false;
    rgba.assign(pixels, pixels + size_t(width) * size_t(height) * 4);
    stbi_image_free(pixels);
    return true;
}

} // namespace qm
