// Writes a TR3 level of many rooms stacked over few places, for timing the
// storeys and the map where rooms lie over each other thousands deep:
// qm_make_stacks FILE ROOMS PLACES. Room i stands over place i % PLACES (the
// places side by side along x), 3 x 3 sectors (one floor sector off the
// ring), a sector higher than the room below it. Prints the file's size.
#include <cstdio>
#include <fstream>
#include <string>

#include "levelbuilder.h"

int main(int argc, char** argv) {
  using namespace qmtest;
  if (argc != 4) return std::fprintf(stderr, "usage: qm_make_stacks FILE ROOMS PLACES\n"), 2;
  const int rooms = std::stoi(argv[2]), places = std::max(1, std::stoi(argv[3]));
  if (rooms < 1 || rooms > 65535) return std::fprintf(stderr, "ROOMS must be 1 to 65535\n"), 2;
  BLevel L = SampleLevel(5, 7);
  BRoom room;
  room.sectorsX = room.sectorsZ = 3;
  room.sectors.assign(9, {0x10, 0, 0xFF, 0x04, 0xFF, 0x04, 0xFF, 0xF8});
  L.rooms.assign(size_t(rooms), room);
  for (int i = 0; i < rooms; ++i) {
    const int32_t x = (i % places) * 4 * 1024, floor = -(i / places) * 1024, ceiling = floor - 1024;
    auto& info = L.rooms[size_t(i)].info;
    for (int k = 0; k < 4; ++k) {
      info[size_t(k)] = uint8_t(uint32_t(x) >> (8 * k));
      info[size_t(8 + k)] = uint8_t(uint32_t(floor) >> (8 * k));
      info[size_t(12 + k)] = uint8_t(uint32_t(ceiling) >> (8 * k));
    }
  }
  for (auto& item : L.items) item.room = 0;
  const Bytes file = Build(L);
  if (!std::ofstream(argv[1], std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size())))
    return std::fprintf(stderr, "cannot write %s\n", argv[1]), 1;
  std::printf("%zu\n", file.size());
  return 0;
}
