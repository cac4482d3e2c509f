#include "kinds.h"

#include "trlevel.h"

namespace qm {

namespace {

constexpr TKindInfo Tr1Row(int32_t version, bool tub) {
    return {.Version = version, .OtherLayout = tub ? KindTR1 : KindTUB, .VertexSize = 8, .LightSize = 18, .StaticSize = 18, .QuickSandFlag = 0x80,
            .AnimationSize = 32, .EarlyObjectTextures = true, .ObjectTextureSize = 20,
            .PaletteAfterSprites = tub, .BoxSize = 20, .ZoneArrays = 6, .ItemSize = 22, .HasLightMap = true,
            .PaletteAfterLightMap = !tub, .SoundMapSize = 512, .HasSampleBlock = true};
}

constexpr TKindInfo Tr2Row(int32_t version) {
    return {.Version = version, .HeadPalettes = true, .Head16BitPages = true, .VertexSize = 12,
            .HasAmbient2 = true, .HasLightMode = true, .LightSize = 24, .StaticSize = 20, .QuickSandFlag = 0x80,
            .AnimationSize = 32, .EarlyObjectTextures = true, .ObjectTextureSize = 20, .BoxSize = 8,
            .ZoneArrays = 10, .ItemSize = 24, .HasLightMap = true, .SoundMapSize = 740};
}

// TR4 and its ".TRC" variant share one layout.
constexpr TKindInfo Tr4Row(int32_t version) {
    return {.Version = version, .Tr4Family = true, .VertexSize = 12, .HasAmbient2 = true, .LightSize = 46,
            .StaticSize = 20, .HasRoomTail = true, .QuickSandFlag = 0x04, .FaceTextureIndex = 0x7FFF,
            .AnimationSize = 40, .ObjectTextureSize = 38, .SpriteMarkerSize = 3, .TexMarkerSize = 4,
            .HasFlybyCameras = true, .BoxSize = 8, .ZoneArrays = 10, .ItemSize = 24, .HasAIObjects = true,
            .SoundMapSize = 740};
}

constexpr TKindInfo Kinds[9] = {
    {},
    Tr1Row(KindTR1, false),
    Tr1Row(KindTUB, true),
    Tr2Row(KindTR2),
    Tr2Row(KindTRG),
    {.Version = KindTR3, .HeadPalettes = true, .Head16BitPages = true, .VertexSize = 12, .HasAmbient2 = true,
     .LightSize = 24, .StaticSize = 20, .HasRoomTail = true, .QuickSandFlag = 0x80, .FaceTextureIndex = 0x7FFF,
     .AnimationSize = 32, .ObjectTextureSize = 20, .BoxSize = 8, .ZoneArrays = 10, .ItemSize = 24,
     .HasLightMap = true, .SoundMapSize = 740},
    Tr4Row(KindTR4),
    Tr4Row(KindTRC),
    // Real TR5: the TR4 head, then uncompressed level data whose rooms are
    // "XELA" blocks; after the rooms the TR4 order with wider records.
    {.Version = KindTR5, .Tr4Family = true, .RawLevelData = true, .RoomCountWidth = 4, .XelaRooms = true,
     .QuickSandFlag = 0x04, .FaceTextureIndex = 0x7FFF, .AnimationSize = 40, .MoveableSize = 20,
     .ObjectTextureSize = 40, .SpriteMarkerSize = 4, .TexMarkerSize = 5, .HasFlybyCameras = true, .BoxSize = 8,
     .ZoneArrays = 10, .ItemSize = 24, .HasAIObjects = true, .SoundMapSize = 900},
};

// True when the text occurs in the name, in any letter case (ASCII).
bool HasNoCase(const std::string& name, const char* text) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return upper.find(text) != std::string::npos;
}

// A zlib stream header: deflate method, and the two bytes a multiple of 31.
bool IsZlibHeader(const uint8_t* p) { return (p[0] & 0x0F) == 8 && (p[0] * 256 + p[1]) % 31 == 0; }

} // namespace

const int ZoneOrder6[6] = {0, 1, 4, 5, 6, 9};

const TKindInfo& KindInfo(int32_t version) {
    return Kinds[(version >= 1 && version <= KindTR5) ? version : 0];
}

bool IsLevelSignature(uint32_t s) {
    return s == 0x00000020u || s == 0x0000002Du || s == 0x00345254u || s == 0xFF080038u ||
           s == 0xFF180038u || s == 0xFFFFFFF0u;
}

std::string FileNamePart(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasTr5Layout(const uint8_t* data, size_t size) {
    uint64_t p = 10;
    for (int chunk = 0; chunk < 3; ++chunk) {
        if (p + 8 > size) return false;
        p += 8 + uint64_t(GetU32(data + p + 4));
    }
    if (p + 10 <= size && GetU32(data + p + 4) != 0 && IsZlibHeader(data + p + 8)) return false;
    if (p + 40 > size || GetU32(data + p + 32) != GetU32(data + p + 36)) return false;
    return !(p + 42 <= size && IsZlibHeader(data + p + 40));
}

int32_t KindFromSignature(uint32_t s, const std::string& path) {
    const std::string name = FileNamePart(path);
    switch (s) {
    case 0x00000020u: return HasNoCase(name, ".TUB") ? KindTUB : KindTR1;
    case 0x0000002Du: return HasNoCase(name, ".TRG") ? KindTRG : KindTR2;
    case 0xFF080038u:
    case 0xFF180038u: return KindTR3;
    case 0x00345254u:
    case 0xFFFFFFF0u: return HasNoCase(name, ".TRC") ? KindTRC : KindTR4;
    default: return KindNone;
    }
}

} // namespace qm
