// What an edit changes, for a run that must not save: the rooms of the range
// are kept as they were before the edit, then compared with the edited level.
#pragma once

#include <cstdint>
#include <vector>

#include "console.h"
#include "trlevel.h"

namespace qm {

// The fields of one room that an edit may change, as they were.
struct TRoomBefore {
    uint16_t Flags = 0;
    uint16_t Light = 0;
    uint16_t Light2 = 0;                // the second ambient value (the colour's red and alpha)
    std::vector<uint16_t> SectorWords;  // word 1 of each sector
    std::vector<uint16_t> FaceWords;    // the texture word of each rectangle, then of each triangle
};

// What one room's edit changed.
struct TRoomChange {
    int32_t Room = 0;
    uint16_t FlagsBefore = 0, FlagsAfter = 0;
    uint16_t LightBefore = 0, LightAfter = 0;
    // A change of the second ambient value shows as the room colour, 0xRRGGBB.
    bool ColourChanged = false;
    uint32_t ColourBefore = 0, ColourAfter = 0;
    size_t Sectors = 0, Faces = 0;  // how many changed
    bool Changed() const {
        return FlagsBefore != FlagsAfter || LightBefore != LightAfter || ColourChanged || Sectors || Faces;
    }
};

std::vector<TRoomBefore> RoomsBefore(const Ttrlevel& L, int32_t from, int32_t to);
// The rooms from..to that the edit changed, in increasing order.
std::vector<TRoomChange> RoomChanges(const std::vector<TRoomBefore>& before, const Ttrlevel& L, int32_t from);

// One line per changed room, then the line of totals that says nothing was saved.
void PrintRoomChanges(const std::vector<TRoomChange>& changes, TConsole& out);

} // namespace qm
