// The triggers on the map page: the table of triggered sectors its script
// reads to list a sector's triggers under the pointer and to find the sectors
// whose triggers name an item.
#pragma once

#include "jsonfwd.h"
#include "triggers.h"
#include "trlevel.h"

namespace qm {

// The page's table ("triggers" of its facts): one object per trigger, as
// "/ShowTriggers --json" gives it (room, column, row, the world x/z of the
// sector's corner, type, timer, once, mask, actions with the items' names).
nlohmann::ordered_json MapTriggerFacts(const Ttrlevel& L, const TLevelTriggers& triggers);

} // namespace qm
