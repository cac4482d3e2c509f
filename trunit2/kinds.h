// What differs between the level kinds, as one table: record sizes and which
// optional sections a kind's files hold. The layout walk asks this table, never
// the version number itself.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct TKindInfo {
    int32_t Version;
    bool Tr4Family;          // head of compressed chunks, level data in chunk 4, raw tail
    bool HeadPalettes;       // Palette8 and Palette16 in the head (TR2, TR3)
    bool Head16BitPages;     // 16-bit pages after the 8-bit pages in the head (TR2, TR3)
    // Rooms
    int VertexSize;          // 8 or 12
    bool HasAmbient2;        // second ambient value
    bool HasLightMode;       // TR2 only
    int LightSize;           // 18, 24 or 46
    int StaticSize;          // 18 or 20
    bool HasRoomTail;        // water scheme, reverb info, filler byte
    // After the rooms
    int AnimationSize;       // 32 or 40
    bool EarlyObjectTextures;// object textures after the static meshes (TR1, TR2)
    int ObjectTextureSize;   // 20 or 38
    bool HasMarkers;         // sprite marker (3 bytes) and texture marker (4 bytes)
    bool PaletteAfterSprites;// Palette8 after the sprite sequences (".TUB")
    bool HasFlybyCameras;
    int BoxSize;             // 20 or 8
    int ZoneArrays;          // 6 or 10
    int ItemSize;            // 22 or 24
    bool HasLightMap;
    bool PaletteAfterLightMap; // Palette8 after the light map (TR1)
    bool HasAIObjects;       // AI objects with a 4-byte count instead of cinematic frames
    int SoundMapSize;        // 512 or 740 bytes
    bool HasSampleBlock;     // counted sample bytes before the sample indices (TR1)
};

// The row of a level kind (1 to 7).
const TKindInfo& KindInfo(int32_t version);

// True for the six accepted level signatures.
bool IsLevelSignature(uint32_t signature);

// The level kind from the signature and the file name (".TUB"/".tub",
// ".TRG"/".trg", ".TRC"/".trc" anywhere in the name). 0 for an unknown signature.
int32_t KindFromSignature(uint32_t signature, const std::string& name);

// The zone arrays a kind's files hold, in file order.
extern const int ZoneOrder6[6];

} // namespace qm
