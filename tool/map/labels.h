// The placing of the rooms' numbers on one panel of the map: inside the room,
// in its largest free area, else just outside it with a leader line, else not
// at all (the caller lists those rooms in a note). No two placed boxes of a
// panel overlap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maplayout.h"
#include "trlevel.h"

namespace qm {

// A room to label: its sectors and where its grid lies in pixels.
struct TLabelRoom {
    int32_t Room = 0;
    std::string Text{};  // the label: the room's number, "24/90" with its flip room
    const RoomRecord* Record = nullptr;
    uint16_t SizeX = 0, SizeZ = 0;
    double Left = 0, Top = 0;  // the pixel of the grid's corner at x = 0, z = SizeZ (top left)
};

// The box a label's text needs, in whole pixels.
double LabelWidth(const std::string& text);
constexpr double LabelHeight = 13;

// Places the labels of the rooms (scale: pixels per sector) inside zone,
// clear of the obstacles (the item marks); the rooms left without one go to
// unlabelled, in room order.
std::vector<TMapLabel> PlaceLabels(const std::vector<TLabelRoom>& rooms, double scale, const TPixelBox& zone,
                                   const std::vector<TPixelBox>& obstacles, std::vector<int32_t>& unlabelled);

} // namespace qm
