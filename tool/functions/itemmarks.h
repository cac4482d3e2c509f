// The items on the map (/Map): a small mark per item, its shape and colour by
// the broad kind of its type (the player a red circle, pick-ups green
// diamonds, enemies orange triangles, everything else a violet square).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "itemnames.h"
#include "xmlwriter.h"

namespace qm {

// Half a mark's size on the map, in pixels.
constexpr double ItemMarkPixels = 4;

// The colour "#rrggbb" of a kind's marks.
const char* ItemMarkColour(TItemKind kind);

// A mark's outline as corners around its centre, in units of half its size
// (a circle: none).
std::vector<std::pair<double, double>> ItemMarkCorners(TItemKind kind);

// Opens the mark's shape centred on (x, y), half its size h, with the
// attributes in extra too; the caller writes its title and closes it.
void OpenItemMark(TXmlWriter& w, TItemKind kind, double x, double y, double h, double stroke,
                  std::vector<std::pair<const char*, std::string>> extra = {});

} // namespace qm
