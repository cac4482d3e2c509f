#include "maptriggers.h"

#include "items.h"
#include "jsonvalue.h"
#include "triggersout.h"

namespace qm {

TJson MapTriggerFacts(const Ttrlevel& L, const TLevelTriggers& triggers) {
    std::vector<uint16_t> itemTypes;
    itemTypes.reserve(size_t(std::max(L.ItemCount, 0)));
    for (int32_t i = 0; i < L.ItemCount; ++i) itemTypes.push_back(ReadItem(L, i).Type);
    TJson table = TJson::array();
    for (const TTriggeredSector& s : triggers.Triggers) table.push_back(TriggerJson(L.LevelVersion, s, itemTypes));
    return table;
}

} // namespace qm
