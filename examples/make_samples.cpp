// Writes the bundled sample levels into the directory named by the first
// argument: a small one of every kind, and a larger TR4 level whose rooms look
// like a real level's, for the README's examples.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "levelbuilder.h"

namespace {

bool WriteFile(const std::string& path, const qmtest::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

void PutI32(uint8_t* at, int32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

// Sixteen rooms on a 4 x 4 grid of the world, each a box of sectors with walls
// around it: rooms 0-3 open to the sky, rooms 9 and 10 under water, room 12
// quicksand (the TR4 bit), room 15 the alternate of room 14 in the same place.
qmtest::BLevel RoomsLevel() {
  qmtest::BLevel L = qmtest::SampleLevel(6, 7);
  L.rooms.clear();
  for (int i = 0; i < 16; ++i) {
    const int place = i == 15 ? 14 : i;
    const uint16_t sizeX = static_cast<uint16_t>(4 + i % 3), sizeZ = static_cast<uint16_t>(4 + (i / 3) % 3);
    const int32_t bottom = -256 * (i % 4), top = bottom - 2048 - 256 * (i % 2);
    qmtest::BRoom room;
    PutI32(&room.info[0], 8 * 1024 * (place % 4));  // world x and z of the grid's corner
    PutI32(&room.info[4], 8 * 1024 * (place / 4));
    PutI32(&room.info[8], bottom);  // y grows downwards: the floor is the larger value
    PutI32(&room.info[12], top);
    // A floor and a ceiling of four corners each, in room coordinates.
    for (int16_t y : {static_cast<int16_t>(bottom), static_cast<int16_t>(top)})
      for (int corner = 0; corner < 4; ++corner) {
        qmtest::BVertex v;
        v.x = static_cast<int16_t>(corner & 1 ? 1024 * (sizeX - 1) : 1024);
        v.z = static_cast<int16_t>(corner & 2 ? 1024 * (sizeZ - 1) : 1024);
        v.y = y;
        v.lighting = 0x4210;
        room.vertices.push_back(v);
      }
    const uint16_t faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {1, 5, 7, 3}, {3, 7, 6, 2}, {2, 6, 4, 0}};
    for (int f = 0; f < 6; ++f) {
      qmtest::BRectangle r;
      for (int c = 0; c < 4; ++c) r.vertices[static_cast<size_t>(c)] = faces[f][c];
      r.texture = static_cast<uint16_t>(f < 2 ? f : 2 + (i + f) % 3);  // floor 0, ceiling 1, walls 2-4
      room.rectangles.push_back(r);
    }
    room.triangles.push_back({{0, 1, 4}, 3});
    room.sectorsZ = sizeZ;
    room.sectorsX = sizeX;
    for (int x = 0; x < sizeX; ++x)
      for (int z = 0; z < sizeZ; ++z) {
        const bool wall = x == 0 || z == 0 || x == sizeX - 1 || z == sizeZ - 1;
        const int8_t floor = wall ? int8_t{-127} : static_cast<int8_t>(bottom / 256);
        const int8_t ceiling = wall ? int8_t{-127} : static_cast<int8_t>(top / 256);
        // floor data index, box index (step sound in the low 4 bits), room below, floor, room above, ceiling
        room.sectors.push_back({0, 0, static_cast<uint8_t>(0x10 | (i % 4)), 0, 0xFF, static_cast<uint8_t>(floor),
                                0xFF, static_cast<uint8_t>(ceiling)});
      }
    room.ambient = {0x60, 0x50};
    room.lights = {qmtest::Bytes(qmtest::SizesOf(L.kind).light, static_cast<uint8_t>(i))};
    if (i % 2 == 0) room.statics = {qmtest::Bytes(qmtest::SizesOf(L.kind).roomStatic, static_cast<uint8_t>(i))};
    room.alternateRoom = i == 14 ? int16_t{15} : int16_t{-1};
    room.flags = {static_cast<uint8_t>(i < 4 ? 0x08 : i == 9 || i == 10 ? 0x01 : i == 12 ? 0x04 : 0x00), 0};
    L.rooms.push_back(std::move(room));
  }
  return L;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_samples <directory>\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  struct Sample {
    const char* name;
    int kind;
    bool wrapped;
  };
  const Sample samples[] = {
      {"sample_tr1.phd", 1, false},      {"sample_tub.tub", 2, false},
      {"sample_tr2.tr2", 3, false},      {"sample_tr3.tr2", 5, false},
      {"sample_tr4.tr4", 6, false},      {"sample_tr4_zlib.tr4", 6, true},
      {"sample_trc.trc", 7, false},
  };
  bool ok = true;
  for (const Sample& s : samples) {
    const qmtest::Bytes level = qmtest::Build(qmtest::SampleLevel(s.kind, 1));
    ok = WriteFile(dir + s.name, s.wrapped ? qmtest::WrapZlib(level) : level) && ok;
  }
  ok = WriteFile(dir + "sample_rooms.tr4", qmtest::Build(RoomsLevel())) && ok;
  return ok ? 0 : 1;
}
