// The items on the map (/Map): a small mark per item, its shape and colour by
// the broad kind of its type, and a legend row for the kinds.
#pragma once

#include <cstdint>
#include <string>

#include "trlevel.h"
#include "xmlwriter.h"

namespace qm {

// The height of the legend row of the marks, in pixels.
constexpr double ItemLegendPixels = 24;

// True when some item lies in one of the rooms from..to.
bool HasItemsIn(const Ttrlevel& L, int32_t from, int32_t to);

// The group of marks of the items in rooms from..to, in the rooms' sector
// units (transform: the rooms group's), each mark scale-independent in size.
void DrawItemMarks(TXmlWriter& w, const Ttrlevel& L, int32_t from, int32_t to, double scale,
                   const std::string& transform);

// The legend row of the kinds, its top at top pixels.
void DrawItemLegend(TXmlWriter& w, double top, double left);

} // namespace qm
