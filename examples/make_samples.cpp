// Writes the bundled sample levels, one of each kind the examples use, into
// the directory named by the first argument.
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

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

// One room of the floor plan sample: place and size in sectors, floor and
// ceiling in world units, the low flags byte, and inner wall sectors.
struct PlanRoom {
  int x, z, sizeX, sizeZ, floor, ceiling;
  uint8_t flags;
  int16_t alternate;
  std::vector<std::pair<int, int>> walls, doors;  // inner walls; open sectors of the outer ring
};

// A TR3 level whose rooms form a small floor plan, for the pictures of /Map:
// a courtyard open to the sky with a gallery above it, a hall, a pool with its
// drained flip room, a quicksand pit, a tower and a flooded cellar.
qmtest::BLevel FloorPlanLevel() {
  qmtest::BLevel L = qmtest::SampleLevel(5, 2);
  const PlanRoom plan[] = {
      {0, 0, 10, 8, 0, -6144, 0x08, -1, {{3, 3}, {6, 4}}, {{9, 3}, {9, 4}, {4, 0}}},
      {10, 2, 6, 4, 0, -3072, 0x00, -1, {}, {{0, 1}, {0, 2}, {5, 1}, {5, 2}}},
      {16, 0, 7, 8, 2048, 0, 0x01, 3, {}, {{0, 3}, {0, 4}, {6, 4}}},
      {16, 0, 7, 8, 2048, 0, 0x00, -1, {}, {{0, 3}, {0, 4}}},
      {1, 4, 8, 5, -3072, -5120, 0x00, -1, {{3, 2}, {4, 2}, {5, 2}}, {}},
      {2, -6, 6, 6, 1024, -2048, 0x80, -1, {}, {{2, 5}, {3, 5}}},
      {22, 3, 4, 4, -1024, -6144, 0x00, -1, {}, {{0, 1}}},
      {11, -4, 5, 6, 3072, 1024, 0x01, -1, {{2, 2}}, {}},
  };
  std::vector<qmtest::BRoom> rooms;
  for (size_t i = 0; i < std::size(plan); ++i) {
    const PlanRoom& p = plan[i];
    qmtest::BRoom r = L.rooms[i % L.rooms.size()];
    const int32_t info[4] = {p.x * 1024, p.z * 1024, p.floor, p.ceiling};
    for (size_t k = 0; k < 16; ++k) r.info[k] = uint8_t(uint32_t(info[k / 4]) >> (8 * (k % 4)));
    r.sectorsX = uint16_t(p.sizeX);
    r.sectorsZ = uint16_t(p.sizeZ);
    // Sector: floor data index, box, room below, floor (y / 256), room above, ceiling.
    r.sectors.assign(size_t(p.sizeX * p.sizeZ),
                     {0, 0, 0, 0, 0xFF, uint8_t(p.floor / 256), 0xFF, uint8_t(p.ceiling / 256)});
    auto at = [&](int x, int z) -> std::array<uint8_t, 8>& { return r.sectors[size_t(x * p.sizeZ + z)]; };
    for (int x = 0; x < p.sizeX; ++x)
      for (int z = 0; z < p.sizeZ; ++z)
        if (x == 0 || z == 0 || x == p.sizeX - 1 || z == p.sizeZ - 1) at(x, z)[5] = 0x81;
    for (const auto& [x, z] : p.walls) at(x, z)[5] = 0x81;
    for (const auto& [x, z] : p.doors) at(x, z)[5] = uint8_t(p.floor / 256);
    r.flags = {p.flags, 0x00};
    r.ambient = {0x00, uint8_t(8 + 2 * i)};
    r.alternateRoom = p.alternate;
    rooms.push_back(std::move(r));
  }
  L.rooms = std::move(rooms);
  for (qmtest::BItem& item : L.items) item.room = int16_t(item.room % int16_t(L.rooms.size()));
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
  ok = WriteFile(dir + "sample_floorplan.tr2", qmtest::Build(FloorPlanLevel())) && ok;
  return ok ? 0 : 1;
}
