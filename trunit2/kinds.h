// What differs between the level kinds, as one table: record sizes and which
// optional sections a kind's files hold. The layout walk asks this table, never
// the version number itself.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct TKindInfo {
    int32_t Version = 0;
    bool Tr4Family = false;      // head of compressed texture chunks, raw tail after the level data
    bool RawLevelData = false;   // TR5: Lara type, weather and padding after chunk 3, then the
                                 // level data stored uncompressed (both size fields equal)
    int32_t OtherLayout = 0;     // TR1: the kind of the other TR1 layout, tried when a file
                                 // does not read in the one its name implies
    bool HeadPalettes = false;   // Palette8 and Palette16 in the head (TR2, TR3)
    bool Head16BitPages = false; // 16-bit pages after the 8-bit pages in the head (TR2, TR3)
    // Rooms
    int RoomCountWidth = 2;      // bytes of the room count field: 2, or 4 (TR5)
    bool XelaRooms = false;      // TR5: each room is an "XELA" block with a header of offsets
    int VertexSize = 0;          // 8 or 12
    bool HasAmbient2 = false;    // second ambient value
    bool HasLightMode = false;   // TR2 only
    int LightSize = 0;           // 18, 24 or 46
    int StaticSize = 0;          // 18 or 20
    bool HasRoomTail = false;    // water scheme, reverb info, filler byte
    uint8_t QuickSandFlag = 0;   // bit of the low room flags byte: 0x80 (TR1-TR3), 0x04 (TR4, TR5)
    // The object texture index in a room face's texture word: the whole word
    // (TR1, TR2), or bits 0-14 from TR3 on, where bit 15 marks a double-sided face.
    uint16_t FaceTextureIndex = 0xFFFF;
    // After the rooms
    int AnimationSize = 0;       // 32 or 40
    int MoveableSize = 18;       // 18, or 20 (TR5: a closing 16-bit word)
    bool EarlyObjectTextures = false; // object textures after the static meshes (TR1, TR2)
    int ObjectTextureSize = 0;   // 20, 38, or 40 (TR5: a closing 16-bit word)
    int SpriteMarkerSize = 0;    // "SPR" (3 bytes) or "SPR\0" (4); 0: none
    int TexMarkerSize = 0;       // the UV-rotate byte and "TEX" (4 bytes) or "TEX\0" (5); 0: none
    bool PaletteAfterSprites = false; // Palette8 after the sprite sequences (".TUB")
    bool HasFlybyCameras = false;
    int BoxSize = 0;             // 20 or 8
    int ZoneArrays = 0;          // 6 or 10
    int ItemSize = 0;            // 22 or 24
    bool HasLightMap = false;
    bool PaletteAfterLightMap = false; // Palette8 after the light map (TR1)
    bool HasAIObjects = false;   // AI objects with a 4-byte count instead of cinematic frames
    int SoundMapSize = 0;        // 512, 740 or 900 bytes
    bool HasSampleBlock = false; // counted sample bytes before the sample indices (TR1)
};

// The row of a level kind (1 to 8); the empty row for any other number.
const TKindInfo& KindInfo(int32_t version);

// True for the six accepted level signatures.
bool IsLevelSignature(uint32_t signature);

// The file's own name: the last component of the path (after '/', and on
// Windows also after '\\').
std::string FileNamePart(const std::string& path);

// The level kind from the signature and the file's own name: ".TUB", ".TRG" or
// ".TRC" anywhere in it, in any letter case, picks the variant. TR4-family files of the real
// TR5 layout are told apart by their content (the loader does that), not here.
// 0 for an unknown signature.
int32_t KindFromSignature(uint32_t signature, const std::string& path);

// True when a TR4-signature file has the real TR5 layout. Both layouts agree up
// to the end of the third chunk (offset P). A TR4-layout file has a non-zero
// packed size at P+4 and a zlib stream at P+8; a TR5 file has its own fields
// there, then two equal level-data sizes at P+32 and P+36 and the level data,
// which is no zlib stream, at P+40. Anything else is read as the TR4 layout
// (whose walk reports the damage).
bool HasTr5Layout(const uint8_t* data, size_t size);

// The zone arrays a kind's files hold, in file order.
extern const int ZoneOrder6[6];

} // namespace qm
