// /RemoveItem N: the item taken out of the level, and every trigger action
// that names an item after it renumbered so that it names the same item.
//
// The floor data's object and look-at actions are the level's only records
// that name an item by its index (cameras, sound sources, AI objects and the
// cinematic frames carry none). A removal is refused while a trigger still
// names the item, and while damaged floor data hides actions that would have
// to be renumbered.
#include <algorithm>

#include "itemargs.h"
#include "items.h"
#include "triggers.h"

namespace qm {

namespace {

int32_t IndexOf(const TArgs& a) { return *NumberArg(a.At(3)); }

std::string SectorText(const TSectorRef& s) {
    std::string text = "room ";
    text.append(std::to_string(s.Room)).append(" sector ").append(std::to_string(s.Column)).append(",");
    return text.append(std::to_string(s.Row));
}

// "room 3 sector 2,4 (Pad)" for each trigger that names the item.
std::string NamingTriggers(const Ttrlevel& L, const TLevelTriggers& t, int32_t item, size_t& count) {
    std::string list;
    count = 0;
    for (const TTriggeredSector& s : t.Triggers) {
        const bool names = std::any_of(s.Trigger.Actions.begin(), s.Trigger.Actions.end(),
                                       [&](const TTriggerAction& a) { return NamesItem(L.LevelVersion, a, item); });
        if (!names) continue;
        list.append(count++ ? ", " : "").append(SectorText(s.Place.Sector)).append(" (");
        list.append(TriggerTypeLabel(L.LevelVersion, s.Trigger.Type)).append(")");
    }
    return list;
}

// What one reading of the floor data finds for a removal of `item`: whether
// an action names it, whether a sector's floor data is damaged, and the words
// of the actions that name a later item. Sectors that share their floor data
// (a trigger placed on several sectors) are read once.
struct TRemovalScan {
    bool Named = false, Damaged = false;
    std::vector<uint32_t> Words;
};

TRemovalScan ScanForRemoval(const Ttrlevel& L, int32_t item) {
    TRemovalScan scan;
    std::vector<bool> seen(L.FloorData.size(), false);
    TSectorFloor floor;
    for (size_t room = 0; room < L.RoomCount; ++room)
        for (const TRec<8>& sector : L.Rooms[room].Sectors) {
            const uint16_t index = FloorIndexOf(sector);
            if (index == 0) continue;
            if (index < seen.size()) {
                if (seen[index]) continue;
                seen[index] = true;
            }
            ReadSectorFloor(L, index, floor);
            scan.Damaged = scan.Damaged || !floor.Damage.empty();
            for (const TFloorEntry& e : floor.Entries) {
                if (!e.Trigger) continue;
                for (const TTriggerAction& a : e.Trigger->Actions) {
                    if (!ActionInfoOf(L.LevelVersion, a.Action).NamesItem) continue;
                    if (a.Param == item) scan.Named = true;
                    else if (a.Param > item) scan.Words.push_back(a.At);
                }
            }
        }
    // Chains that start at different words may still share their last entries.
    std::sort(scan.Words.begin(), scan.Words.end());
    scan.Words.erase(std::unique(scan.Words.begin(), scan.Words.end()), scan.Words.end());
    return scan;
}

// The refusal of a removal the scan found blocked, naming the sectors: the
// first damaged one, or every trigger that names the item.
std::string BlockedRemoval(const Ttrlevel& L, int32_t item) {
    const TLevelTriggers t = LevelTriggers(L);
    if (!t.Damage.empty()) {
        const TFloorDamage& d = t.Damage.front();
        return "The floor data of " + SectorText(d.Place.Sector) + " is damaged (" + d.Message +
               "); the triggers cannot all be renumbered.";
    }
    size_t count = 0;
    const std::string list = NamingTriggers(L, t, item, count);
    const std::string index = std::to_string(item);
    return "Item " + index + " is named by " + std::to_string(count) + (count == 1 ? " trigger: " : " triggers: ") +
           list + ".\nto keep the triggers as they are, hide the item instead: /ItemFlags " + index + " invisible=1";
}

} // namespace

const char* RemoveItemArgsRefusal(const TArgs& a) {
    if (!a.Present(3)) return "Missing parameter";
    return NumberArg(a.At(3)) ? nullptr : "The item index must be a number.";
}

std::string RemoveItemRefusal(const Ttrlevel& L, const TArgs& a, TItemRemoval& removal) {
    const int32_t item = IndexOf(a);
    if (std::string refusal = ItemIndexRefusal(L, item); !refusal.empty()) return refusal;
    TRemovalScan scan = ScanForRemoval(L, item);
    if (scan.Damaged || scan.Named) return BlockedRemoval(L, item);
    removal.Words = std::move(scan.Words);
    return "";
}

TItemChange RemoveItem(Ttrlevel& L, const TArgs& a, const TItemRemoval& removal) {
    const int32_t item = IndexOf(a);
    TItemChange c;
    c.Version = L.LevelVersion;
    c.Form = ItemFormOf(L);
    c.Before = ReadItem(L, item);
    c.After = *c.Before;
    c.Removed = true;
    for (uint32_t at : removal.Words) {
        uint16_t& word = L.FloorData[at];
        word = uint16_t((word & ~0x3FF) | ((word & 0x3FF) - 1));
    }
    c.Renumbered = removal.Words.size();
    L.Items22.erase(L.Items22.begin() + item);
    L.Items24.erase(L.Items24.begin() + item);
    L.SetItemCount(L.ItemCount - 1);
    if (L.IsNgLevel())
        c.Notes.push_back("This level was built with the NG editor: its scripts, kept outside the level, may name "
                          "items by index and were not renumbered.");
    return c;
}

} // namespace qm
