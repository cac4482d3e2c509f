// Ttrlevel: one level of any of the seven kinds, held in memory in file form.
//
// Values stay as stored in the file; meanings (light levels, flags) are derived
// only where they are printed or edited. Records the tool does not interpret are
// opaque fixed-size byte arrays, written back byte for byte. Where a kind of
// record has one form per level kind, the model keeps one array per form, named
// by the element size.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "chunk.h"
#include "platform.h"

namespace qm {

struct TComposed;
class TFileView;

// A fixed-size record kept as the bytes of the file (little-endian fields).
template <size_t N>
using TRec = std::array<uint8_t, N>;

// An array of the level: a vector of its records whose plain resize() leaves
// new elements uninitialised, because loading overwrites them at once with the
// file's bytes. The resizing operations of Ttrlevel zero-fill what they add.
template <class T>
using TArray = std::vector<T, TUninitAllocator<T>>;

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void SetU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Level kinds, in the order of the game generations: every later kind has a
// higher number, so version tests are numeric comparisons.
enum : int32_t {
    KindNone = 0,
    KindTR1 = 1,   // signature 0x00000020
    KindTUB = 2,   // TR1 ".TUB" variant
    KindTR2 = 3,   // signature 0x0000002D
    KindTRG = 4,   // TR2 ".TRG" variant
    KindTR3 = 5,   // signature 0xFF080038 or 0xFF180038
    KindTR4 = 6,   // signature "TR4\0" or 0xFFFFFFF0
    KindTRC = 7,   // TR4 family, ".TRC" variant in the TR4 layout
    KindTR5 = 8,   // real TR5 layout (TR4 signature, told apart by content)
};

// 20 bytes: 16 bytes kept as read, then the size of the room's geometry in 16-bit
// words (recomputed by the saver).
struct TRoomInfo {
    TRec<16> Head{};
    uint32_t DataWords = 0;
};

// One room. Each array holds what the room has: as many elements as its file's
// 16-bit count says (sectors: the product of the two 16-bit grid sizes), as far
// as the bytes are there.
struct RoomRecord {
    TRoomInfo RoomInfo;
    uint16_t VertexCount = 0;
    TArray<TRec<8>> Vertices8;    // x, y, z (i16), Lighting (2 bytes)
    TArray<TRec<12>> Vertices12;  // as Vertices8, then Attributes (u16), Lighting2 (u16)
    uint16_t RectangleCount = 0;
    TArray<TRec<10>> Rectangles;  // four vertex indices, then the texture word (bytes 8-9)
    uint16_t TriangleCount = 0;
    TArray<TRec<8>> Triangles;    // three vertex indices, then the texture word (bytes 6-7)
    uint16_t SpriteCount = 0;
    TArray<TRec<4>> Sprites;
    uint16_t PortalCount = 0;
    TArray<TRec<32>> Portals;
    uint16_t SectorCountZ = 0;
    uint16_t SectorCountX = 0;
    TArray<TRec<8>> Sectors;      // word 1 (bytes 2-3), bits 0-3: floor step sound
    uint8_t AmbientIntensity[2] = {0, 0};  // file order; for TR1-TR3 low then high byte
    uint16_t AmbientIntensity2 = 0;    // TR2 and later
    uint16_t LightMode = 0;            // TR2 only
    uint16_t LightCount = 0;
    TArray<TRec<18>> Lights18;    // TR1
    TArray<TRec<24>> Lights24;    // TR2, TR3
    TArray<TRec<46>> Lights46;    // TR4 family
    uint16_t StaticCount = 0;
    TArray<TRec<18>> Statics18;   // TR1
    TArray<TRec<20>> Statics20;   // TR2 and later
    int16_t AlternateRoom = 0;
    uint8_t RoomFlags[2] = {0, 0};     // byte 0: 0x01 water, 0x08 sky, quicksand 0x80 (TR1-TR3) or 0x04
    uint8_t WaterScheme = 0;           // TR3 and later
    uint8_t ReverbInfo = 0;            // TR3 and later
    uint8_t RoomFiller = 0;            // TR3 and later
    // Real TR5: the room's whole "XELA" block, from the mark to its last byte.
    // The fields above that the tool uses are read from it (the vertex and
    // face counts summed over its layers; Rectangles and Triangles hold the
    // first 10 and 8 bytes of its 12- and 10-byte faces) and written back into
    // it at the same offsets on saving; the vertex, light and static arrays
    // stay empty.
    TArray<uint8_t> XelaBlock;
};

// In memory all fields; the file holds 20 bytes (TR1-TR3: Attribute, Tile,
// Corners), 38 bytes (TR4 family: Attribute, TileAndFlags, Corners, Tr4Extra)
// or 40 bytes (TR5: the same, then Tr5Closing).
struct ObjectTextureRecord {
    uint16_t Attribute = 0;
    uint16_t Tile = 0;
    uint32_t TileAndFlags = 0;
    TRec<16> Corners{};
    uint32_t Tr4Extra[4] = {0, 0, 0, 0};
    uint16_t Tr5Closing = 0;  // TR5: the 16-bit word after Tr4Extra (40-byte form)
};

// Receives progress (percent, 0 to 100) from loading and saving.
class TProgressSink {
public:
    virtual ~TProgressSink() = default;
    virtual void SetPosition(int percent) = 0;
};

class Ttrlevel {
public:
    Ttrlevel() = default;  // Create: no level loaded, every member zero

    // 0 the level was read; 1 no file of that name; 2 the first four bytes are
    // not an accepted level signature. Damaged content throws an EQuillError
    // (e.g. "Read beyond end of file" with the place in the level); after a
    // throw the object holds no level (Loaded is clear).
    uint8_t LoadLevel(const std::string& fileName);

    // The same reading on a level's file content in memory (the plain content,
    // a "ZLIB" container already unwrapped); name picks the kind among those
    // sharing a signature. 0 read, 2 not a level signature; throws as LoadLevel.
    uint8_t ParseLevel(const uint8_t* data, size_t size, const std::string& name);

    // Writes the level to fileName in the kind it was read as (never derived
    // again from the name), crash-safely; keep says what the store keeps
    // besides (a backup of the file it replaces, a note for an interrupted
    // run). 0 written, 1 no level loaded. Throws EQuillError on failure; the
    // file on disk is then unchanged.
    uint8_t SaveLevel(const std::string& fileName, const TStoreKeep& keep = {});

    // The file content SaveLevel stores, for the kind LevelVersion names. Throws
    // ELevelError when no level is loaded, or when the level cannot be written
    // without losing bytes it holds (TR4-family chunks that disagree with the
    // page count); EOutOfMemory, ECompressionError.
    std::vector<uint8_t> SerializeLevel();

    bool IsLoaded() const { return Loaded == LoadedTag; }
    // A TR4-family level whose file ends with the "NGLE" trailer block.
    bool IsNgLevel() const;

    // Counts, one per array. Only the resizing operations change them.
    uint16_t RoomCount = 0;
    int32_t FloorDataCount = 0, MeshDataCount = 0, MeshPointerCount = 0, AnimationCount = 0,
            StateChangeCount = 0, AnimDispatchCount = 0, AnimCommandCount = 0, MeshTreeCount = 0,
            FrameCount = 0, MoveableCount = 0, StaticMeshCount = 0, ObjectTextureCount = 0,
            SpriteTextureCount = 0, SpriteSequenceCount = 0, CameraCount = 0,
            FlybyCameraCount = 0, SoundSourceCount = 0, BoxCount = 0, OverlapCount = 0,
            ZoneCount = 0, AnimatedTextureCount = 0, ItemCount = 0, CinematicFrameCount = 0,
            DemoDataCount = 0, SoundDetailCount = 0, SampleIndexCount = 0;

    static constexpr const char* LoadedTag = "LOADED!";
    std::string Loaded;           // LoadedTag while a level is loaded, else empty
    uint32_t FileSignature = 0;   // first four bytes of the last accepted file
    int32_t LevelVersion = 0;     // KindTR1 .. KindTR5, 0 when none
    // The file last loaded or saved, as it was then: a save under that name
    // refuses to overwrite it once another program has changed it.
    std::string StampName;
    TFileStamp Stamp;

    uint16_t Tr4TextileCounts[3] = {0, 0, 0};  // room, object and bump pages (TR4 family)
    // The 256 x 256 texture pages: the 8-bit pages held (TR1-TR3), or the whole
    // 16-bit pages of chunk 2 (TR4 family), counted when first asked for when
    // the chunk's checks were deferred (a damaged chunk then throws the
    // report a load would give).
    int32_t TexturePageCount() const;

    TArray<uint8_t> Textiles8;    // 8-bit pages, 65536 bytes each (TR1-TR3)
    // The TR4 family's chunks keep the stream they were read from, and unpack
    // it when their content is first read (see chunk.h): a save writes an
    // unchanged chunk back as it was read.
    TChunk Textiles16;            // 16-bit pages, 131072 bytes each (TR2 and later; TR4 family: chunk 2)
    TChunk Textiles32;            // TR4 family: chunk 1
    TChunk TextilesMisc;          // TR4 family: chunk 3
    // TR4 family but TR5: the level data chunk as read, unpacked, with its
    // stream. A save packs the level data again only when it differs.
    TChunk LevelDataChunk;

    // TR5, after chunk 3: Lara type (u16), weather (u16), 28 padding bytes.
    TRec<32> Tr5Fields{};

    TRec<4> LevelReservedWord{};
    std::vector<RoomRecord> Rooms;

    TArray<uint16_t> FloorData;
    TArray<uint16_t> MeshData;
    TArray<int32_t> MeshPointers;
    TArray<TRec<32>> Animations32;  // TR1-TR3
    TArray<TRec<40>> Animations40;  // TR4 family
    TArray<TRec<6>> StateChanges;
    TArray<TRec<8>> AnimDispatches;
    TArray<uint16_t> AnimCommands;
    TArray<int32_t> MeshTrees;
    TArray<uint16_t> Frames;
    TArray<TRec<18>> Moveables;     // TR1-TR4 family
    TArray<TRec<20>> Moveables20;   // TR5: the 18 bytes, then a 16-bit word
    TArray<TRec<32>> StaticMeshes;  // first field: the 32-bit static mesh id
    // TR4 family, before the object textures: the UV-rotate byte, then "TEX"
    // (TR4) or "TEX\0" (TR5); TexMarkerSize of the kind's bytes are used.
    TRec<5> TexMarker{};
    std::vector<ObjectTextureRecord> ObjectTextures;
    TRec<4> SpriteMarker{};              // "SPR" (TR4) or "SPR\0" (TR5), before the sprite textures
    TArray<TRec<16>> SpriteTextures;
    TArray<TRec<8>> SpriteSequences;
    TArray<TRec<16>> Cameras;
    TArray<TRec<40>> FlybyCameras;  // TR4 family
    TArray<TRec<16>> SoundSources;
    TArray<TRec<20>> Boxes20;       // TR1
    TArray<TRec<8>> Boxes8;         // TR2 and later
    TArray<uint16_t> Overlaps;
    std::array<TArray<int16_t>, 10> Zones;  // ZoneCount (= BoxCount) entries each
    TArray<uint16_t> AnimatedTextures;  // word 0: groups; then per group n-1 and n ids
    // Item forms: object id (u16), room (i16), x, y, z (i32), angle, intensity,
    // [Intensity2 (i16), 24-byte form only], flags (u16).
    TArray<TRec<22>> Items22;
    TArray<TRec<24>> Items24;
    TArray<TRec<16>> CinematicFrames;  // TR1-TR3
    TArray<TRec<24>> AIObjects;        // TR4 family
    // Demo data bytes. In an NG level the demo data count is the number of 2-byte
    // sound map entries (0: the standard map) and DemoData stays empty.
    TArray<uint8_t> DemoData;
    TArray<TRec<8>> SoundDetails;
    TArray<int32_t> SampleIndices;

    std::array<uint8_t, 8192> LightMap{};  // TR1-TR3
    std::array<uint8_t, 768> Palette8{};   // TR1-TR3
    std::array<uint8_t, 1024> Palette16{}; // TR2, TR3
    // 512 bytes (TR1), 740 bytes (TR2 and later); NG levels: DemoDataCount * 2
    // bytes, or 740 when DemoDataCount is 0.
    TArray<uint8_t> SoundMap;

    // TR1: the counted sample block. TR4 family: the raw tail after the level
    // data chunk (sound samples, and an NG level's trailer block).
    int32_t SampleDataSize = 0;
    TArray<uint8_t> SampleData;

    // Bytes that follow the sample indices at the end of the level data, kept
    // so that a saved level keeps them (real TR4 levels carry 6 such bytes).
    TArray<uint8_t> TrailingBytes;

    TProgressSink* ProgressSink = nullptr;

    // TR4 family: when set before loading, the texture chunks are not
    // inflated on loading (a room edit needs only the level data): each is
    // counted when its size or content is first asked for, and a save counts
    // those still unread beside the packing of the level data, so that a
    // damaged one refuses the save with the report a load would give. Clear
    // (the default): loading checks every chunk.
    bool DeferPageChecks = false;

    // Resizing operations: resize the array(s) to n elements (keeping leading
    // elements, zero-filling new ones) and set the count. A negative n or a byte
    // size beyond 32 bits throws ERangeError; an exhausted heap EOutOfMemory.
    void SetRoomCount(uint16_t n);
    void SetFloorDataCount(int32_t n);
    void SetMeshDataCount(int32_t n);
    void SetMeshPointerCount(int32_t n);
    void SetAnimationCount(int32_t n);      // Animations40 for the TR4 family, else Animations32
    void SetStateChangeCount(int32_t n);
    void SetAnimDispatchCount(int32_t n);
    void SetAnimCommandCount(int32_t n);
    void SetMeshTreeCount(int32_t n);
    void SetFrameCount(int32_t n);
    void SetMoveableCount(int32_t n);       // Moveables20 for TR5, else Moveables
    void SetStaticMeshCount(int32_t n);
    void SetObjectTextureCount(int32_t n);
    void SetSpriteTextureCount(int32_t n);
    void SetSpriteSequenceCount(int32_t n);
    void SetCameraCount(int32_t n);
    void SetFlybyCameraCount(int32_t n);
    void SetSoundSourceCount(int32_t n);
    void SetBoxCount(int32_t n);            // both box forms
    void SetOverlapCount(int32_t n);
    void SetZoneCount(int32_t n);           // all ten zone arrays
    void SetAnimatedTextureCount(int32_t n);
    void SetItemCount(int32_t n);           // both item forms
    void SetCinematicFrameCount(int32_t n); // AIObjects for the TR4 family, else CinematicFrames
    void SetDemoDataCount(int32_t n);
    void SetSoundDetailCount(int32_t n);
    void SetSampleIndexCount(int32_t n);

    void Report(int percent) const {
        if (ProgressSink) ProgressSink->SetPosition(percent);
    }

private:
    void ReleaseBlocks();
    // An empty model with what belongs to the loading rather than to the level
    // read: the loaded tag, signature, kind, file stamp, progress sink and
    // when the texture chunks are checked.
    Ttrlevel FreshForLoading() const;
    template <class Step>
    uint8_t Guarded(Step step);
    void Compose(TComposed& content);
    // content: the file's whole content in memory, or null when it is read
    // through view.
    uint8_t ParseContent(const uint8_t* content, size_t size, const std::string& name, const char* area,
                         TFileView* view = nullptr);
    // The two layouts, for the kind LevelVersion names: TR1-TR3 (read as
    // ParseContent gets it) and the TR4 family (from the whole content).
    void ParseTr1To3(const uint8_t* content, size_t size, const char* area, TFileView* view);
    void ParseTr4Family(const uint8_t* whole, size_t size, const char* area, TFileView* view);
    // Reads the content again as the given TR1 layout, into a fresh model that
    // replaces this one when it reads the content whole, to its last byte
    // (true). On false this model holds no content any more: the caller
    // reports the first failure.
    bool ReadsWholeAs(int32_t kind, const uint8_t* content, size_t size, const char* area, TFileView* view);
};

} // namespace qm
