// What the picture fuzz target does with one input, shared with the
// regression test that replays the inputs that once broke it. Returns an
// empty text when the input was handled soundly and a description of the
// fault otherwise.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pngread.h"

namespace qmtest {

using PictureBytes = std::vector<uint8_t>;

inline void PutBe32(PictureBytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

inline uint32_t ChunkCrc(const uint8_t* nameAndData, size_t n) {
    return uint32_t(crc32(0, nameAndData, uInt(n)));
}

// The bytes with every whole chunk's CRC-32 set right, so that mutations of
// names, lengths and data reach past the check sums.
inline void FixChunkCrcs(PictureBytes& file) {
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 | file[at + 3];
        if (length > file.size() - at - 12) break;
        const uint32_t crc = ChunkCrc(&file[at + 4], size_t(length) + 4);
        for (int i = 0; i < 4; ++i) file[at + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        at += size_t(length) + 12;
    }
}

inline void AppendPictureChunk(PictureBytes& file, const char* name, const PictureBytes& data) {
    PutBe32(file, uint32_t(data.size()));
    const size_t from = file.size();
    file.insert(file.end(), name, name + 4);
    file.insert(file.end(), data.begin(), data.end());
    PutBe32(file, ChunkCrc(&file[from], data.size() + 4));
}

// A whole, sound PNG file from a few choices and the image data's bytes:
// in[0] the colour type and bit depth, in[1] interlacing (bit 0) and the
// palette's size, in[2] the transparency, the rest the image data before
// packing, repeated to the size the header calls for. False when the input
// is too short to choose.
inline bool BuildPicture(const uint8_t* in, size_t size, PictureBytes& file) {
    static const uint8_t forms[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                       {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    if (size < 3) return false;
    const uint8_t type = forms[in[0] % 15][0], depth = forms[in[0] % 15][1];
    const bool interlaced = in[1] & 1;
    const size_t entries = 1 + (in[1] >> 1);
    PictureBytes data(size_t(qm::PngImageBytes(256, 256, type, depth, interlaced)), 0);
    if (size > 3)
        for (size_t i = 0; i < data.size(); ++i) data[i] = in[3 + i % (size - 3)];
    PictureBytes packed(compressBound(uLong(data.size())));
    uLongf packedSize = uLongf(packed.size());
    if (compress2(packed.data(), &packedSize, data.data(), uLong(data.size()), 1) != Z_OK) return false;
    packed.resize(packedSize);

    file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PictureBytes header;
    PutBe32(header, 256), PutBe32(header, 256);
    header.insert(header.end(), {depth, type, 0, 0, uint8_t(interlaced)});
    AppendPictureChunk(file, "IHDR", header);
    PictureBytes transparency;
    if (type == 3) {
        PictureBytes palette(entries * 3);
        for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(i * 37 + in[2]);
        AppendPictureChunk(file, "PLTE", palette);
        transparency.assign(std::min<size_t>(in[2], entries), 0x80);
    } else if ((type == 0 || type == 2) && in[2] % 2 == 1) {
        transparency.assign(type == 0 ? 2 : 6, in[2]);
    }
    if (!transparency.empty()) AppendPictureChunk(file, "tRNS", transparency);
    AppendPictureChunk(file, "IDAT", packed);
    AppendPictureChunk(file, "IEND", {});
    return true;
}

// The first byte picks how the rest is read: as a file (0 mod 3), as a file
// whose chunk check sums are set right first (1), or as the choices of a
// sound picture (2, BuildPicture), which must be read unless a filter byte
// is not one of the five filter types.
inline std::string FuzzPicture(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    const int mode = data[0] % 3;
    PictureBytes file(data + 1, data + size);
    if (mode == 1) FixChunkCrcs(file);
    if (mode == 2 && !BuildPicture(data + 1, size - 1, file)) return {};
    size_t at = 0;
    const qm::TPagePicture picture = qm::ReadPagePng([&](uint8_t* dest, size_t n) {
        const size_t piece = std::min(n, file.size() - at);
        if (piece > 0) std::memcpy(dest, file.data() + at, piece);
        at += piece;
        return piece;
    });
    if (picture.Refusal.empty() != (picture.Rgba.size() == 256 * 256 * 4))
        return "the pixels (" + std::to_string(picture.Rgba.size()) + " bytes) disagree with the refusal \"" +
               picture.Refusal + "\"";
    if (!picture.Refusal.empty() && picture.Refusal.rfind("The picture ", 0) != 0)
        return "a refusal that does not name the picture: " + picture.Refusal;
    if (mode == 2 && !picture.Refusal.empty() &&
        picture.Refusal != "The picture is damaged: its pixels cannot be decoded (invalid filter).")
        return "a sound picture was refused: " + picture.Refusal;
    return {};
}

} // namespace qmtest
