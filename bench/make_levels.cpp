// Writes large levels of all seven kinds for the benchmark, one per kind and
// size: qm_make_levels OUTDIR NAME PAGES ROOMS [NAME PAGES ROOMS ...].
// Rooms have realistic geometry counts; texture pages mix smooth gradients,
// noise and repeated tiles so that they compress about like real textures.
// Prints one line per file: kind size path file-bytes unpacked-chunk-bytes
// page-ratio (32-bit pages, kinds 6-7, else 0).
// qm_make_levels --describe SIZE FILE... prints such lines for existing level
// files (the real levels), with SIZE as their size column.
// qm_make_levels --batch OUTDIR N writes N small levels of mixed kinds.
// qm_make_levels --tr4 OUTDIR N PAGES ROOMS writes N TR4 levels of that size
// (t000.tr4 ...), each with its own content, and prints each path.
// qm_make_levels --nested OUTDIR ROOMS writes one TR3 level of ROOMS small
// rooms stacked at one place, half of them flip rooms (nested.tr2).
// qm_make_levels --bombs OUTDIR writes decompression bombs instead (TR4 files
// whose chunk 4, or all four chunks, inflate past 2 GiB, and a "ZLIB"
// container of the same stream), one line each: name
// path file-bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

#include <zlib.h>

#include "levelbuilder.h"

namespace {

using namespace qmtest;

struct Rng {
  uint64_t s;
  uint32_t Next() { return uint32_t((s = s * 6364136223846793005ull + 1442695040888963407ull) >> 33); }
  uint32_t Below(uint32_t n) { return Next() % n; }
  template <class C> C Fill(C c) {
    for (auto& b : c) b = uint8_t(Next());
    return c;
  }
  template <size_t N> std::array<uint8_t, N> Rec() { return Fill(std::array<uint8_t, N>{}); }
  Bytes Blob(size_t n) { return Fill(Bytes(n)); }
};

template <class F> auto Many(size_t n, F make) {
  std::vector<decltype(make())> v(n);
  for (auto& x : v) x = make();
  return v;
}

// 32-bit pages (B, G, R, A per pixel) of 256x256 pixels: bands of four 64x64
// tiles, each a gradient with a light dither, a noise region, a two-colour
// brick pattern or a repeat of the tile on its left.
Bytes TexturePages(size_t pages, Rng& rng) {
  Bytes out(pages * 262144);
  for (size_t t = 0; t < pages * 16; ++t) {
    const size_t band = t / 4, tx = t % 4;
    const uint32_t type = rng.Below(10), base = rng.Next();
    const int dx = int(rng.Below(5)) - 2, dy = int(rng.Below(5)) - 2;
    for (int y = 0; y < 64; ++y) {
      uint8_t* px = out.data() + (band * 64 + size_t(y)) * 1024 + tx * 256;
      if (type < 3 && tx > 0) {
        std::memcpy(px, px - 256, 256);
        continue;
      }
      for (int x = 0; x < 64; ++x, px += 4) {
        for (int c = 0; c < 3; ++c) {
          const int b = int((base >> (8 * c)) & 0xFF);
          px[c] = uint8_t(type < 7   ? b + (x * dx + y * dy) * (c + 1) / 4 + (rng.Below(8) == 0)
                          : type < 9 ? b + int(rng.Below(24))
                                     : (y % 16 == 0 || (x + y / 16 * 8) % 32 == 0 ? b / 3 : b));
        }
        px[3] = 0xFF;
      }
    }
  }
  return out;
}

// The same pixels as ARGB 1555 words and as 8-bit palette indices.
Bytes To16Bit(const Bytes& p32) {
  Bytes out(p32.size() / 2);
  for (size_t i = 0; i + 3 < p32.size(); i += 4) {
    const unsigned v = 0x8000 | (p32[i + 2] >> 3) << 10 | (p32[i + 1] >> 3) << 5 | p32[i] >> 3;
    out[i / 2] = uint8_t(v), out[i / 2 + 1] = uint8_t(v >> 8);
  }
  return out;
}

Bytes To8Bit(const Bytes& p32) {
  Bytes out(p32.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t((p32[4 * i] + 6 * p32[4 * i + 1] + 3 * p32[4 * i + 2]) / 10);
  return out;
}

// Records of `stride` words whose fields drift from one record to the next,
// with an occasional unrelated value, as in mesh, frame and floor data.
std::vector<uint16_t> Words(size_t n, Rng& rng, uint32_t drift, size_t stride = 8) {
  std::vector<uint16_t> w(n);
  for (size_t i = 0; i < n; ++i)
    w[i] = uint16_t(i < stride || rng.Below(32) == 0 ? rng.Below(0x1000)
                    : rng.Below(3) != 0 ? w[i - stride] : w[i - stride] + rng.Below(drift) - drift / 2);
  return w;
}

BRoom MakeRoom(Kind kind, int index, int rooms, Rng& rng) {
  const RecordSizes s = SizesOf(kind);
  BRoom r;
  const int32_t head[4] = {(index % 20) * 10240, (index / 20) * 10240, -int32_t(rng.Below(8)) * 256, -4096};
  std::memcpy(r.info.data(), head, 16);
  for (int i = 0; i < 300; ++i)  // a 20 x 15 grid of corners at a few heights
    r.vertices.push_back({int16_t((i % 20) * 512), int16_t(-int(rng.Below(4)) * 256), int16_t((i / 20) * 512),
                          uint16_t(0x1000 + rng.Below(32)), 0x0010, 0x3DEF});
  const uint32_t tex = rng.Below(1900);  // faces in grid order, a room's own textures
  uint32_t i = 0;
  r.rectangles = Many(250, [&] {
    const uint16_t a = uint16_t(std::min(259u, i++ + rng.Below(30)));
    return BRectangle{{a, uint16_t(a + 1), uint16_t(a + 21), uint16_t(a + 20)},
                      uint16_t((tex + rng.Below(64)) | (rng.Below(8) == 0 ? 0x8000 : 0))};
  });
  r.triangles = Many(40, [&] {
    const uint16_t a = uint16_t(rng.Below(279));
    return BTriangle{{a, uint16_t(a + 1), uint16_t(a + 20)}, uint16_t(tex + rng.Below(64))};
  });
  r.sprites = Many(rng.Below(3), [&] { return rng.Rec<4>(); });
  r.portals = Many(2 + rng.Below(3), [&] { return rng.Rec<32>(); });
  r.sectorsZ = r.sectorsX = 10;
  r.sectors = Many(100, [&] {  // floor data index, box and step sound, no room below or above
    const uint32_t fd = rng.Below(4) == 0 ? rng.Below(uint32_t(rooms) * 150) : 0, box = rng.Below(uint32_t(rooms) * 8);
    return std::array<uint8_t, 8>{uint8_t(fd), uint8_t(fd >> 8), uint8_t(box), uint8_t(box >> 8 | rng.Below(16) << 4),
                                  0xFF, uint8_t(-int(rng.Below(4))), 0xFF, 0xF0};
  });
  r.ambient = {0x00, uint8_t(rng.Below(32))};
  r.ambient2 = uint16_t(rng.Next());
  r.lights = Many(3 + rng.Below(3), [&] { return rng.Blob(s.light); });
  r.statics = Many(2 + rng.Below(3), [&] { return rng.Blob(s.roomStatic); });
  r.flags = {uint8_t(rng.Below(6) == 0 ? 0x01 : 0x40), 0};
  r.waterScheme = uint8_t(rng.Below(4));
  return r;
}

BLevel MakeLevel(int k, int pages, int rooms, unsigned seed) {
  const Kind kind = KindFromInt(k);
  const RecordSizes s = SizesOf(kind);
  Rng rng{seed * 7919ull + unsigned(k)};
  BLevel L = SampleLevel(k, seed);
  const Bytes p32 = TexturePages(size_t(pages), rng);
  if (k <= 5) {
    L.textiles8 = To8Bit(p32);
    L.textiles16 = k >= 3 ? To16Bit(p32) : Bytes{};
  } else {
    L.textiles16 = To16Bit(p32);
    L.textiles32 = p32;
    L.texturesMisc = TexturePages(2, rng);
    L.tr4PageCounts = {uint16_t(pages * 3 / 4), uint16_t(pages - pages * 3 / 4), 0};
  }
  int index = 0;
  L.rooms = Many(size_t(rooms), [&] { return MakeRoom(kind, index++, rooms, rng); });

  const size_t n = size_t(rooms);
  L.floorData = Words(n * 150, rng, 8, 4);
  L.meshData = Words(n * 2000, rng, 64, 6);
  int32_t pointer = 0;
  L.meshPointers = Many(n * 2, [&] { return pointer += 400; });
  L.animations = Many(n * 5, [&] { return rng.Blob(s.animation); });
  L.animCommands = Words(n * 20, rng, 8, 2);
  L.meshTrees = Many(n * 4, [&] { return int32_t(rng.Below(4096)); });
  L.frames = Words(n * 1000, rng, 32, 10);
  L.moveables = Many(n / 2, [&] { return rng.Rec<18>(); });
  L.objectTextures = Many(n * 10, [&] {
    const uint16_t tile = uint16_t(rng.Below(uint32_t(pages)));
    return BObjectTexture{uint16_t(rng.Below(3)), tile, tile, rng.Rec<16>(), {}};
  });
  L.cameras.assign(100, {});
  L.boxes = Many(n * 8, [&] { return rng.Blob(s.box); });
  L.overlaps = Words(n * 20, rng, 16, 1);
  for (auto& z : L.zones) z = Many(L.boxes.size(), [&] { return int16_t(rng.Below(256)); });
  L.items.resize(n * 2, L.items.front());
  for (size_t i = 0; i < L.items.size(); ++i) {
    L.items[i].objectId = uint16_t(i == n ? 0 : 1 + rng.Below(400));
    L.items[i].room = int16_t(rng.Below(uint32_t(rooms)));
  }
  L.soundDetails.assign(300, {});
  L.sampleIndices.assign(300, 0);
  return L;
}

// A zlib stream of more than 2 GiB of zeros: one sync-flushed segment of
// deflate blocks for 16 MiB, repeated (its matches reach back into zeros
// only), then an empty final block; no check value, as no reader gets there.
Bytes ZeroBomb() {
  const Bytes zeros(size_t{16} << 20);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes segment(1 << 20), last(64);
  z.next_in = const_cast<Bytef*>(zeros.data()), z.avail_in = uInt(zeros.size());
  z.next_out = segment.data(), z.avail_out = uInt(segment.size());
  deflate(&z, Z_SYNC_FLUSH);
  segment.resize(segment.size() - z.avail_out);
  z.next_out = last.data(), z.avail_out = uInt(last.size());
  deflate(&z, Z_FINISH);
  last.resize(last.size() - z.avail_out);
  deflateEnd(&z);
  Bytes stream = {0x78, 0xDA};
  for (int i = 0; i < 132; ++i) stream.insert(stream.end(), segment.begin(), segment.end());
  stream.insert(stream.end(), last.begin(), last.end());
  return stream;
}

int WriteBombs(const std::string& dir) {
  const Bytes bomb = ZeroBomb(), empty = Deflate({});
  auto chunk = [](Bytes& file, const Bytes& stream) {
    for (uint32_t v : {0x7FFFFFFFu, uint32_t(stream.size())})
      for (int s = 0; s < 32; s += 8) file.push_back(uint8_t(v >> s));
    file.insert(file.end(), stream.begin(), stream.end());
  };
  const Bytes head = {'T', 'R', '4', 0, 0, 0, 0, 0, 0, 0};
  Bytes one = head, four = head;
  for (int i = 0; i < 3; ++i) chunk(one, empty);
  chunk(one, bomb);
  for (int i = 0; i < 4; ++i) chunk(four, bomb);
  // The same stream as the whole content of a "ZLIB" container.
  Bytes wrapped = {'Z', 'L', 'I', 'B'};
  for (uint32_t v : {uint32_t(bomb.size()), 0x7FFFFFFFu})
    for (int s = 0; s < 32; s += 8) wrapped.push_back(uint8_t(v >> s));
  wrapped.insert(wrapped.end(), bomb.begin(), bomb.end());
  for (const auto& [name, file] : {std::pair<const char*, const Bytes&>{"bomb-chunk4", one}, {"bomb-all4", four},
                                   {"bomb-zlib", wrapped}}) {
    const std::string path = dir + "/" + name + (file.front() == 'Z' ? ".tr2" : ".tr4");
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
      return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
    std::printf("%s %s %zu\n", name, path.c_str(), file.size());
  }
  return 0;
}

uint32_t U32At(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

}  // namespace

// The manifest line of an existing level file: its kind from the signature and
// the name, and for the TR4 family its unpacked chunk sizes.
int Describe(const char* size, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 10) return std::fprintf(stderr, "%s: not a level\n", path.c_str()), 1;
  std::string upper = path.substr(path.find_last_of('/') + 1);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  auto has = [&](const char* ext) { return upper.find(ext) != std::string::npos; };
  const uint32_t sig = U32At(file, 0);
  int kind = sig == 0x20 ? (has(".TUB") ? 2 : 1) : sig == 0x2D ? (has(".TRG") ? 4 : 3)
             : (sig == 0xFF080038u || sig == 0xFF180038u) ? 5 : (sig == 0x00345254u || sig == 0xFFFFFFF0u) ? (has(".TRC") ? 7 : 6) : 0;
  if (kind == 0) return std::fprintf(stderr, "%s: not a level\n", path.c_str()), 1;
  uint64_t unpacked = 0;
  double ratio = 0;
  for (size_t at = 10, c = 0; kind >= 6 && c < 4 && at + 8 <= file.size(); ++c) {
    unpacked += U32At(file, at);
    if (c == 0) ratio = double(U32At(file, at)) / std::max<uint32_t>(1, U32At(file, at + 4));
    at += 8 + U32At(file, at + 4);
  }
  std::printf("%d %s %s %zu %llu %.2f\n", kind, size, path.c_str(), file.size(), static_cast<unsigned long long>(unpacked), ratio);
  return 0;
}

// Small levels of all seven kinds in turn, for runs over many levels: prints
// each path.
int WriteBatch(const std::string& dir, int count) {
  for (int i = 0; i < count; ++i) {
    const BLevel level = MakeLevel(1 + i % 7, 1, 8, unsigned(i));
    const Bytes file = Build(level);
    char name[32];
    std::snprintf(name, sizeof name, "/b%03d", i);
    const std::string path = dir + name + FileExtension(level.kind);
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
      return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
    std::printf("%s\n", path.c_str());
  }
  return 0;
}

// TR4 levels of one size, for the edits that keep unchanged chunks: prints
// each path.
int WriteTr4(const std::string& dir, int count, int pages, int rooms) {
  for (int i = 0; i < count; ++i) {
    const Bytes file = Build(MakeLevel(6, pages, rooms, unsigned(1000 + i)));
    char name[32];
    std::snprintf(name, sizeof name, "/t%03d.tr4", i);
    const std::string path = dir + name;
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
      return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
    std::printf("%s\n", path.c_str());
  }
  return 0;
}

// One TR3 level of `rooms` small rooms nested over each other: all at one x/z,
// 4 x 4 sectors, each a storey lower than the one before, every room a flip
// room of the room before it, every third one water; the worst case for
// anything that pairs rooms by place or by flip room.
int WriteNested(const std::string& dir, int rooms) {
  BLevel L = SampleLevel(5, 3);
  L.rooms.clear();
  for (int i = 0; i < rooms; ++i) {
    BRoom r;
    const int32_t head[4] = {0, 0, (i + 1) * 256, i * 256};
    std::memcpy(r.info.data(), head, 16);
    r.sectorsX = r.sectorsZ = 4;
    for (int s = 0; s < 16; ++s) {
      const bool ring = s < 4 || s >= 12 || s % 4 == 0 || s % 4 == 3;
      r.sectors.push_back({0, 0, 0, 0, 0xFF, uint8_t(ring ? 0x81 : i + 1), 0xFF, uint8_t(ring ? 0x81 : i)});
    }
    r.alternateRoom = int16_t(i % 2 == 1 ? i - 1 : -1);
    r.flags = {uint8_t(i % 3 == 0 ? 0x01 : 0x00), 0};
    L.rooms.push_back(std::move(r));
  }
  const std::string path = dir + "/nested.tr2";
  const Bytes file = Build(L);
  if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
    return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
  std::printf("%s\n", path.c_str());
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--nested") == 0) return WriteNested(argv[2], std::stoi(argv[3]));
  if (argc == 6 && std::strcmp(argv[1], "--tr4") == 0)
    return WriteTr4(argv[2], std::stoi(argv[3]), std::stoi(argv[4]), std::stoi(argv[5]));
  if (argc == 3 && std::strcmp(argv[1], "--bombs") == 0) return WriteBombs(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--batch") == 0) return WriteBatch(argv[2], std::stoi(argv[3]));
  if (argc >= 4 && std::strcmp(argv[1], "--describe") == 0) {
    for (int a = 3; a < argc; ++a)
      if (Describe(argv[2], argv[a]) != 0) return 1;
    return 0;
  }
  if (argc < 5 || (argc - 2) % 3 != 0)
    return std::fprintf(stderr, "usage: qm_make_levels OUTDIR NAME PAGES ROOMS [NAME PAGES ROOMS ...]\n"), 2;
  const std::string dir = argv[1];
  for (int a = 2; a + 2 < argc; a += 3) {
    const std::string name = argv[a];
    const int pages = std::stoi(argv[a + 1]), rooms = std::stoi(argv[a + 2]);
    for (int k = 1; k <= 7; ++k) {
      const BLevel level = MakeLevel(k, pages, rooms, unsigned(a));
      BLayout layout;
      const Bytes file = Build(level, &layout);
      const std::string path = dir + "/k" + std::to_string(k) + "_" + name + FileExtension(level.kind);
      if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
        return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
      uint64_t unpacked = 0;
      double ratio = 0;
      if (k >= 6) {
        for (int c = 1; c <= 4; ++c) unpacked += U32At(file, layout.File("chunk" + std::to_string(c)));
        ratio = double(U32At(file, layout.File("chunk1"))) / U32At(file, layout.File("chunk1") + 4);
      }
      std::printf("%d %s %s %zu %llu %.2f\n", k, name.c_str(), path.c_str(), file.size(),
                  static_cast<unsigned long long>(unpacked), ratio);
      std::fflush(stdout);
    }
  }
  return 0;
}
