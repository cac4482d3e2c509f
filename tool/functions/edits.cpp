#include "functions.h"
#include "kinds.h"

namespace qm {

uint16_t MapFloorSound(uint16_t value) {
    if (value > 15 || value == 0) return 5;
    if (value == 1) return 12;
    if (value == 2) return 13;
    return value;
}

void EditStepSound(Ttrlevel& L, uint16_t value, int32_t from, int32_t to) {
    const uint16_t sound = MapFloorSound(value);
    for (int32_t i = from; i <= to; ++i)
        for (TRec<8>& sector : L.Rooms[size_t(i)].Sectors) {
            uint16_t word = GetU16(sector.data() + 2);
            SetU16(sector.data() + 2, uint16_t((word & 0xFFF0) | sound));
        }
}

void EditLaraLight(Ttrlevel& L, uint16_t light, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i) {
        uint8_t* ambient = L.Rooms[size_t(i)].AmbientIntensity;
        if (L.LevelVersion >= KindTR4) {
            // The TR4 family holds the light value itself, low byte first.
            ambient[0] = uint8_t(light);
            ambient[1] = uint8_t(light >> 8);
        } else {
            // Older kinds: the light is the high byte of the ambient value.
            ambient[1] = uint8_t(light);
        }
    }
}

void EditRoomFlag(Ttrlevel& L, uint16_t mask, bool on, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i) {
        uint8_t* word = L.Rooms[size_t(i)].RoomFlags;
        const uint16_t flags = GetU16(word);
        SetU16(word, on ? uint16_t(flags | mask) : uint16_t(flags & ~mask));
    }
}

void EditRoomColour(Ttrlevel& L, uint8_t red, uint8_t green, uint8_t blue, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i) {
        RoomRecord& r = L.Rooms[size_t(i)];
        // 0xAARRGGBB stored little-endian: blue and green are the two ambient
        // bytes, red the low byte of the second ambient value; alpha is kept.
        r.AmbientIntensity[0] = blue;
        r.AmbientIntensity[1] = green;
        r.AmbientIntensity2 = uint16_t((r.AmbientIntensity2 & 0xFF00) | red);
    }
}

uint32_t RoomColour(const RoomRecord& r) {
    return uint32_t(r.AmbientIntensity2 & 0xFF) << 16 | uint32_t(r.AmbientIntensity[1]) << 8 | r.AmbientIntensity[0];
}

uint8_t QuickSandFlag(const Ttrlevel& L) { return KindInfo(L.LevelVersion).QuickSandFlag; }

void EditTextures(Ttrlevel& L, int32_t oldId, uint16_t newId, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i) {
        RoomRecord& r = L.Rooms[size_t(i)];
        // Rectangles match on the 12-bit texture index; the whole word is replaced.
        for (TRec<10>& face : r.Rectangles)
            if (int32_t(GetU16(face.data() + 8) & 0x0FFF) == oldId) SetU16(face.data() + 8, newId);
        // Triangles match on the whole word.
        for (TRec<8>& face : r.Triangles)
            if (int32_t(GetU16(face.data() + 6)) == oldId) SetU16(face.data() + 6, newId);
    }
}

std::string TextureRefusal(const Ttrlevel& L, uint16_t newWord) {
    const int32_t index = newWord & KindInfo(L.LevelVersion).FaceTextureIndex;
    const int32_t count = L.ObjectTextureCount;
    if (index < count) return "";
    // A face naming a texture beyond the table would make the game read past it.
    const std::string texture = "Texture " + std::to_string(index) + " is not in this level ";
    if (count <= 0) return texture + "(it has no textures).";
    return texture + "(textures 0 to " + std::to_string(count - 1) + ").";
}

} // namespace qm
