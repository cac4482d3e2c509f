// Loading levels of every kind: the model against the builder's description,
// rooms of many records, kind detection, and damaged files (a cut at every
// offset, impossible counts, bad compressed chunks).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include <sys/resource.h>

#include "errors.h"
#include "levelbuilder.h"
#include "trlevel.h"

namespace qmtest {
namespace {

namespace fs = std::filesystem;
using qm::Ttrlevel;

// A fresh directory, in memory where the system offers it: the cut sweeps write thousands of small files.
struct LevelDir {
    std::string Path = "/dev/shm/qm-load-XXXXXX";
    LevelDir() {
        if (!::mkdtemp(Path.data()) && !::mkdtemp((Path = "/tmp/qm-load-XXXXXX").data())) throw std::runtime_error("mkdtemp");
    }
    ~LevelDir() { std::error_code ec; fs::remove_all(Path, ec); }
    std::string operator/(const std::string& name) const { return Path + "/" + name; }
};

void WriteFile(const std::string& path, const Bytes& b) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
void Put16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) { Put16(b, v), Put16(b, v >> 16); }
// The bytes of a contiguous container (records, or words of this machine's order).
template <class C>
Bytes B(const C& c) {
    const auto* p = reinterpret_cast<const uint8_t*>(c.data());
    return Bytes(p, p + c.size() * sizeof(c[0]));
}
void Append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }
Bytes Join(const std::vector<Bytes>& v) {
    Bytes b;
    for (const auto& r : v) b.insert(b.end(), r.begin(), r.end());
    return b;
}
using Parts = std::vector<std::pair<const char*, std::pair<Bytes, Bytes>>>;
void ExpectParts(const Parts& parts) {
    for (const auto& [name, p] : parts) EXPECT_TRUE(p.first == p.second) << name << " differs";
}

// What a load did: its result, or the kind of error with its texts.
enum class Fail { None, End, Range, Decompress, Level, Other };
struct Outcome {
    Fail Got = Fail::None;
    int Result = -1;
    std::string What, Where;
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "result " << o.Result << ", error '" << o.What << "' " << o.Where;
}

Outcome TryLoad(Ttrlevel& M, const std::string& path) {
    Outcome o;
    try {
        o.Result = M.LoadLevel(path);
        return o;
    } catch (const qm::EInOutError& e) {
        o = {e.Code == qm::EInOutError::ReadBeyondEnd ? Fail::End : Fail::Other, -1, e.what(), e.Where};
    } catch (const qm::ERangeError& e) { o = {Fail::Range, -1, e.what(), e.Where};
    } catch (const qm::EDecompressionError& e) { o = {Fail::Decompress, -1, e.what(), e.Where};
    } catch (const qm::ELevelError& e) { o = {Fail::Level, -1, e.what(), e.Where};
    } catch (const std::exception& e) { o = {Fail::Other, -1, e.what(), ""}; }
    EXPECT_FALSE(M.IsLoaded()) << "a failed load must leave no level loaded";
    const char* text = o.Got == Fail::End ? "Read beyond end of file" : o.Got == Fail::Range ? "Range check error" : nullptr;
    if (text) { EXPECT_EQ(o.What, text); }
    return o;
}

// ------------------------------------------------ model vs description ---

Bytes Vertex(const BVertex& v, int k, bool form12) {
    Bytes b;
    for (int f : {int(v.x), int(v.y), int(v.z), int(v.lighting)}) Put16(b, uint32_t(f));
    if (form12) Put16(b, k <= 2 ? 0x0010 : v.attributes), Put16(b, k <= 2 ? 0x3DEF : v.lighting2);
    return b;
}
// An item in the 22- or 24-byte form; kinds 1-2 have no Intensity2 to give.
Bytes Item(const BItem& it, int k, bool form24) {
    Bytes b;
    Put16(b, it.objectId), Put16(b, uint16_t(it.room));
    for (int32_t c : {it.x, it.y, it.z}) Put32(b, uint32_t(c));
    Put16(b, it.angle), Put16(b, it.intensity);
    if (form24) Put16(b, k <= 2 ? 0 : uint16_t(it.intensity2));
    Put16(b, it.flags);
    return b;
}

void ExpectRoom(const qm::RoomRecord& R, const BRoom& r, int k) {
    EXPECT_EQ(R.RoomInfo.DataWords, r.dataWords.value_or(ExpectedDataWords(KindFromInt(k), r)));
    Bytes v8, v12, rects, tris, counts, expectCounts, tail, expectTail;
    for (const auto& v : r.vertices) Append(v8, Vertex(v, k, false)), Append(v12, Vertex(v, k, true));
    for (const auto& f : r.rectangles) { for (uint16_t i : f.vertices) Put16(rects, i); Put16(rects, f.texture); }
    for (const auto& f : r.triangles) { for (uint16_t i : f.vertices) Put16(tris, i); Put16(tris, f.texture); }
    for (uint32_t c : {R.VertexCount, R.RectangleCount, R.TriangleCount, R.SpriteCount, R.PortalCount,
                       R.SectorCountZ, R.SectorCountX, R.LightCount, R.StaticCount}) Put16(counts, c);
    for (size_t c : {r.vertices.size(), r.rectangles.size(), r.triangles.size(), r.sprites.size(), r.portals.size(),
                     size_t(r.sectorsZ), size_t(r.sectorsX), r.lights.size(), r.statics.size()}) Put16(expectCounts, uint32_t(c));
    tail = {R.AmbientIntensity[0], R.AmbientIntensity[1], R.RoomFlags[0], R.RoomFlags[1], R.WaterScheme, R.ReverbInfo, R.RoomFiller};
    expectTail = {r.ambient[0], r.ambient[1], r.flags[0], r.flags[1]};
    for (uint8_t b : {r.waterScheme, r.reverb, r.filler}) expectTail.push_back(k >= 5 ? b : 0);
    Put16(tail, R.AmbientIntensity2), Put16(tail, R.LightMode), Put16(tail, uint16_t(R.AlternateRoom));
    Put16(expectTail, k >= 3 ? r.ambient2 : 0), Put16(expectTail, k == 3 || k == 4 ? r.lightMode : 0);
    Put16(expectTail, uint16_t(r.alternateRoom));
    // Both vertex forms hold every vertex; kinds 1-2 give the 12-byte form 0x0010 and 0x3DEF.
    ExpectParts({{"room info", {B(R.RoomInfo.Head), B(r.info)}}, {"counts", {counts, expectCounts}},
                 {"8-byte vertices", {B(R.Vertices8), v8}}, {"12-byte vertices", {B(R.Vertices12), v12}},
                 {"rectangles", {B(R.Rectangles), rects}}, {"triangles", {B(R.Triangles), tris}},
                 {"sprites", {B(R.Sprites), B(r.sprites)}}, {"portals", {B(R.Portals), B(r.portals)}},
                 {"sectors", {B(R.Sectors), B(r.sectors)}}, {"single fields", {tail, expectTail}},
                 {"18-byte lights", {B(R.Lights18), k <= 2 ? Join(r.lights) : Bytes{}}},
                 {"24-byte lights", {B(R.Lights24), k >= 3 && k <= 5 ? Join(r.lights) : Bytes{}}},
                 {"46-byte lights", {B(R.Lights46), k >= 6 ? Join(r.lights) : Bytes{}}},
                 {"18-byte statics", {B(R.Statics18), k <= 2 ? Join(r.statics) : Bytes{}}},
                 {"20-byte statics", {B(R.Statics20), k >= 3 ? Join(r.statics) : Bytes{}}}});
}

// The whole model against the description L; file is L built (for the raw tail).
void ExpectModel(const Ttrlevel& M, const BLevel& L, const Bytes& file) {
    const int k = int(L.kind);
    ASSERT_TRUE(M.IsLoaded());
    EXPECT_EQ(M.LevelVersion, k);
    EXPECT_EQ(M.FileSignature, L.signature.value_or(DefaultSignature(L.kind)));
    const size_t pages = k <= 5 ? L.textiles8.size() / 65536 : L.textiles16.size() / 131072;
    EXPECT_EQ(M.TexturePageCount(), int32_t(pages));
    EXPECT_EQ(M.Textiles8.size(), k <= 5 ? pages * 65536 : 0);
    ASSERT_EQ(M.Rooms.size(), L.rooms.size());
    for (size_t i = 0; i < L.rooms.size(); ++i) {
        SCOPED_TRACE("room " + std::to_string(i));
        ExpectRoom(M.Rooms[i], L.rooms[i], k);
    }
    Bytes counts, expectCounts, head, expectHead, statics, items22, items24, textures, expectTextures, zones, expectZones;
    for (int32_t c : {M.FloorDataCount, M.MeshDataCount, M.MeshPointerCount, M.AnimationCount, M.StateChangeCount,
                      M.AnimDispatchCount, M.AnimCommandCount, M.MeshTreeCount, M.FrameCount, M.MoveableCount,
                      M.StaticMeshCount, M.ObjectTextureCount, M.SpriteTextureCount, M.SpriteSequenceCount,
                      M.CameraCount, M.FlybyCameraCount, M.SoundSourceCount, M.BoxCount, M.OverlapCount,
                      M.ZoneCount, M.AnimatedTextureCount, M.ItemCount, M.CinematicFrameCount, M.DemoDataCount,
                      M.SoundDetailCount, M.SampleIndexCount, int32_t(M.RoomCount), M.SampleDataSize}) Put32(counts, uint32_t(c));
    const Bytes tail = k <= 5 ? Bytes{} : Bytes(file.begin() + std::ptrdiff_t(LayoutOf(L).File("tail")), file.end());
    const Bytes samples = k <= 2 ? L.sampleData : tail;
    for (size_t c : {L.floorData.size(), L.meshData.size(), L.meshPointers.size(), L.animations.size(),
                     L.stateChanges.size(), L.animDispatches.size(), L.animCommands.size(), L.meshTrees.size(),
                     L.frames.size(), L.moveables.size(), L.staticMeshes.size(), L.objectTextures.size(),
                     L.spriteTextures.size(), L.spriteSequences.size(), L.cameras.size(), L.flybyCameras.size(),
                     L.soundSources.size(), L.boxes.size(), L.overlaps.size(), L.boxes.size(), L.animatedTextures.size(),
                     L.items.size(), k <= 5 ? L.cinematicFrames.size() : L.aiObjects.size(),
                     L.ng.present ? L.ng.soundMapEntries : L.demoData.size(), L.soundDetails.size(),
                     L.sampleIndices.size(), L.rooms.size(), samples.size()}) Put32(expectCounts, uint32_t(c));
    const auto held = [k](size_t size) { return k >= 6 ? int32_t(size) : 0; };
    head = Join({B(std::array{held(M.Textiles32.size()), held(M.Textiles16.size()), held(M.TextilesMisc.size())}),
                 B(std::to_array(M.Tr4TextileCounts))});
    for (size_t c : {L.textiles32.size(), L.textiles16.size(), L.texturesMisc.size()}) Put32(expectHead, k >= 6 ? uint32_t(c) : 0);
    Append(expectHead, B(L.tr4PageCounts)), Append(head, B(M.LevelReservedWord)), Put32(expectHead, L.reservedWord);
    for (const auto& s : L.staticMeshes) Append(statics, Join({B(std::array{s.id}), B(s.rest)}));
    for (const auto& it : L.items) Append(items22, Item(it, k, false)), Append(items24, Item(it, k, true));
    for (size_t i = 0; i < M.ObjectTextures.size() && i < L.objectTextures.size(); ++i) {
        const auto& m = M.ObjectTextures[i];
        const auto& t = L.objectTextures[i];
        // The 20-byte form's Tile widens to TileAndFlags; the 38-byte form's TileAndFlags gives Tile its low half.
        const uint32_t tileAndFlags = k >= 6 ? t.tileAndFlags : t.tile;
        Append(textures, Join({B(std::array{uint32_t(m.Attribute), uint32_t(m.Tile), m.TileAndFlags}), B(m.Corners),
                               B(std::to_array(m.Tr4Extra))}));
        Append(expectTextures, Join({B(std::array{uint32_t(t.attribute), tileAndFlags & 0xFFFF, tileAndFlags}),
                                     B(t.corners), k >= 6 ? B(t.extra) : Bytes(16)}));
    }
    for (size_t z = 0; z < 10; ++z) {
        // Kinds 1-2 hold six zone arrays, which land in 0, 1, 4, 5, 6 and 9; the others stay zero.
        const bool inFile = k >= 3 || z == 0 || z == 1 || z == 4 || z == 5 || z == 6 || z == 9;
        Append(zones, B(M.Zones[z]));
        Append(expectZones, inFile ? B(L.zones[z]) : Bytes(L.boxes.size() * 2));
    }
    ExpectParts({{"counts", {counts, expectCounts}}, {"head", {head, expectHead}},
                 {"8-bit pages", {B(M.Textiles8), k <= 5 ? L.textiles8 : Bytes{}}}, {"16-bit pages", {B(M.Textiles16), L.textiles16}},
                 {"32-bit pages", {B(M.Textiles32), L.textiles32}}, {"misc pages", {B(M.TextilesMisc), L.texturesMisc}},
                 {"palette", {B(M.Palette8), k <= 5 ? L.palette8 : Bytes(768)}},  // head (3-5), after sprites (2) or light map (1)
                 {"16-bit palette", {B(M.Palette16), k >= 3 && k <= 5 ? L.palette16 : Bytes(1024)}},
                 {"light map", {B(M.LightMap), k <= 5 ? L.lightMap : Bytes(8192)}},
                 {"markers", {Join({Bytes(M.SpriteMarker.begin(), M.SpriteMarker.begin() + 3), Bytes(M.TexMarker.begin(), M.TexMarker.begin() + 4)}),
                              k >= 6 ? Join({B(L.spriteMarker), B(L.texMarker)}) : Bytes(7)}},
                 {"floor data", {B(M.FloorData), B(L.floorData)}}, {"mesh data", {B(M.MeshData), B(L.meshData)}},
                 {"mesh pointers", {B(M.MeshPointers), B(L.meshPointers)}},
                 {"animations", {k <= 5 ? B(M.Animations32) : B(M.Animations40), Join(L.animations)}},
                 {"state changes", {B(M.StateChanges), B(L.stateChanges)}}, {"dispatches", {B(M.AnimDispatches), B(L.animDispatches)}},
                 {"anim commands", {B(M.AnimCommands), B(L.animCommands)}}, {"mesh trees", {B(M.MeshTrees), B(L.meshTrees)}},
                 {"frames", {B(M.Frames), B(L.frames)}}, {"moveables", {B(M.Moveables), B(L.moveables)}},
                 {"static meshes", {B(M.StaticMeshes), statics}}, {"object textures", {textures, expectTextures}},
                 {"sprite textures", {B(M.SpriteTextures), B(L.spriteTextures)}},
                 {"sprite sequences", {B(M.SpriteSequences), B(L.spriteSequences)}}, {"cameras", {B(M.Cameras), B(L.cameras)}},
                 {"flyby cameras", {B(M.FlybyCameras), B(L.flybyCameras)}}, {"sound sources", {B(M.SoundSources), B(L.soundSources)}},
                 {"boxes", {k <= 2 ? B(M.Boxes20) : B(M.Boxes8), Join(L.boxes)}}, {"overlaps", {B(M.Overlaps), B(L.overlaps)}},
                 {"zones", {zones, expectZones}}, {"animated textures", {B(M.AnimatedTextures), B(L.animatedTextures)}},
                 {"22-byte items", {B(M.Items22), items22}}, {"24-byte items", {B(M.Items24), items24}},
                 {"cinematic frames", {B(M.CinematicFrames), B(L.cinematicFrames)}}, {"AI objects", {B(M.AIObjects), B(L.aiObjects)}},
                 {"demo data", {B(M.DemoData), L.demoData}}, {"sound map", {B(M.SoundMap), L.soundMap}},
                 {"sound details", {B(M.SoundDetails), B(L.soundDetails)}}, {"samples", {B(M.SampleData), samples}},
                 {"sample indices", {B(M.SampleIndices), B(L.sampleIndices)}}, {"trailing bytes", {B(M.TrailingBytes), L.trailingBytes}}});
    EXPECT_EQ(M.IsNgLevel(), L.ng.present);
}

class LevelLoad : public ::testing::TestWithParam<int> {
protected:
    LevelDir Dir;
    Ttrlevel M;
    std::string Name() const { return Dir / (std::string("level") + FileExtension(KindFromInt(GetParam()))); }
    Outcome LoadBytes(const Bytes& b) { return WriteFile(Name(), b), TryLoad(M, Name()); }
};

TEST_P(LevelLoad, ModelMatchesTheDescription) {
    struct Variant { const char* Name; bool Wrap; size_t Trailing; uint16_t NgEntries; bool TailIsTrailer = false; };
    for (const Variant v : {Variant{"plain", false, 0, 0}, Variant{"in a container", true, 0, 0},
                            Variant{"trailing bytes", false, 6, 0}, Variant{"NG level", false, 6, 37},
                            Variant{"NG level whose tail is only the trailer", false, 6, 21, true}}) {
        SCOPED_TRACE(v.Name);
        if (v.NgEntries && GetParam() < 6) continue;
        BLevel L = SampleLevel(GetParam(), 11);
        L.trailingBytes = Bytes(v.Trailing, 0xA5);
        if (v.TailIsTrailer) L.rawTail.clear();
        if (v.NgEntries) SetNgTrailer(L, v.NgEntries, 30);
        const Bytes file = Build(L);
        const Outcome o = LoadBytes(v.Wrap ? WrapZlib(file) : file);
        ASSERT_EQ(o.Result, 0) << o;
        ExpectModel(M, L, file);
    }
}

TEST(LevelLoadKinds, KindFollowsSignatureAndTheFilesOwnName) {
    // Signature 0: the kind's own. An empty TR1 level reads whole in both TR1
    // layouts, so there the name alone decides; folders never count.
    struct Row { Kind Built; uint32_t Signature; const char* Path; bool Empty = false; };
    const Row rows[] = {{Kind::TR1, 0, "level.phd"},          {Kind::TUB, 0, "level.tub"},
                        {Kind::TUB, 0, "LEVEL.TUB"},          {Kind::TUB, 0, "level.Tub", true},
                        {Kind::TR1, 0, "x.TUB/level.phd", true}, {Kind::TR1, 0, "backup.tub/LEVEL.PHD", true},
                        {Kind::TUB, 0, "a.phd/b.tUb", true},  {Kind::TR2, 0, "level.tr2"},
                        {Kind::TRG, 0, "level.trg"},          {Kind::TRG, 0, "LEVEL.TRG"},
                        {Kind::TRG, 0, "level.Trg"},          {Kind::TR2, 0, "x.trg/level.tr2"},
                        {Kind::TR3, 0, "level.trc"},          {Kind::TR3, 0xFF180038, "a.tub"},
                        {Kind::TR4, 0, "level.tr4"},          {Kind::TRC, 0, "level.trc"},
                        {Kind::TRC, 0xFFFFFFF0, "A.TRC"},     {Kind::TRC, 0xFFFFFFF0, "a.Trc"},
                        {Kind::TR4, 0, "mods.trc/level.tr4"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Path);
        LevelDir dir;
        BLevel L = row.Empty ? EmptyLevel(row.Built) : SampleLevel(int(row.Built), 3);
        if (row.Signature) L.signature = row.Signature;
        const Bytes file = Build(L);
        fs::create_directories(fs::path(dir / row.Path).parent_path());
        WriteFile(dir / row.Path, file);
        Ttrlevel M;
        const Outcome o = TryLoad(M, dir / row.Path);
        ASSERT_EQ(o.Result, 0) << o;
        ExpectModel(M, L, file);
    }
}

TEST(LevelLoadKinds, Tr1FilesInTheOtherLayoutReadOnlyWhenItFitsExactly) {
    for (const auto& [built, name] : {std::pair{Kind::TUB, "level.phd"}, std::pair{Kind::TR1, "LEVEL.TUB"}}) {
        SCOPED_TRACE(name);
        LevelDir dir;
        BLevel L = SampleLevel(int(built), 21);
        BLayout lay;
        const Bytes file = Build(L, &lay);
        Ttrlevel M;
        // Whole in the other layout: read in it, and kept as that kind.
        WriteFile(dir / name, file);
        Outcome o = TryLoad(M, dir / name);
        ASSERT_EQ(o.Result, 0) << o;
        ExpectModel(M, L, file);
        if (built != Kind::TUB) continue;
        // Not whole in the other layout (a byte missing, a byte left over): the
        // report of the name's own layout stands. Read as TR1, the ".TUB"
        // palette after the sprite sequences is taken for the camera count.
        const std::string cameras = "at byte " + std::to_string(lay.File("palette8") + 4) + " of the file: cameras";
        for (const Bytes& damaged : {Bytes(file.begin(), file.end() - 1), Join({file, Bytes{0}})}) {
            WriteFile(dir / name, damaged);
            o = TryLoad(M, dir / name);
            EXPECT_TRUE(o.Got == Fail::End || o.Got == Fail::Range) << o;
            EXPECT_EQ(o.Where, cameras);
            EXPECT_FALSE(M.IsLoaded());
        }
    }
}

// A level for cutting: the sample level without texture pages and with a few
// trailing bytes. Cuts are made in the file (kinds 1-5) or in the level data,
// which is then stored as a valid chunk 4 (kinds 6-7).
struct Cutter {
    BLevel L;
    BLayout Lay;
    Bytes File, Full, Prefix, Suffix;
    bool InChunk;
    explicit Cutter(int k) : Cutter(Prepared(k)) {}
    explicit Cutter(BLevel level) : L(std::move(level)), InChunk(int(L.kind) >= 6) {
        File = Build(L, &Lay);
        Full = InChunk ? BuildLevelData(L) : File;
        if (!InChunk) return;
        Prefix.assign(File.begin(), File.begin() + std::ptrdiff_t(Lay.File("chunk4")));
        Suffix.assign(File.begin() + std::ptrdiff_t(Lay.File("tail")), File.end());
    }
    static BLevel Prepared(int k) {
        BLevel L = SampleLevel(k, 5);
        FillPages(L, 0, 5, 100);
        L.trailingBytes = {1, 2, 3, 4, 5, 6};
        return L;
    }
    size_t At(const std::string& key) const { return InChunk ? Lay.Data(key) : Lay.File(key); }
    std::string Area() const { return InChunk ? "level data chunk" : "file"; }
    Bytes Cut(size_t n) const {
        Bytes data(Full.begin(), Full.begin() + std::ptrdiff_t(n));
        if (!InChunk) return data;
        const Bytes packed = Deflate(data);
        Bytes sizes;
        Put32(sizes, uint32_t(n)), Put32(sizes, uint32_t(packed.size()));
        return Join({Prefix, sizes, packed, Suffix});
    }
};

// Every offset near a place of the layout, and every 61st inside long areas
// (palettes, light map, sound map, samples, packed chunks).
bool Dense(const std::map<std::string, size_t>& places, size_t n) {
    size_t below = 0, above = SIZE_MAX;
    for (const auto& p : places) p.second <= n ? below = std::max(below, p.second) : above = std::min(above, p.second);
    return n - below < 16 || above - n <= 16 || n % 61 == 0;
}

// The most memory this process has held so far, in KiB.
long PeakKiB() {
    rusage u{};
    return ::getrusage(RUSAGE_SELF, &u) == 0 ? u.ru_maxrss : 0;
}

// The offset a Where text starts with ("at byte N of the <area>: ..."), or -1.
long WhereOffset(const std::string& where, const std::string& area) {
    if (where.rfind("at byte ", 0) != 0 || where.find(" of the " + area + ": ") == std::string::npos) return -1;
    return std::strtol(where.c_str() + 8, nullptr, 10);
}

TEST_P(LevelLoad, CutsBeforeTheEndOfTheSampleIndicesFail) {
    const Cutter c(GetParam());
    // Some cuts one byte into a read, with the place the error must name.
    const std::pair<const char*, const char*> rows[] = {
        {"rooms.count", "level data, room count"}, {"room1.vertices", "room 1, vertices"}, {"room2.sectors", "room 2, sectors"},
        {"room0.lights.count", "room 0, lights"}, {"room1.alternateRoom", "room 1, flags"}, {"floorData.count", "floor data"},
        {"objectTextures", "object textures"}, {"zones", "zones"}, {"items.count", "items"}, {"soundMap", "sound map"},
        {"sampleIndices", "sample indices"}};
    std::map<size_t, std::string> places;
    for (const auto& [key, place] : rows)
        places[c.At(key) + 1] = "at byte " + std::to_string(c.At(key)) + " of the " + c.Area() + ": " + place;
    const size_t indicesEnd = c.At("trailingBytes");
    for (size_t n = 0; n <= c.Full.size() && !HasFailure(); ++n) {
        if (!Dense(c.InChunk ? c.Lay.data : c.Lay.file, n)) continue;
        const Outcome o = LoadBytes(c.Cut(n));
        if (!c.InChunk && n < 4) {
            EXPECT_EQ(o.Result, 2) << "cut at " << n;
        } else if (n < indicesEnd) {
            const long at = WhereOffset(o.Where, c.Area());
            EXPECT_TRUE(o.Got == Fail::End && at >= 0 && size_t(at) <= n) << "cut at " << n << ": " << o;
            if (places.count(n)) { EXPECT_EQ(o.Where, places[n]); }
        } else {
            EXPECT_TRUE(o.Result == 0 && M.TrailingBytes.size() == n - indicesEnd) << "cut at " << n << ": " << o;
        }
    }
    // Kinds 6-7: the file itself cut in its head or chunks; cuts in the raw tail load.
    const size_t tail = c.InChunk ? c.Lay.File("tail") : 0;
    for (size_t n = 0; c.InChunk && n <= c.File.size() && !HasFailure(); ++n) {
        if (!Dense(c.Lay.file, n)) continue;
        const Outcome o = LoadBytes(Bytes(c.File.begin(), c.File.begin() + std::ptrdiff_t(n)));
        const bool ok = n < 4      ? o.Result == 2
                        : n < tail ? o.Got == Fail::End && WhereOffset(o.Where, "file") >= 0
                                   : o.Result == 0 && M.SampleData.size() == n - tail;
        EXPECT_TRUE(ok) << "file cut at " << n << ": " << o;
    }
}

TEST_P(LevelLoad, ImpossibleCountsFailRightAfterTheCount) {
    // Expected error for kinds 1-2, 3-5, 6-7: E end of data, R range, - no such count.
    struct Row { const char* Key; std::optional<int64_t> BCountOverrides::*Field; int64_t Value; const char* Expect; };
    const Row rows[] = {
        {"rooms.count", &BCountOverrides::rooms, 65535, "EEE"},
        {"pages.count", &BCountOverrides::texturePages, 30000, "EE-"},  // 8-bit block < 2 GiB: the file ends first
        {"pages.count", &BCountOverrides::texturePages, 40000, "RR-"},
        {"pages.count", &BCountOverrides::texturePages, -1, "RR-"},
        {"floorData.count", &BCountOverrides::floorData, 1'000'000'000, "EEE"},
        {"meshPointers.count", &BCountOverrides::meshPointers, 1'000'000'000, "RRR"},
        {"frames.count", &BCountOverrides::frames, -1, "RRR"},
        {"objectTextures.count", &BCountOverrides::objectTextures, 1'000'000'000, "RRR"},
        {"boxes.count", &BCountOverrides::boxes, 50'000'000, "EEE"},
        {"overlaps.count", &BCountOverrides::overlaps, 0x7FFFFFFF, "RRR"},
        {"items.count", &BCountOverrides::items, -5, "RRR"},
        {"cinematicFrames.count", &BCountOverrides::cinematicFrames, -1, "EE-"},
        {"aiObjects.count", &BCountOverrides::cinematicFrames, -1, "--R"},
        {"demoData.count", &BCountOverrides::demoData, 65535, "EEE"},
        {"sampleData.count", &BCountOverrides::sampleData, -2, "R--"},
        {"sampleIndices.count", &BCountOverrides::sampleIndices, 1'000'000'000, "RRR"},
    };
    const int k = GetParam();
    for (const Row& row : rows) {
        const char want = row.Expect[k <= 2 ? 0 : k <= 5 ? 1 : 2];
        if (want == '-') continue;
        BLevel L = EmptyLevel(KindFromInt(k));
        // A palette and light map of zeros would read as zero counts in the
        // other TR1 layout, which then fits this level to its last byte.
        L.palette8.assign(768, 0x3F);
        if (k <= 5) L.lightMap.assign(8192, 0x11);
        L.counts.*row.Field = row.Value;
        BLayout lay;
        const Bytes file = Build(L, &lay);
        const long peak = PeakKiB();
        const Outcome o = LoadBytes(file);
        // Refused before anything is allocated for the count (the peak grows by far less than the elements' size).
        EXPECT_LT(PeakKiB() - peak, 100'000) << row.Key << " " << row.Value << ": memory taken for a count that cannot hold";
        const std::string key = row.Key;
        const size_t width = key == "rooms.count" || key == "demoData.count" || key == "cinematicFrames.count" ? 2 : 4;
        const long after = long((k >= 6 ? lay.Data(key) : lay.File(key)) + width);
        EXPECT_EQ(o.Got, want == 'E' ? Fail::End : Fail::Range) << key << " " << row.Value << ": " << o;
        EXPECT_EQ(WhereOffset(o.Where, k >= 6 ? "level data chunk" : "file"), after) << key << " " << row.Value << ": " << o;
    }
}

// Gives room r n records of one kind (sectors: a grid of n x 2), each with
// content of its own.
void Grow(BRoom& r, const std::string& field, size_t n, Kind kind) {
    const uint8_t b = uint8_t(n);
    if (field == "vertices") {
        r.vertices.resize(n);
        for (size_t i = 0; i < n; ++i) r.vertices[i] = {int16_t(i), int16_t(-i), 3, uint16_t(i * 7), 5, uint16_t(i)};
    } else if (field == "rectangles") {
        r.rectangles.resize(n);
        for (size_t i = 0; i < n; ++i) r.rectangles[i] = {{uint16_t(i), 1, 2, 3}, uint16_t(i * 3)};
    } else if (field == "triangles") {
        r.triangles.resize(n);
        for (size_t i = 0; i < n; ++i) r.triangles[i] = {{1, uint16_t(i), 2}, uint16_t(i * 5)};
    } else if (field == "sprites") {
        r.sprites.assign(n, {b, 2, 3, 4});
    } else if (field == "portals") {
        r.portals.assign(n, {});
        for (size_t i = 0; i < n; ++i) r.portals[i][i % 32] = uint8_t(i);
    } else if (field == "sectors") {
        r.sectorsZ = uint16_t(n), r.sectorsX = 2;
        r.sectors.assign(n * 2, {0x10, 0, b, 0, 0xFF, 0x04, 0xFF, 0xF8});
    } else if (field == "lights") {
        r.lights.assign(n, Bytes(SizesOf(kind).light, b));
    } else if (field == "statics") {
        r.statics.assign(n, Bytes(SizesOf(kind).roomStatic, uint8_t(b + 1)));
    }
}

// A room holds as many records as its 16-bit counts say (sectors: the product
// of its two 16-bit sizes): a room just over the fixed capacities of the
// games' own room record, and one at the count's limit, load as described and
// save byte for byte. A count whose records are not there ends the read in
// that room.
TEST_P(LevelLoad, RoomsHoldAsManyRecordsAsTheirCountsSay) {
    const struct { const char* Field; size_t Count; } rows[] = {
        {"vertices", 2001},  {"vertices", 65535},  {"rectangles", 3001}, {"rectangles", 65535},
        {"triangles", 1251}, {"triangles", 65535}, {"sprites", 51},      {"sprites", 65535},
        {"portals", 21},     {"portals", 65535},   {"sectors", 513},     {"sectors", 65535},
        {"lights", 51},      {"lights", 65535},    {"statics", 51},      {"statics", 65535}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Field) + " " + std::to_string(row.Count));
        BLevel L = SampleLevel(GetParam(), 8);
        Grow(L.rooms[1], row.Field, row.Count, L.kind);
        const Bytes file = Build(L);
        ASSERT_EQ(LoadBytes(file).Result, 0);
        ExpectModel(M, L, file);
        EXPECT_TRUE(M.SerializeLevel() == file) << "saved byte for byte";
    }
    BLevel unpadded = SampleLevel(GetParam(), 8);
    unpadded.rooms[0].counts.vertices = 65535;
    const Outcome o = LoadBytes(Build(unpadded));
    EXPECT_EQ(o.Got, Fail::End) << o;
    EXPECT_NE(o.Where.find(": room 0, vertices"), std::string::npos) << o;
}

TEST_P(LevelLoad, DamagedChunksAreReported) {
    if (GetParam() < 6) GTEST_SKIP() << "no compressed chunks";
    struct Row { int Chunk; ChunkForm Form; std::optional<int64_t> Unpacked, Packed; Fail Expect; const char* WhereHas; };
    const Row rows[] = {
        {0, ChunkForm::NotZlib, {}, {}, Fail::Decompress, "32-bit texture pages chunk"},
        {1, ChunkForm::BadChecksum, {}, {}, Fail::Decompress, "16-bit texture pages chunk"},
        {2, ChunkForm::NotZlib, {}, {}, Fail::Decompress, "misc texture pages chunk"},
        {3, ChunkForm::BadChecksum, {}, {}, Fail::Decompress, "level data chunk"},
        // Stored level data without the TR5 fields before it is no TR5 level.
        {3, ChunkForm::Stored, {}, {}, Fail::Decompress, "level data chunk"},
        {3, ChunkForm::Stored, 0, 0, Fail::Decompress, "level data chunk"},
        {0, ChunkForm::Stored, {}, {}, Fail::Decompress, "32-bit texture pages chunk"},
        {1, ChunkForm::Zlib, {}, 100'000'000, Fail::End, "file: chunk 2 (16-bit texture pages)"},
        {3, ChunkForm::Zlib, {}, 1'000'000, Fail::End, "file: chunk 4 (level data)"},
        {3, ChunkForm::Zlib, {}, -1, Fail::Range, "file: chunk 4 (level data)"},
        {0, ChunkForm::Zlib, 5, {}, Fail::None, ""},  // a wrong stated size gives way to the real one
        {2, ChunkForm::Zlib, -9, {}, Fail::None, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        BLevel L = SampleLevel(GetParam(), 4);
        L.chunks[size_t(row.Chunk)] = {row.Form, row.Unpacked, row.Packed};
        const Bytes file = Build(L);
        const Outcome o = LoadBytes(file);
        EXPECT_EQ(o.Got, row.Expect) << o;
        EXPECT_NE(o.Where.find(row.WhereHas), std::string::npos) << o;
        if (row.Expect == Fail::None) ExpectModel(M, L, file);
    }
}

TEST_P(LevelLoad, TheFirstFaultInFileOrderIsReported) {
    if (GetParam() < 6) GTEST_SKIP() << "no compressed chunks";
    // Chunks are inflated side by side; the report still names the fault that
    // reading one chunk after another would meet first.
    struct Row { const char* Name; std::vector<std::pair<size_t, ChunkForm>> Damage; const char* WhereHas; };
    const Row rows[] = {
        {"chunks 2 and 3", {{1, ChunkForm::BadChecksum}, {2, ChunkForm::NotZlib}}, "in the 16-bit texture pages chunk"},
        {"chunks 1 and 4", {{0, ChunkForm::NotZlib}, {3, ChunkForm::BadChecksum}}, "in the 32-bit texture pages chunk"},
        {"chunks 3 and 4", {{2, ChunkForm::BadChecksum}, {3, ChunkForm::NotZlib}}, "in the misc texture pages chunk"},
        {"all four", {{0, ChunkForm::BadChecksum}, {1, ChunkForm::NotZlib}, {2, ChunkForm::NotZlib}, {3, ChunkForm::NotZlib}},
         "in the 32-bit texture pages chunk"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        BLevel L = SampleLevel(GetParam(), 4);
        for (const auto& [chunk, form] : row.Damage) L.chunks[chunk].form = form;
        const Outcome o = LoadBytes(Build(L));
        EXPECT_EQ(o.Got, Fail::Decompress) << o;
        EXPECT_EQ(o.Where.rfind(row.WhereHas, 0), 0u) << o;
    }
    // A chunk 2 stream cut short in a file that ends right after it: the broken
    // stream comes before the missing chunk 3.
    BLevel L = SampleLevel(GetParam(), 4);
    BLayout lay;
    Build(L, &lay);
    const size_t stream = lay.File("chunk2.data"), packed = lay.File("chunk3") - stream;
    L.chunks[1].packedSize = int64_t(packed - 7);
    Bytes file = Build(L);
    file.resize(stream + packed - 7);
    Outcome o = LoadBytes(file);
    EXPECT_EQ(o.Got, Fail::Decompress) << o;
    EXPECT_EQ(o.Where.rfind("in the 16-bit texture pages chunk", 0), 0u) << o;
    // Whole chunks before the cut: the file ends early, at chunk 3.
    file = Build(SampleLevel(GetParam(), 4));
    file.resize(lay.File("chunk3") + 3);
    o = LoadBytes(file);
    EXPECT_EQ(o.Got, Fail::End) << o;
    EXPECT_NE(o.Where.find("chunk 3"), std::string::npos) << o;
}

TEST_P(LevelLoad, AFaultInsideTheContainerIsPlacedInTheUnpackedLevel) {
    const Cutter c(GetParam());
    // Kinds 1-5 cut inside the sample indices, kinds 6-7 inside chunk 4's size pair.
    const size_t cut = c.InChunk ? c.Lay.File("chunk4") + 5 : c.Lay.File("sampleIndices") + 2;
    const Bytes content(c.File.begin(), c.File.begin() + std::ptrdiff_t(cut));
    const Outcome o = LoadBytes(WrapZlib(content));
    EXPECT_EQ(o.Got, Fail::End) << o;
    const long at = WhereOffset(o.Where, "unpacked level inside the ZLIB container");
    EXPECT_TRUE(at >= 0 && size_t(at) <= cut) << o;
}

TEST_P(LevelLoad, ARoomCountOneAboveWhatTheDataHoldsFailsAtTheCount) {
    // Twenty rooms of the smallest size the kind's file can hold, the data cut
    // right after them, and a room count of 21: the count alone shows that the
    // data cannot hold the rooms.
    BLevel L = EmptyLevel(KindFromInt(GetParam()));
    L.rooms.resize(20);
    L.counts.rooms = 21;
    const Cutter c(L);
    const Outcome o = LoadBytes(c.Cut(c.At("rooms.end")));
    EXPECT_EQ(o.Got, Fail::End) << o;
    EXPECT_EQ(o.Where, "at byte " + std::to_string(c.At("rooms.count") + 2) + " of the " + c.Area() + ": level data, room count");
}

INSTANTIATE_TEST_SUITE_P(AllKinds, LevelLoad, ::testing::Range(1, 8));

}  // namespace
}  // namespace qmtest
