// What the map is made of, worked out once before any scale is chosen: the
// rooms' facts, the panels (one per storey drawn) with their rooms and their
// own frames, and the pieces each room is drawn with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maplayout.h"
#include "rooms.h"
#include "trlevel.h"

namespace qm {

// A rectangle of world units: x from Left to Right, z from Bottom to Top.
struct TExtent {
    int64_t Left = 0, Right = 0, Bottom = 0, Top = 0;
};

struct TPanelPart {
    int32_t Storey = 1;
    int32_t Low = 0, High = 0;
    std::string Title{};
    std::vector<int32_t> Rooms{};  // drawn, in room order
    TExtent Frame{};               // its rooms' grids together; all 0 without rooms
};

struct TMapParts {
    std::vector<TRoomFacts> Facts;     // of the drawn rooms (others left empty)
    std::vector<int32_t> AlternateOf;  // per room: the first room that names it as its flip room, or -1
    std::vector<TPanelPart> Panels;    // lowest storey first
    std::vector<int32_t> PanelOfRoom;  // -1: not drawn
    std::vector<std::vector<TSectorRect>> Triggered;  // per room: its triggered sectors (TMapRoom::Triggered)
};

// Gives each drawn room its triggered sectors, each once, in column and row order.
void AddTriggeredSectors(TMapParts& p, const TLevelTriggers& triggers);

// The parts of the map of rooms from..to; storey > 0: that storey only.
TMapParts PartsOf(const Ttrlevel& L, int32_t from, int32_t to, int32_t storey);

// A fill of the legend: its label and colour.
struct TFill {
    const char* Label;
    const char* Colour;
};
extern const std::vector<TFill> MapFills;

// The fill of a room: by its flags, the first of water, quicksand, sky, wind
// or another named flag, none.
const char* FillOf(const Ttrlevel& L, const TRoomFacts& f);

// The hover title: "Room 3: water, sky, 12×8 sectors, floor 1024, ceiling -2048, alternate room 5".
std::string RoomTitle(size_t i, const TRoomFacts& f, int32_t alternateOf);

// The room's floor sectors (not walls) as rectangles in sector units.
std::vector<TSectorRect> FloorRects(const RoomRecord& r, const TRoomFacts& f);

// "HEAD 12, 40, 41", wrapped to the width in pixels, at most lines lines
// (the last ending "and N more").
std::vector<std::string> ListNote(const std::string& head, const std::vector<int32_t>& numbers, double width,
                                  size_t lines);

inline double Sectors(int64_t world) { return double(world) / SectorUnits; }

} // namespace qm
