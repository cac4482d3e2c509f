// What an edit changes, for a run that must not save: the rooms it acts on
// are kept as they were before the edit, then compared with the edited level.
#pragma once

#include <cstdint>
#include <vector>

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

// rooms: the rooms the edit acts on, inside the level, in increasing order.
std::vector<TRoomBefore> RoomsBefore(const Ttrlevel& L, const std::vector<int32_t>& rooms);
// The rooms of the set that the edit changed, in increasing order; before
// holds them as RoomsBefore kept them for the same set.
std::vector<TRoomChange> RoomChanges(const std::vector<TRoomBefore>& before, const Ttrlevel& L,
                                     const std::vector<int32_t>& rooms);

} // namespace qm
