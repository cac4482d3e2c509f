// Test-only builder of level files, byte by byte, for all eight level kinds.
//
// A level is described as plain data (BLevel) in its file form; Build() lays
// it out exactly as a level file of its kind. The builder shares no code with
// the loader or the saver under test, so a fault that both of them make in the
// same way still shows up as a difference against these bytes.
//
// Conventions
// - Every integer is written little-endian.
// - Counts are derived from the element vectors. Each count can be replaced by
//   a chosen value (BCountOverrides / BRoomCountOverrides): the chosen value is
//   written truncated to the field's width (2 or 4 bytes, two's complement, so
//   -1 gives FF FF or FF FF FF FF), and the elements are still written as they
//   are. This is how tests make files with negative, huge or lying counts.
// - Records whose size depends on the kind (lights, room statics, animations,
//   boxes) are byte vectors; each must have the size of the level's kind
//   (RecordSizes). Fixed areas (palettes, light map, sound map) must have
//   their exact size. Build() throws std::invalid_argument, naming the field,
//   when the description does not fit its kind; damage is made only through
//   the explicit options, or by resizing the returned bytes (truncation).
// - Kinds 6-7 hold the level data (reserved word .. trailing bytes) as the
//   content of chunk 4; kinds 1-5 hold it in the file right after the head.
// - Kind 8 (real TR5) has the head and texture chunks of kinds 6-7, then the
//   TR5 fields, the two level-data size fields and the level data stored raw,
//   then the raw tail (the sample block). Its rooms are "XELA" blocks
//   (rooms5); see B5Room.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmtest {

using Bytes = std::vector<uint8_t>;

// A block of the library's (whatever its allocator) as the tests' bytes.
template <class A>
Bytes AsBytes(const std::vector<uint8_t, A>& b) {
  return Bytes(b.begin(), b.end());
}

// Level kinds, numbered like the level model's LevelVersion.
enum class Kind : int { TR1 = 1, TUB = 2, TR2 = 3, TRG = 4, TR3 = 5, TR4 = 6, TRC = 7, TR5 = 8 };

// Kind from 1..8; throws std::invalid_argument otherwise.
Kind KindFromInt(int kind);

// Signature written when BLevel::signature is empty: 0x20 (1-2), 0x2D (3-4),
// 0xFF080038 (5), 0x00345254 "TR4\0" (6-8).
uint32_t DefaultSignature(Kind kind);

// A file name extension that makes the loader pick the kind:
// ".phd", ".tub", ".tr2", ".trg", ".tr2", ".tr4", ".trc", ".trc" (kind 8 is
// told apart by its content).
const char* FileExtension(Kind kind);

// Element sizes of the kind-dependent records, in bytes.
struct RecordSizes {
  size_t vertex;         // 8 (1-2), 12 (3-7), 28 (8)
  size_t light;          // 18 (1-2), 24 (3-5), 46 (6-7), 88 (8)
  size_t roomStatic;     // 18 (1-2) or 20 (3-8)
  size_t animation;      // 32 (1-5) or 40 (6-8)
  size_t box;            // 20 (1-2) or 8 (3-8)
  size_t objectTexture;  // 20 (1-5), 38 (6-7), 40 (8)
  size_t item;           // 22 (1-2) or 24 (3-8)
  size_t zoneArrays;     // 6 (1-2) or 10 (3-8)
  size_t soundMap;       // 512 (1-2), 740 (3-7), 900 (8)
};
RecordSizes SizesOf(Kind kind);

// ---------------------------------------------------------------- rooms ---

// One room vertex. Kinds 1-2 write x, y, z, lighting (8 bytes); kinds 3-7
// add attributes and lighting2 (12 bytes).
struct BVertex {
  int16_t x = 0, y = 0, z = 0;
  uint16_t lighting = 0;
  uint16_t attributes = 0;
  uint16_t lighting2 = 0;
};

// Faces: vertex index words, then the texture word (10 and 8 bytes).
struct BRectangle {
  std::array<uint16_t, 4> vertices{};
  uint16_t texture = 0;
};
struct BTriangle {
  std::array<uint16_t, 3> vertices{};
  uint16_t texture = 0;
};

// Values written instead of a room's real counts (see Conventions).
struct BRoomCountOverrides {
  std::optional<int64_t> vertices, rectangles, triangles, sprites, portals;
  std::optional<int64_t> sectorsZ, sectorsX;  // replace the grid size fields
  std::optional<int64_t> lights, statics;
};

struct BRoom {
  std::array<uint8_t, 16> info{};     // the 16 bytes before DataWords
  std::optional<uint32_t> dataWords;  // empty: ExpectedDataWords()
  std::vector<BVertex> vertices;
  std::vector<BRectangle> rectangles;
  std::vector<BTriangle> triangles;
  std::vector<std::array<uint8_t, 4>> sprites;
  std::vector<std::array<uint8_t, 32>> portals;
  uint16_t sectorsZ = 0, sectorsX = 0;  // grid size; sectors.size() must be Z*X
  std::vector<std::array<uint8_t, 8>> sectors;
  std::array<uint8_t, 2> ambient{};  // the two ambient bytes, first first
  uint16_t ambient2 = 0;             // kinds 3-7
  uint16_t lightMode = 0;            // kinds 3-4
  std::vector<Bytes> lights;         // each RecordSizes::light bytes
  std::vector<Bytes> statics;        // each RecordSizes::roomStatic bytes
  int16_t alternateRoom = -1;
  std::array<uint8_t, 2> flags{};    // low byte first (bit 0 water, 3 sky, 7 quicksand)
  uint8_t waterScheme = 0, reverb = 0, filler = 0;  // kinds 5-7
  BRoomCountOverrides counts;
};

// DataWords as the saver computes it: (vertices*s + rectangles*10 +
// triangles*8 + sprites*4 + 8) / 2 with s = 8 (kinds 1-2) or 12 (3-7),
// from the real element counts.
uint32_t ExpectedDataWords(Kind kind, const BRoom& room);

// Bytes one room occupies in the file.
size_t RoomFileSize(Kind kind, const BRoom& room);

// ------------------------------------------------------------ TR5 rooms ---
// A real TR5 room: "XELA", u32 size, a 208-byte header of fields and offsets
// (relative to the data area D = 216 bytes after "XELA"), then the data area:
// lights (88 bytes each), fog bulbs (36), sectors (8), u16 portal count,
// portals (32), u16 0xCDCD, statics (20), layers (56), the faces of each layer
// in turn (its rectangles, 12 bytes, then its triangles, 10 bytes), "CD CD"
// when the face bytes are not a multiple of 4, the vertices (28 bytes each).
// Every header value is derived from the content unless overridden (damage).

struct B5Rectangle {  // 12 bytes: four vertex indices, texture word, effects
  std::array<uint16_t, 4> vertices{};
  uint16_t texture = 0, effects = 0;
};
struct B5Triangle {  // 10 bytes: three vertex indices, texture word, effects
  std::array<uint16_t, 3> vertices{};
  uint16_t texture = 0, effects = 0;
};

struct B5Layer {
  std::vector<std::array<uint8_t, 28>> vertices;
  std::vector<B5Rectangle> rectangles;
  std::vector<B5Triangle> triangles;
  std::array<uint8_t, 24> boundingBox{};  // six f32
  // Written instead of the real counts of the layer record.
  std::optional<int64_t> vertexCount, rectangleCount, triangleCount;
};

// Values written instead of those derived from the room's content. Offsets
// are D-relative, as stored.
struct B5RoomOverrides {
  std::optional<std::array<uint8_t, 4>> mark;  // instead of "XELA"
  std::optional<int64_t> size, sectorEnd, sectorStart, portalEnd, lightStart, fogStart, layerStart,
      vertexStart, faceStart, vertexBytes;
  std::optional<int64_t> lights, statics, fogBulbs, layers, sectorsZ, sectorsX;
};

struct B5Room {
  std::array<int32_t, 5> info{};  // x, y, z, y bottom, y top
  uint16_t sectorsZ = 0, sectorsX = 0;  // sectors.size() must be Z*X
  std::vector<std::array<uint8_t, 8>> sectors;
  uint32_t colour = 0x00202020;   // ambient 0xAARRGGBB, stored B, G, R, A
  std::vector<std::array<uint8_t, 88>> lights;
  std::vector<std::array<uint8_t, 36>> fogBulbs;
  std::vector<std::array<uint8_t, 32>> portals;
  std::vector<std::array<uint8_t, 20>> statics;
  std::vector<B5Layer> layers;
  uint8_t reverb = 0, alternateGroup = 0, waterScheme = 5;
  int16_t alternateRoom = -1;
  uint16_t flags = 0x0040;        // 0x01 water, 0x08 sky, 0x04 quicksand (editor)
  B5RoomOverrides counts;
};

// The bytes of one room from "XELA" to its end. marks (may be null) receive
// offsets from "XELA": "size", "colour", "lights.count", "statics.count",
// "alternateRoom", "flags", "layers.count", "layerStart", "faceStart",
// "vertexStart", "sectorStart", "data" (D), "lights", "fogBulbs", "sectors",
// "portals.count", "statics", "layers", "layer<j>" (its record),
// "layer<j>.rectangles", "layer<j>.triangles", "vertices", "end".
Bytes BuildXelaRoom(const B5Room& room, std::map<std::string, size_t>* marks = nullptr);

// ------------------------------------------------- level data records ---

struct BStaticMesh {  // 32 bytes: the 32-bit id, then 28 bytes
  int32_t id = 0;
  std::array<uint8_t, 28> rest{};
};

// Kinds 1-5 write attribute, tile, corners (20 bytes); kinds 6-7 write
// attribute, tileAndFlags, corners, extra (38 bytes); kind 8 then closing (40).
struct BObjectTexture {
  uint16_t attribute = 0;
  uint16_t tile = 0;
  uint32_t tileAndFlags = 0;
  std::array<uint8_t, 16> corners{};
  std::array<uint32_t, 4> extra{};
  uint16_t closing = 0;
};

// Kinds 1-2 write 22 bytes (no intensity2), kinds 3-7 24 bytes.
struct BItem {
  uint16_t objectId = 0;
  int16_t room = 0;
  int32_t x = 0, y = 0, z = 0;
  uint16_t angle = 0;
  uint16_t intensity = 0;
  int16_t intensity2 = 0;
  uint16_t flags = 0;
};

// Values written instead of the real counts (see Conventions). rooms and
// cinematicFrames (kinds 1-5) and demoData are 2-byte fields, the rest 4.
// cinematicFrames also stands for the AI object count of kinds 6-7.
// texturePages is the page count field of kinds 1-5.
struct BCountOverrides {
  std::optional<int64_t> texturePages, rooms;
  std::optional<int64_t> floorData, meshData, meshPointers, animations, stateChanges,
      animDispatches, animCommands, meshTrees, frames, moveables, staticMeshes,
      objectTextures, spriteTextures, spriteSequences, cameras, flybyCameras, soundSources,
      boxes, overlaps, animatedTextures, items, cinematicFrames, demoData, soundDetails,
      sampleData, sampleIndices;
};

// How a compressed chunk (kinds 6-7) or the container stream is stored.
enum class ChunkForm {
  Zlib,         // a zlib stream of the content (level 9, window 15, memLevel 8)
  Stored,       // the content itself, uncompressed; both size fields = content size
  NotZlib,      // the zlib stream with a header naming no valid method
  BadChecksum,  // the zlib stream with its Adler-32 check altered
};

struct BChunkOptions {
  ChunkForm form = ChunkForm::Zlib;
  std::optional<int64_t> unpackedSize;  // written instead of the real sizes
  std::optional<int64_t> packedSize;
  int level = 9;  // the zlib level of the stream (1: header 78 01, 6: 78 9C, 9: 78 DA)
};

// Trailer of levels built with the TRNG editor (kinds 6-7). When present:
// the 2-byte demo data count field holds soundMapEntries, no demo bytes are
// written, soundMap must hold soundMapEntries*2 bytes, and the file ends with
// the block "NG" + payload + "NGLE" + u32 L, where L is the block's length
// (2 + payload + 8) unless lengthOverride is set. The block follows rawTail.
// With standardSoundMap (as older builds write): the count field holds 0,
// soundMapEntries must be 0 and soundMap holds the kind's standard
// RecordSizes::soundMap bytes.
struct BNgTrailer {
  bool present = false;
  bool standardSoundMap = false;
  uint16_t soundMapEntries = 0;
  Bytes payload;
  std::optional<int64_t> lengthOverride;
};

// The whole description of one level.
struct BLevel {
  Kind kind = Kind::TR1;
  std::optional<uint32_t> signature;  // empty: DefaultSignature(kind)

  // Head, kinds 1-5.
  Bytes palette8;    // 768 bytes; kinds 3-5 in the head, 2 after the sprite
                     // sequences, 1 after the light map; unused by 6-7
  Bytes palette16;   // 1024 bytes, kinds 3-5
  Bytes textiles8;   // kinds 1-5: pages*65536; the page count is its size/65536
  Bytes textiles16;  // kinds 3-5: pages*131072; kinds 6-7: chunk 2 content (any size)
  // Head, kinds 6-7.
  std::array<uint16_t, 3> tr4PageCounts{};  // room, object, bump page counts
  Bytes textiles32;   // chunk 1 content (any size; normally pages*262144)
  Bytes texturesMisc; // chunk 3 content (any size)
  std::array<BChunkOptions, 4> chunks;  // chunks 1..4 = index 0..3; kind 8:
                                        // [3] sizes replace the two level-data
                                        // size fields (form is ignored)

  // Kind 8, after chunk 3: u16 Lara type, u16 weather, 28 padding bytes.
  std::array<uint8_t, 32> tr5Fields{};

  // Level data.
  uint32_t reservedWord = 0;
  std::vector<BRoom> rooms;       // kinds 1-7
  std::vector<B5Room> rooms5;     // kind 8 (a 4-byte room count)
  std::vector<uint16_t> floorData;
  std::vector<uint16_t> meshData;
  std::vector<int32_t> meshPointers;
  std::vector<Bytes> animations;  // each RecordSizes::animation bytes
  std::vector<std::array<uint8_t, 6>> stateChanges;
  std::vector<std::array<uint8_t, 8>> animDispatches;
  std::vector<uint16_t> animCommands;
  std::vector<int32_t> meshTrees;
  std::vector<uint16_t> frames;
  std::vector<std::array<uint8_t, 18>> moveables;    // kinds 1-7
  std::vector<std::array<uint8_t, 20>> moveables20;  // kind 8
  std::vector<BStaticMesh> staticMeshes;
  std::vector<BObjectTexture> objectTextures;  // after the statics (1-4) or the
                                               // animated textures (5-7)
  std::array<uint8_t, 3> spriteMarker{'S', 'P', 'R'};  // kinds 6-7
  std::array<uint8_t, 4> texMarker{0, 'T', 'E', 'X'};  // kinds 6-7: UV-rotate byte, "TEX"
  std::array<uint8_t, 4> spriteMarker5{'S', 'P', 'R', 0};    // kind 8
  std::array<uint8_t, 5> texMarker5{0, 'T', 'E', 'X', 0};    // kind 8: UV-rotate byte, "TEX\0"
  std::vector<std::array<uint8_t, 16>> spriteTextures;
  std::vector<std::array<uint8_t, 8>> spriteSequences;
  std::vector<std::array<uint8_t, 16>> cameras;
  std::vector<std::array<uint8_t, 40>> flybyCameras;  // kinds 6-7
  std::vector<std::array<uint8_t, 16>> soundSources;
  std::vector<Bytes> boxes;                 // each RecordSizes::box bytes
  std::vector<uint16_t> overlaps;
  std::array<std::vector<int16_t>, 10> zones;  // each boxes.size() entries; kinds
                                               // 1-2 write 0,1,4,5,6,9 only
  std::vector<uint16_t> animatedTextures;
  std::vector<BItem> items;
  Bytes lightMap;                                       // 8192 bytes, kinds 1-5
  std::vector<std::array<uint8_t, 16>> cinematicFrames; // kinds 1-5
  std::vector<std::array<uint8_t, 24>> aiObjects;       // kinds 6-7
  Bytes demoData;     // must be empty when ng.present
  Bytes soundMap;     // RecordSizes::soundMap bytes (or 2*ng.soundMapEntries)
  std::vector<std::array<uint8_t, 8>> soundDetails;
  Bytes sampleData;   // kinds 1-2: the counted sample block
  std::vector<int32_t> sampleIndices;
  Bytes trailingBytes;  // after the sample indices, still inside the level data

  // After chunk 4, kinds 6-7; after the level data, kind 8 (its sample
  // block: u32 count, then per sample u32 decoded size, u32 size, bytes).
  Bytes rawTail;
  BNgTrailer ng;

  BCountOverrides counts;
};

// --------------------------------------------------------------- output ---

// Byte offsets of named places.
//   data: into BuildLevelData(): "reservedWord", "rooms.count", "room<i>"
//         (start of room i), "room<i>.<field>" for info, dataWords, vertices,
//         rectangles, triangles, sprites, portals, sectorsZ, sectorsX, sectors,
//         ambient, ambient2, lightMode, lights, statics, alternateRoom, flags,
//         waterScheme, reverb, filler, end; "rooms.end"; then each section
//         after the rooms by its BLevel field name (first element) and
//         "<name>.count" for its count field: floorData, meshData,
//         meshPointers, animations, stateChanges, animDispatches, animCommands,
//         meshTrees, frames, moveables, staticMeshes, objectTextures,
//         spriteMarker, spriteTextures, spriteSequences, palette8, cameras,
//         flybyCameras, soundSources, boxes, overlaps, zones, animatedTextures,
//         texMarker, items, lightMap, cinematicFrames / aiObjects, demoData,
//         soundMap, soundDetails, sampleData, sampleIndices, trailingBytes,
//         "end". Counted room fields have "room<i>.vertices.count" etc.
//         Kind 8 rooms: "room<i>" (its "XELA") and "room<i>.<mark>" for the
//         marks of BuildXelaRoom; "moveables" holds moveables20.
//         Only places that exist in the kind are present.
//   file: into Build(): "signature", and kinds 1-5: "palette8" and
//         "palette16" (3-5 head), "pages.count", "textiles8", "textiles16",
//         "levelData", plus every data key shifted by "levelData" (kind 1-2
//         "palette8" is the one in the level data); kinds 6-7: "tr4PageCounts",
//         "chunk<k>" (its size pair) and "chunk<k>.data" (its stored bytes)
//         for k = 1..4, "tail", "ngTrailer" (when present); kind 8:
//         "tr4PageCounts", "chunk1".."chunk3" (+ ".data"), "tr5Fields",
//         "levelData.sizes", "levelData" and every data key shifted by it,
//         "tail"; always "end".
struct BLayout {
  std::map<std::string, size_t> file;
  std::map<std::string, size_t> data;
  // Throw std::out_of_range naming the key when it is absent.
  size_t File(const std::string& key) const;
  size_t Data(const std::string& key) const;
};

// The whole level file (never wrapped in the container). Throws
// std::invalid_argument for a description that does not fit its kind.
Bytes Build(const BLevel& level, BLayout* layout = nullptr);

// The level data: reserved word .. trailing bytes (for kinds 6-7 the content
// of chunk 4 before compression).
Bytes BuildLevelData(const BLevel& level, BLayout* layout = nullptr);

// Offsets only (builds the file once).
BLayout LayoutOf(const BLevel& level);

// The "ZLIB" container: magic, packed length, unpacked length, stream.
struct BZlibOptions {
  ChunkForm form = ChunkForm::Zlib;
  std::optional<int64_t> packedLength;    // written instead of the real ones
  std::optional<int64_t> unpackedLength;
};
Bytes WrapZlib(const Bytes& content, const BZlibOptions& options = {});

// One zlib stream of data: deflateInit2 level 9 (or the given level),
// Z_DEFLATED, window 15, memLevel 8, Z_DEFAULT_STRATEGY. Throws
// std::runtime_error on a zlib failure.
Bytes Deflate(const Bytes& data, int level = 9);
// Inflates one whole zlib stream; throws std::runtime_error when it is not one.
Bytes Inflate(const Bytes& stream);

// ---------------------------------------------------------- descriptions ---

// A valid level of the kind with nothing in it: no pages, no rooms, empty
// arrays, and the fixed areas (palettes, light map, sound map) zero-filled at
// their sizes.
BLevel EmptyLevel(Kind kind);

// Sets the texture page content for `pages` pages of a pattern derived from
// seed: kinds 1-5 textiles8 (and textiles16 for 3-5); kinds 6-7 chunk 1 =
// pages*262144, chunk 2 = pages*131072, chunk 3 = miscBytes.
void FillPages(BLevel& level, int pages, unsigned seed, size_t miscBytes = 65536);

// Turns on the NG trailer with the given sound map entry count: sizes
// soundMap to 2*entries pattern bytes, clears demoData, sets the payload.
void SetNgTrailer(BLevel& level, uint16_t soundMapEntries, size_t payloadBytes,
                  unsigned seed = 1);

// Turns on the NG trailer in the older form (standardSoundMap): a count of 0
// and the standard sound map, of pattern bytes.
void SetNgTrailerWithStandardMap(BLevel& level, size_t payloadBytes, unsigned seed = 1);

// A small, fully populated level of the kind (1..8), deterministic from seed:
// one texture page, 3 rooms whose every field holds distinct non-zero content
// (1..3 lights and statics, sector grids 2x3, 3x3, 4x3), every array of the
// kind non-empty, 5 items (object ids 7, 0, 35, 0, 600; the two id-0 items in
// rooms 1 and 2), two animated texture groups (ids 12 13, and 7), three
// static meshes, kinds 1-2 a sample block, kinds 6-7 a raw tail. No trailing
// bytes and no NG trailer (set them where a test wants them). Kind 8: the
// same three rooms as XELA rooms (room 1 with two layers, room 2 with three,
// one of them empty; fog bulbs in rooms 0 and 2), the six 0xCD bytes as
// trailing bytes, and a sample block of two samples as the raw tail.
BLevel SampleLevel(int kind, unsigned seed);

// A real-TR5 sample block: u32 count, then per sample its decoded size, its
// stored size and the stored bytes.
Bytes Tr5SampleBlock(const std::vector<Bytes>& samples);

}  // namespace qmtest
