// Byte-level writer of test levels; see levelbuilder.h for the conventions.
#include "levelbuilder.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace qmtest {

namespace {

int K(Kind kind) { return static_cast<int>(kind); }

[[noreturn]] void Invalid(const std::string& what) {
  throw std::invalid_argument("level description: " + what);
}

// Little-endian output with named marks.
class Writer {
 public:
  explicit Writer(std::map<std::string, size_t>* marks) : marks_(marks) {}

  void Mark(const std::string& name) {
    if (marks_) (*marks_)[name] = out_.size();
  }
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Raw(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
  void Raw(const Bytes& b) { out_.insert(out_.end(), b.begin(), b.end()); }
  template <size_t N>
  void Raw(const std::array<uint8_t, N>& a) {
    Raw(a.data(), N);
  }

  // A count field: the chosen value when set, else the real element count,
  // truncated to the field width.
  void Count16(const std::optional<int64_t>& chosen, size_t real) {
    U16(static_cast<uint16_t>(chosen ? static_cast<uint64_t>(*chosen) : real));
  }
  void Count32(const std::optional<int64_t>& chosen, size_t real) {
    U32(static_cast<uint32_t>(chosen ? static_cast<uint64_t>(*chosen) : real));
  }

  size_t Size() const { return out_.size(); }
  std::map<std::string, size_t>* Marks() const { return marks_; }
  Bytes Take() { return std::move(out_); }

 private:
  Bytes out_;
  std::map<std::string, size_t>* marks_;
};

void CheckSize(const Bytes& b, size_t want, const std::string& what) {
  if (b.size() != want)
    Invalid(what + " holds " + std::to_string(b.size()) + " bytes, the kind needs " +
            std::to_string(want));
}

void CheckRecords(const std::vector<Bytes>& recs, size_t want, const std::string& what) {
  for (size_t i = 0; i < recs.size(); ++i)
    CheckSize(recs[i], want, what + "[" + std::to_string(i) + "]");
}

// A 4-byte-counted array of fixed-size byte records, with its marks.
template <size_t N>
void CountedRecords(Writer& w, const std::string& name, const std::optional<int64_t>& chosen,
                    const std::vector<std::array<uint8_t, N>>& recs) {
  w.Mark(name + ".count");
  w.Count32(chosen, recs.size());
  w.Mark(name);
  for (const auto& r : recs) w.Raw(r);
}

void CountedBlobs(Writer& w, const std::string& name, const std::optional<int64_t>& chosen,
                  const std::vector<Bytes>& recs) {
  w.Mark(name + ".count");
  w.Count32(chosen, recs.size());
  w.Mark(name);
  for (const auto& r : recs) w.Raw(r);
}

template <typename T>
void CountedWords(Writer& w, const std::string& name, const std::optional<int64_t>& chosen,
                  const std::vector<T>& words) {
  w.Mark(name + ".count");
  w.Count32(chosen, words.size());
  w.Mark(name);
  for (T v : words) {
    if constexpr (sizeof(T) == 2)
      w.U16(static_cast<uint16_t>(v));
    else
      w.U32(static_cast<uint32_t>(v));
  }
}

void WriteRoom(Writer& w, Kind kind, const BRoom& r, const std::string& p) {
  const RecordSizes s = SizesOf(kind);
  const int k = K(kind);
  CheckRecords(r.lights, s.light, p + ".lights");
  CheckRecords(r.statics, s.roomStatic, p + ".statics");
  if (r.sectors.size() != size_t{r.sectorsZ} * r.sectorsX)
    Invalid(p + ".sectors holds " + std::to_string(r.sectors.size()) +
            " sectors for a grid of " + std::to_string(r.sectorsZ) + " x " +
            std::to_string(r.sectorsX));

  w.Mark(p);
  w.Mark(p + ".info");
  w.Raw(r.info);
  w.Mark(p + ".dataWords");
  w.U32(r.dataWords ? *r.dataWords : ExpectedDataWords(kind, r));

  w.Mark(p + ".vertices.count");
  w.Count16(r.counts.vertices, r.vertices.size());
  w.Mark(p + ".vertices");
  for (const BVertex& v : r.vertices) {
    w.I16(v.x);
    w.I16(v.y);
    w.I16(v.z);
    w.U16(v.lighting);
    if (k >= 3) {
      w.U16(v.attributes);
      w.U16(v.lighting2);
    }
  }
  w.Mark(p + ".rectangles.count");
  w.Count16(r.counts.rectangles, r.rectangles.size());
  w.Mark(p + ".rectangles");
  for (const BRectangle& f : r.rectangles) {
    for (uint16_t v : f.vertices) w.U16(v);
    w.U16(f.texture);
  }
  w.Mark(p + ".triangles.count");
  w.Count16(r.counts.triangles, r.triangles.size());
  w.Mark(p + ".triangles");
  for (const BTriangle& f : r.triangles) {
    for (uint16_t v : f.vertices) w.U16(v);
    w.U16(f.texture);
  }
  w.Mark(p + ".sprites.count");
  w.Count16(r.counts.sprites, r.sprites.size());
  w.Mark(p + ".sprites");
  for (const auto& x : r.sprites) w.Raw(x);
  w.Mark(p + ".portals.count");
  w.Count16(r.counts.portals, r.portals.size());
  w.Mark(p + ".portals");
  for (const auto& x : r.portals) w.Raw(x);
  w.Mark(p + ".sectorsZ");
  w.Count16(r.counts.sectorsZ, r.sectorsZ);
  w.Mark(p + ".sectorsX");
  w.Count16(r.counts.sectorsX, r.sectorsX);
  w.Mark(p + ".sectors");
  for (const auto& x : r.sectors) w.Raw(x);
  w.Mark(p + ".ambient");
  w.Raw(r.ambient);
  if (k >= 3) {
    w.Mark(p + ".ambient2");
    w.U16(r.ambient2);
  }
  if (k == 3 || k == 4) {
    w.Mark(p + ".lightMode");
    w.U16(r.lightMode);
  }
  w.Mark(p + ".lights.count");
  w.Count16(r.counts.lights, r.lights.size());
  w.Mark(p + ".lights");
  for (const auto& x : r.lights) w.Raw(x);
  w.Mark(p + ".statics.count");
  w.Count16(r.counts.statics, r.statics.size());
  w.Mark(p + ".statics");
  for (const auto& x : r.statics) w.Raw(x);
  w.Mark(p + ".alternateRoom");
  w.I16(r.alternateRoom);
  w.Mark(p + ".flags");
  w.Raw(r.flags);
  if (k >= 5) {
    w.Mark(p + ".waterScheme");
    w.U8(r.waterScheme);
    w.Mark(p + ".reverb");
    w.U8(r.reverb);
    w.Mark(p + ".filler");
    w.U8(r.filler);
  }
  w.Mark(p + ".end");
}

void WriteObjectTextures(Writer& w, const BLevel& L) {
  const int k = K(L.kind);
  w.Mark("objectTextures.count");
  w.Count32(L.counts.objectTextures, L.objectTextures.size());
  w.Mark("objectTextures");
  for (const BObjectTexture& t : L.objectTextures) {
    w.U16(t.attribute);
    if (k >= 6)
      w.U32(t.tileAndFlags);
    else
      w.U16(t.tile);
    w.Raw(t.corners);
    if (k >= 6)
      for (uint32_t e : t.extra) w.U32(e);
    if (k == 8) w.U16(t.closing);
  }
}

void WriteLevelData(Writer& w, const BLevel& L) {
  const Kind kind = L.kind;
  const int k = K(kind);
  const RecordSizes s = SizesOf(kind);
  const BCountOverrides& c = L.counts;

  CheckRecords(L.animations, s.animation, "animations");
  CheckRecords(L.boxes, s.box, "boxes");
  if (k <= 5) CheckSize(L.lightMap, 8192, "lightMap");
  if (k <= 2) CheckSize(L.palette8, 768, "palette8");
  if (L.ng.present) {
    if (k < 6 || k == 8) Invalid("the NG trailer belongs to kinds 6-7");
    if (!L.demoData.empty()) Invalid("demoData must be empty with the NG trailer");
    if (L.ng.standardSoundMap) {
      if (L.ng.soundMapEntries != 0) Invalid("soundMapEntries must be 0 with the standard NG sound map");
      CheckSize(L.soundMap, s.soundMap, "soundMap (standard NG map)");
    } else {
      CheckSize(L.soundMap, size_t{L.ng.soundMapEntries} * 2, "soundMap (NG entries)");
    }
  } else {
    CheckSize(L.soundMap, s.soundMap, "soundMap");
  }
  static constexpr int kZones12[] = {0, 1, 4, 5, 6, 9};
  static constexpr int kZones37[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const int* zoneOrder = k <= 2 ? kZones12 : kZones37;
  const size_t zoneArrays = s.zoneArrays;
  for (size_t i = 0; i < zoneArrays; ++i)
    if (L.zones[zoneOrder[i]].size() != L.boxes.size())
      Invalid("zones[" + std::to_string(zoneOrder[i]) + "] needs one entry per box");

  w.Mark("reservedWord");
  w.U32(L.reservedWord);
  w.Mark("rooms.count");
  if (k == 8) {
    if (!L.rooms.empty()) Invalid("kind 8 rooms belong in rooms5");
    w.Count32(c.rooms, L.rooms5.size());
    for (size_t i = 0; i < L.rooms5.size(); ++i) {
      const std::string p = "room" + std::to_string(i);
      std::map<std::string, size_t> marks;
      const size_t at = w.Size();
      w.Mark(p);
      w.Raw(BuildXelaRoom(L.rooms5[i], &marks));
      if (w.Marks())
        for (const auto& [name, off] : marks) (*w.Marks())[p + "." + name] = at + off;
    }
  } else {
    w.Count16(c.rooms, L.rooms.size());
    for (size_t i = 0; i < L.rooms.size(); ++i)
      WriteRoom(w, kind, L.rooms[i], "room" + std::to_string(i));
  }
  w.Mark("rooms.end");

  CountedWords(w, "floorData", c.floorData, L.floorData);
  CountedWords(w, "meshData", c.meshData, L.meshData);
  CountedWords(w, "meshPointers", c.meshPointers, L.meshPointers);
  CountedBlobs(w, "animations", c.animations, L.animations);
  CountedRecords(w, "stateChanges", c.stateChanges, L.stateChanges);
  CountedRecords(w, "animDispatches", c.animDispatches, L.animDispatches);
  CountedWords(w, "animCommands", c.animCommands, L.animCommands);
  CountedWords(w, "meshTrees", c.meshTrees, L.meshTrees);
  CountedWords(w, "frames", c.frames, L.frames);
  if (k == 8)
    CountedRecords(w, "moveables", c.moveables, L.moveables20);
  else
    CountedRecords(w, "moveables", c.moveables, L.moveables);
  w.Mark("staticMeshes.count");
  w.Count32(c.staticMeshes, L.staticMeshes.size());
  w.Mark("staticMeshes");
  for (const BStaticMesh& m : L.staticMeshes) {
    w.I32(m.id);
    w.Raw(m.rest);
  }
  if (k <= 4) WriteObjectTextures(w, L);
  if (k >= 6) {
    w.Mark("spriteMarker");
    if (k == 8)
      w.Raw(L.spriteMarker5);
    else
      w.Raw(L.spriteMarker);
  }
  CountedRecords(w, "spriteTextures", c.spriteTextures, L.spriteTextures);
  CountedRecords(w, "spriteSequences", c.spriteSequences, L.spriteSequences);
  if (k == 2) {
    w.Mark("palette8");
    w.Raw(L.palette8);
  }
  CountedRecords(w, "cameras", c.cameras, L.cameras);
  if (k >= 6) CountedRecords(w, "flybyCameras", c.flybyCameras, L.flybyCameras);
  CountedRecords(w, "soundSources", c.soundSources, L.soundSources);
  CountedBlobs(w, "boxes", c.boxes, L.boxes);
  CountedWords(w, "overlaps", c.overlaps, L.overlaps);
  w.Mark("zones");
  for (size_t i = 0; i < zoneArrays; ++i)
    for (int16_t z : L.zones[zoneOrder[i]]) w.I16(z);
  CountedWords(w, "animatedTextures", c.animatedTextures, L.animatedTextures);
  if (k >= 6) {
    w.Mark("texMarker");
    if (k == 8)
      w.Raw(L.texMarker5);
    else
      w.Raw(L.texMarker);
  }
  if (k >= 5) WriteObjectTextures(w, L);
  w.Mark("items.count");
  w.Count32(c.items, L.items.size());
  w.Mark("items");
  for (const BItem& it : L.items) {
    w.U16(it.objectId);
    w.I16(it.room);
    w.I32(it.x);
    w.I32(it.y);
    w.I32(it.z);
    w.U16(it.angle);
    w.U16(it.intensity);
    if (k >= 3) w.I16(it.intensity2);
    w.U16(it.flags);
  }
  if (k <= 5) {
    w.Mark("lightMap");
    w.Raw(L.lightMap);
  }
  if (k == 1) {
    w.Mark("palette8");
    w.Raw(L.palette8);
  }
  if (k <= 5) {
    w.Mark("cinematicFrames.count");
    w.Count16(c.cinematicFrames, L.cinematicFrames.size());
    w.Mark("cinematicFrames");
    for (const auto& x : L.cinematicFrames) w.Raw(x);
  } else {
    CountedRecords(w, "aiObjects", c.cinematicFrames, L.aiObjects);
  }
  w.Mark("demoData.count");
  if (L.ng.present) {
    w.Count16(c.demoData, L.ng.soundMapEntries);
  } else {
    w.Count16(c.demoData, L.demoData.size());
  }
  w.Mark("demoData");
  w.Raw(L.demoData);
  w.Mark("soundMap");
  w.Raw(L.soundMap);
  CountedRecords(w, "soundDetails", c.soundDetails, L.soundDetails);
  if (k <= 2) {
    w.Mark("sampleData.count");
    w.Count32(c.sampleData, L.sampleData.size());
    w.Mark("sampleData");
    w.Raw(L.sampleData);
  }
  CountedWords(w, "sampleIndices", c.sampleIndices, L.sampleIndices);
  w.Mark("trailingBytes");
  w.Raw(L.trailingBytes);
  w.Mark("end");
}

// The stored bytes of one chunk or container stream in the chosen form.
Bytes StoredForm(const Bytes& content, ChunkForm form, int level = 9) {
  if (form == ChunkForm::Stored) return content;
  Bytes z = Deflate(content, level);
  if (form == ChunkForm::NotZlib) {
    // Compression method 14 in the first header byte: no inflater accepts it.
    z[0] = 0x4E;
    z[1] = 0x4F;
  } else if (form == ChunkForm::BadChecksum) {
    z.back() ^= 0x5A;
  }
  return z;
}

void WriteChunk(Writer& w, int number, const Bytes& content, const BChunkOptions& opt) {
  const std::string name = "chunk" + std::to_string(number);
  const Bytes stored = StoredForm(content, opt.form, opt.level);
  w.Mark(name);
  w.Count32(opt.unpackedSize, content.size());
  w.Count32(opt.packedSize, stored.size());
  w.Mark(name + ".data");
  w.Raw(stored);
}

// Simple deterministic generator for sample content.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {
    if (s_ == 0) s_ = 1;
  }
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return static_cast<uint32_t>(s_ >> 16);
  }
  // Never zero, so every field of a sample differs from a zeroed record.
  uint8_t Byte() { return static_cast<uint8_t>(1 + Next() % 255); }
  uint16_t Word() { return static_cast<uint16_t>(1 + Next() % 65535); }
  uint16_t Below(uint32_t n) { return static_cast<uint16_t>(Next() % n); }
  int16_t Coord() { return static_cast<int16_t>(static_cast<int>(Next() % 16384) - 8192 + 1); }
  Bytes Fill(size_t n) {
    Bytes b(n);
    for (auto& x : b) x = Byte();
    return b;
  }
  template <size_t N>
  std::array<uint8_t, N> Rec() {
    std::array<uint8_t, N> a{};
    for (auto& x : a) x = Byte();
    return a;
  }
  template <size_t N>
  std::vector<std::array<uint8_t, N>> Recs(size_t count) {
    std::vector<std::array<uint8_t, N>> v;
    for (size_t i = 0; i < count; ++i) v.push_back(Rec<N>());
    return v;
  }
  std::vector<Bytes> Blobs(size_t count, size_t size) {
    std::vector<Bytes> v;
    for (size_t i = 0; i < count; ++i) v.push_back(Fill(size));
    return v;
  }
  std::vector<uint16_t> Words(size_t count) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < count; ++i) v.push_back(Word());
    return v;
  }
  std::vector<int32_t> Ints(size_t count) {
    std::vector<int32_t> v;
    for (size_t i = 0; i < count; ++i) v.push_back(static_cast<int32_t>(Next() | 1u));
    return v;
  }

 private:
  uint64_t s_;
};

// Page bytes: a seeded, mostly regular pattern, so compressed chunks stay small.
Bytes PagePattern(size_t n, unsigned seed, unsigned salt) {
  Bytes b(n);
  const uint32_t base = seed * 2654435761u + salt * 40503u;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t x = static_cast<uint32_t>(i);
    b[i] = static_cast<uint8_t>(((x & 0xFF) ^ (x >> 8)) + (x >> 12) * 7 + base + (x % 251 == 0 ? 91 : 0));
  }
  return b;
}

// One XELA room of the sample level. Room 0: one layer and a fog bulb; room 1:
// two layers whose faces need the 2-byte pad; room 2: three layers (the
// middle one empty) and a fog bulb.
B5Room SampleXelaRoom(Rng& rng, int r) {
  B5Room room;
  for (auto& v : room.info) v = static_cast<int32_t>(rng.Next() & 0x7FFF) * 4;
  room.sectorsZ = static_cast<uint16_t>(2 + r);
  room.sectorsX = 3;
  room.sectors = rng.Recs<8>(size_t{room.sectorsZ} * room.sectorsX);
  room.colour = rng.Next();
  room.lights = rng.Recs<88>(static_cast<size_t>(1 + r));
  room.fogBulbs = rng.Recs<36>(r == 1 ? 0 : 1);
  room.portals = rng.Recs<32>(static_cast<size_t>(1 + (r % 2)));
  room.statics = rng.Recs<20>(static_cast<size_t>(3 - r));
  const int layers = 1 + r;
  for (int j = 0; j < layers; ++j) {
    B5Layer layer;
    if (r == 2 && j == 1) {
      room.layers.push_back(layer);
      continue;
    }
    const size_t nv = 4 + static_cast<size_t>(j);
    layer.vertices = rng.Recs<28>(nv);
    for (int i = 0; i < 2 + r + j; ++i) {
      B5Rectangle f;
      for (auto& x : f.vertices) x = rng.Below(static_cast<uint32_t>(nv));
      f.texture = static_cast<uint16_t>(1 + rng.Below(4));
      f.effects = rng.Below(3);
      layer.rectangles.push_back(f);
    }
    for (int i = 0; i < 1 + j + (r == 2 ? 0 : 1); ++i) {
      B5Triangle f;
      for (auto& x : f.vertices) x = rng.Below(static_cast<uint32_t>(nv));
      f.texture = static_cast<uint16_t>(1 + rng.Below(4));
      f.effects = rng.Below(3);
      layer.triangles.push_back(f);
    }
    layer.boundingBox = rng.Rec<24>();
    room.layers.push_back(layer);
  }
  room.reverb = rng.Byte();
  room.alternateGroup = rng.Byte();
  room.waterScheme = rng.Byte();
  room.alternateRoom = r == 1 ? int16_t{2} : int16_t{-1};
  room.flags = static_cast<uint16_t>(0x1040 | r);
  return room;
}

}  // namespace

// ------------------------------------------------------------- kind facts ---

Kind KindFromInt(int kind) {
  if (kind < 1 || kind > 8) throw std::invalid_argument("level kind " + std::to_string(kind));
  return static_cast<Kind>(kind);
}

uint32_t DefaultSignature(Kind kind) {
  const int k = K(kind);
  if (k <= 2) return 0x00000020u;
  if (k <= 4) return 0x0000002Du;
  if (k == 5) return 0xFF080038u;
  return 0x00345254u;
}

const char* FileExtension(Kind kind) {
  static const char* const ext[] = {".phd", ".tub", ".tr2", ".trg", ".tr2", ".tr4", ".trc", ".trc"};
  return ext[K(kind) - 1];
}

RecordSizes SizesOf(Kind kind) {
  const int k = K(kind);
  RecordSizes s{};
  s.vertex = k <= 2 ? 8 : k <= 7 ? 12 : 28;
  s.light = k <= 2 ? 18 : k <= 5 ? 24 : k <= 7 ? 46 : 88;
  s.roomStatic = k <= 2 ? 18 : 20;
  s.animation = k <= 5 ? 32 : 40;
  s.box = k <= 2 ? 20 : 8;
  s.objectTexture = k <= 5 ? 20 : k <= 7 ? 38 : 40;
  s.item = k <= 2 ? 22 : 24;
  s.zoneArrays = k <= 2 ? 6 : 10;
  s.soundMap = k <= 2 ? 512 : k <= 7 ? 740 : 900;
  return s;
}

uint32_t ExpectedDataWords(Kind kind, const BRoom& r) {
  const size_t vs = SizesOf(kind).vertex;
  const size_t bytes = r.vertices.size() * vs + r.rectangles.size() * 10 +
                       r.triangles.size() * 8 + r.sprites.size() * 4 + 8;
  return static_cast<uint32_t>(bytes / 2);
}

size_t RoomFileSize(Kind kind, const BRoom& room) {
  Writer w(nullptr);
  WriteRoom(w, kind, room, "room");
  return w.Size();
}

// ----------------------------------------------------------------- layout ---

size_t BLayout::File(const std::string& key) const {
  auto it = file.find(key);
  if (it == file.end()) throw std::out_of_range("no file place named " + key);
  return it->second;
}

size_t BLayout::Data(const std::string& key) const {
  auto it = data.find(key);
  if (it == data.end()) throw std::out_of_range("no level data place named " + key);
  return it->second;
}

// ------------------------------------------------------------------ build ---

Bytes BuildLevelData(const BLevel& level, BLayout* layout) {
  Writer w(layout ? &layout->data : nullptr);
  WriteLevelData(w, level);
  return w.Take();
}

Bytes Build(const BLevel& L, BLayout* layout) {
  const int k = K(L.kind);
  BLayout local;
  BLayout& lay = layout ? *layout : local;
  lay.file.clear();
  lay.data.clear();
  const Bytes data = BuildLevelData(L, &lay);

  Writer w(&lay.file);
  w.Mark("signature");
  w.U32(L.signature ? *L.signature : DefaultSignature(L.kind));
  if (k <= 5) {
    if (k >= 3) {
      CheckSize(L.palette8, 768, "palette8");
      CheckSize(L.palette16, 1024, "palette16");
      w.Mark("palette8");
      w.Raw(L.palette8);
      w.Mark("palette16");
      w.Raw(L.palette16);
    }
    if (L.textiles8.size() % 65536 != 0)
      Invalid("textiles8 is not a whole number of 65536-byte pages");
    const size_t pages = L.textiles8.size() / 65536;
    if (k >= 3) CheckSize(L.textiles16, pages * 131072, "textiles16");
    w.Mark("pages.count");
    w.Count32(L.counts.texturePages, pages);
    w.Mark("textiles8");
    w.Raw(L.textiles8);
    if (k >= 3) {
      w.Mark("textiles16");
      w.Raw(L.textiles16);
    }
    const size_t start = w.Size();
    w.Mark("levelData");
    w.Raw(data);
    for (const auto& [name, off] : lay.data) {
      if (name == "palette8" && lay.file.count("palette8")) continue;  // kinds 3-5 head
      lay.file[name] = start + off;
    }
    lay.file.erase("end");
  } else if (k == 8) {
    w.Mark("tr4PageCounts");
    for (uint16_t c : L.tr4PageCounts) w.U16(c);
    WriteChunk(w, 1, L.textiles32, L.chunks[0]);
    WriteChunk(w, 2, L.textiles16, L.chunks[1]);
    WriteChunk(w, 3, L.texturesMisc, L.chunks[2]);
    w.Mark("tr5Fields");
    w.Raw(L.tr5Fields);
    w.Mark("levelData.sizes");
    w.Count32(L.chunks[3].unpackedSize, data.size());
    w.Count32(L.chunks[3].packedSize, data.size());
    const size_t start = w.Size();
    w.Mark("levelData");
    w.Raw(data);
    for (const auto& [name, off] : lay.data) lay.file[name] = start + off;
    lay.file.erase("end");
    w.Mark("tail");
    w.Raw(L.rawTail);
  } else {
    w.Mark("tr4PageCounts");
    for (uint16_t c : L.tr4PageCounts) w.U16(c);
    WriteChunk(w, 1, L.textiles32, L.chunks[0]);
    WriteChunk(w, 2, L.textiles16, L.chunks[1]);
    WriteChunk(w, 3, L.texturesMisc, L.chunks[2]);
    WriteChunk(w, 4, data, L.chunks[3]);
    w.Mark("tail");
    w.Raw(L.rawTail);
    if (L.ng.present) {
      w.Mark("ngTrailer");
      const size_t length = 2 + L.ng.payload.size() + 8;
      w.U8('N');
      w.U8('G');
      w.Raw(L.ng.payload);
      w.U8('N');
      w.U8('G');
      w.U8('L');
      w.U8('E');
      w.Count32(L.ng.lengthOverride, length);
    }
  }
  w.Mark("end");
  return w.Take();
}

BLayout LayoutOf(const BLevel& level) {
  BLayout lay;
  Build(level, &lay);
  return lay;
}

// ------------------------------------------------------------------- zlib ---

Bytes Deflate(const Bytes& data, int level) {
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  const size_t produced = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(produced);
  return out;
}

Bytes Inflate(const Bytes& stream) {
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) throw std::runtime_error("inflateInit failed");
  Bytes out;
  uint8_t buf[65536];
  zs.next_in = const_cast<Bytef*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&zs);
      throw std::runtime_error("not a whole zlib stream");
    }
    out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) {
      inflateEnd(&zs);
      throw std::runtime_error("zlib stream ends early");
    }
  }
  inflateEnd(&zs);
  return out;
}

Bytes WrapZlib(const Bytes& content, const BZlibOptions& options) {
  const Bytes stored = StoredForm(content, options.form);
  Writer w(nullptr);
  w.Raw(reinterpret_cast<const uint8_t*>("ZLIB"), 4);
  w.Count32(options.packedLength, stored.size());
  w.Count32(options.unpackedLength, content.size());
  w.Raw(stored);
  return w.Take();
}

// ----------------------------------------------------------- descriptions ---

BLevel EmptyLevel(Kind kind) {
  const int k = K(kind);
  BLevel L;
  L.kind = kind;
  if (k <= 5) {
    L.palette8.assign(768, 0);
    L.lightMap.assign(8192, 0);
  }
  if (k >= 3 && k <= 5) L.palette16.assign(1024, 0);
  L.soundMap.assign(SizesOf(kind).soundMap, 0);
  return L;
}

void FillPages(BLevel& L, int pages, unsigned seed, size_t miscBytes) {
  const size_t n = static_cast<size_t>(pages);
  const int k = K(L.kind);
  if (k <= 5) {
    L.textiles8 = PagePattern(n * 65536, seed, 8);
    L.textiles16 = k >= 3 ? PagePattern(n * 131072, seed, 16) : Bytes{};
  } else {
    L.textiles32 = PagePattern(n * 262144, seed, 32);
    L.textiles16 = PagePattern(n * 131072, seed, 16);
    L.texturesMisc = PagePattern(miscBytes, seed, 99);
  }
}

void SetNgTrailer(BLevel& L, uint16_t soundMapEntries, size_t payloadBytes, unsigned seed) {
  Rng rng(seed ^ 0x4E47u);
  L.ng.present = true;
  L.ng.soundMapEntries = soundMapEntries;
  L.ng.payload = rng.Fill(payloadBytes);
  L.soundMap = rng.Fill(size_t{soundMapEntries} * 2);
  L.demoData.clear();
}

void SetNgTrailerWithStandardMap(BLevel& L, size_t payloadBytes, unsigned seed) {
  SetNgTrailer(L, 0, payloadBytes, seed);
  L.ng.standardSoundMap = true;
  L.soundMap = Rng(seed ^ 0x534Du).Fill(SizesOf(L.kind).soundMap);
}

BLevel SampleLevel(int kindNumber, unsigned seed) {
  const Kind kind = KindFromInt(kindNumber);
  const int k = kindNumber;
  const RecordSizes s = SizesOf(kind);
  Rng rng(uint64_t{seed} * 8 + static_cast<uint64_t>(k));
  BLevel L = EmptyLevel(kind);

  if (k <= 5) L.palette8 = rng.Fill(768);
  if (k >= 3 && k <= 5) L.palette16 = rng.Fill(1024);
  FillPages(L, 1, seed);
  if (k >= 6) L.tr4PageCounts = {1, 2, 3};
  L.reservedWord = rng.Next() | 0x01010101u;

  for (int r = 0; r < 3 && k == 8; ++r) L.rooms5.push_back(SampleXelaRoom(rng, r));
  for (int r = 0; r < 3 && k != 8; ++r) {
    BRoom room;
    room.info = rng.Rec<16>();
    const size_t nv = 4 + 2 * static_cast<size_t>(r);
    for (size_t i = 0; i < nv; ++i) {
      BVertex v;
      v.x = rng.Coord();
      v.y = rng.Coord();
      v.z = rng.Coord();
      v.lighting = rng.Word();
      v.attributes = rng.Word();
      v.lighting2 = rng.Word();
      room.vertices.push_back(v);
    }
    for (int i = 0; i < 3 + r; ++i) {
      BRectangle f;
      for (auto& x : f.vertices) x = static_cast<uint16_t>(rng.Below(static_cast<uint32_t>(nv)));
      f.texture = static_cast<uint16_t>(1 + rng.Below(4));
      room.rectangles.push_back(f);
    }
    for (int i = 0; i < 2 + r; ++i) {
      BTriangle f;
      for (auto& x : f.vertices) x = static_cast<uint16_t>(rng.Below(static_cast<uint32_t>(nv)));
      f.texture = static_cast<uint16_t>(1 + rng.Below(4));
      room.triangles.push_back(f);
    }
    room.sprites = rng.Recs<4>(static_cast<size_t>(1 + r));
    room.portals = rng.Recs<32>(static_cast<size_t>(1 + (r % 2)));
    room.sectorsZ = static_cast<uint16_t>(2 + r);
    room.sectorsX = 3;
    room.sectors = rng.Recs<8>(size_t{room.sectorsZ} * room.sectorsX);
    room.ambient = rng.Rec<2>();
    room.ambient2 = rng.Word();
    room.lightMode = rng.Word();
    room.lights = rng.Blobs(static_cast<size_t>(1 + r), s.light);
    room.statics = rng.Blobs(static_cast<size_t>(3 - r), s.roomStatic);
    room.alternateRoom = r == 1 ? int16_t{2} : int16_t{-1};
    room.flags = {static_cast<uint8_t>(0x40 | r), static_cast<uint8_t>(0x10 + r)};
    room.waterScheme = rng.Byte();
    room.reverb = rng.Byte();
    room.filler = rng.Byte();
    L.rooms.push_back(std::move(room));
  }

  L.floorData = rng.Words(12);
  L.meshData = rng.Words(24);
  L.meshPointers = {0, 12, 24, 36};
  L.animations = rng.Blobs(3, s.animation);
  L.stateChanges = rng.Recs<6>(2);
  L.animDispatches = rng.Recs<8>(2);
  L.animCommands = rng.Words(5);
  L.meshTrees = rng.Ints(4);
  L.frames = rng.Words(14);
  if (k == 8)
    L.moveables20 = rng.Recs<20>(2);
  else
    L.moveables = rng.Recs<18>(2);
  const int32_t staticIds[] = {10, 11, 1000};
  for (int32_t id : staticIds) {
    BStaticMesh m;
    m.id = id;
    m.rest = rng.Rec<28>();
    L.staticMeshes.push_back(m);
  }
  for (int i = 0; i < 5; ++i) {
    BObjectTexture t;
    t.attribute = static_cast<uint16_t>(1 + rng.Below(2));
    t.tile = static_cast<uint16_t>(i == 3 ? 0x8000u : 0u);  // page 0, bit 15 set once
    t.tileAndFlags = k >= 6 ? (i == 3 ? 0x00010000u : 0u) : t.tile;
    if (k >= 6) t.tile = static_cast<uint16_t>(t.tileAndFlags & 0xFFFFu);
    t.corners = rng.Rec<16>();
    if (k >= 6)
      for (auto& e : t.extra) e = rng.Next() | 1u;
    if (k == 8) t.closing = rng.Word();
    L.objectTextures.push_back(t);
  }
  L.spriteTextures = rng.Recs<16>(2);
  L.spriteSequences = rng.Recs<8>(2);
  L.cameras = rng.Recs<16>(2);
  if (k >= 6) L.flybyCameras = rng.Recs<40>(2);
  L.soundSources = rng.Recs<16>(2);
  L.boxes = rng.Blobs(3, s.box);
  L.overlaps = rng.Words(6);
  for (auto& z : L.zones) {
    z.clear();
    for (size_t i = 0; i < L.boxes.size(); ++i) z.push_back(static_cast<int16_t>(rng.Word() & 0x7FFF));
  }
  // Two groups: ids 12 and 13 (count word 1), then id 7 alone (count word 0).
  L.animatedTextures = {2, 1, 12, 13, 0, 7};
  const uint16_t ids[] = {7, 0, 35, 0, 600};
  const int16_t rooms[] = {0, 1, 2, 2, 0};
  for (int i = 0; i < 5; ++i) {
    BItem it;
    it.objectId = ids[i];
    it.room = rooms[i];
    it.x = static_cast<int32_t>(1024 * (i + 1) + 512);
    it.y = -static_cast<int32_t>(256 * (i + 1));
    it.z = static_cast<int32_t>(2048 + 1024 * i);
    it.angle = rng.Word();
    it.intensity = rng.Word();
    it.intensity2 = static_cast<int16_t>(rng.Word() & 0x7FFF);
    it.flags = static_cast<uint16_t>(0x3E00 | i);
    L.items.push_back(it);
  }
  if (k <= 5) {
    L.lightMap = rng.Fill(8192);
    L.cinematicFrames = rng.Recs<16>(2);
  } else {
    L.aiObjects = rng.Recs<24>(2);
  }
  L.demoData = rng.Fill(5);
  L.soundMap = rng.Fill(s.soundMap);
  L.soundDetails = rng.Recs<8>(3);
  if (k <= 2) L.sampleData = rng.Fill(100);
  L.sampleIndices = {0, 40, 80};
  if (k == 6 || k == 7) L.rawTail = rng.Fill(300);
  if (k == 8) {
    L.tr5Fields[0] = 3;  // Lara type
    L.tr5Fields[2] = 1;  // weather
    L.spriteMarker5 = {'S', 'P', 'R', 0};
    L.texMarker5 = {2, 'T', 'E', 'X', 0};
    L.trailingBytes.assign(6, 0xCD);
    L.rawTail = Tr5SampleBlock({rng.Fill(40), rng.Fill(7)});
  }
  return L;
}

}  // namespace qmtest
