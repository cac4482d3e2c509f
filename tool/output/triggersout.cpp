#include "triggersout.h"

#include <utility>

#include "itemnames.h"
#include "jsonvalue.h"

namespace qm {

namespace {

std::string SectorText(const TSectorPlace& p) {
    std::string s = "Sector ";
    s.append(std::to_string(p.Sector.Column)).append(",").append(std::to_string(p.Sector.Row));
    s.append(" (x ").append(std::to_string(p.X)).append(", z ").append(std::to_string(p.Z)).append(")");
    return s;
}

std::string TriggerText(int32_t version, const TTrigger& t, const std::vector<uint16_t>& itemTypes) {
    std::string s = TriggerTypeLabel(version, t.Type);
    s.append(", timer ").append(std::to_string(t.Timer)).append(", once ").append(t.Once ? "yes" : "no");
    s.append(", mask ").append(MaskText(t.Mask)).append(":");
    const char* separator = " ";
    for (const TTriggerAction& a : t.Actions) {
        s.append(separator).append(ActionText(version, a, itemTypes));
        separator = ", ";
    }
    return s;
}

const char* ItemName(int32_t version, uint16_t item, const std::vector<uint16_t>& itemTypes) {
    return item < itemTypes.size() ? ItemTypeName(version, itemTypes[item]) : nullptr;
}

TJson PlaceJson(const TSectorPlace& p) {
    return TJson{{"room", p.Sector.Room}, {"column", p.Sector.Column}, {"row", p.Sector.Row}, {"x", p.X}, {"z", p.Z}};
}

TJson ActionJson(int32_t version, const TTriggerAction& a, const std::vector<uint16_t>& itemTypes) {
    const TActionInfo info = ActionInfoOf(version, a.Action);
    TJson j{{"action", info.Name ? std::string(info.Name) : std::string("Action ").append(std::to_string(a.Action))},
            {info.Key, a.Param}};
    if (info.NamesItem) {
        const char* name = ItemName(version, a.Param, itemTypes);
        j["name"] = name ? TJson(name) : TJson(nullptr);
    }
    if (a.HasExtra) {
        j["time"] = a.Extra & 0xFF;
        j["once"] = (a.Extra & 0x100) != 0;
        j["moveTime"] = (a.Extra >> 9) & 0x1F;
    }
    return j;
}

} // namespace

TJson TriggerJson(int32_t version, const TTriggeredSector& s, const std::vector<uint16_t>& itemTypes) {
    TJson j = PlaceJson(s.Place);
    j["type"] = TriggerTypeLabel(version, s.Trigger.Type);
    j["timer"] = s.Trigger.Timer;
    j["once"] = s.Trigger.Once;
    j["mask"] = s.Trigger.Mask;
    TJson actions = TJson::array();
    for (const TTriggerAction& a : s.Trigger.Actions) actions.push_back(ActionJson(version, a, itemTypes));
    j["actions"] = std::move(actions);
    return j;
}

std::string MaskText(int mask) {
    std::string s;
    for (int k = 0; k < 5; ++k) s += (mask >> k & 1) ? char('1' + k) : '-';
    return s;
}

std::string ActionText(int32_t version, const TTriggerAction& a, const std::vector<uint16_t>& itemTypes) {
    const TActionInfo info = ActionInfoOf(version, a.Action);
    std::string s = info.Name ? info.Name : std::string("Action ").append(std::to_string(a.Action));
    s.append(" ").append(std::to_string(a.Param));
    if (!info.NamesItem) return s;
    if (a.Param >= itemTypes.size()) return s.append(" (no such item)");
    return s.append(" ").append(ItemTypeLabel(version, itemTypes[a.Param]));
}

void WriteTriggerTable(const TTriggerTable& t, TConsole& out) {
    out.Line("Showing TRIGGERS of this level:");
    out.Line("");
    size_t triggers = 0;
    for (const TTriggerTable::TRoomBlock& room : t.Rooms) {
        const std::string head = "Room " + std::to_string(room.Room);
        if (room.Triggers.empty() && room.Damage.empty()) {
            out.Line(head + ": no triggers.");
            continue;
        }
        out.Line(head + ":");
        for (const TTriggeredSector& s : room.Triggers)
            out.Line("  " + SectorText(s.Place) + ": " + TriggerText(t.Version, s.Trigger, t.ItemTypes));
        for (const TFloorDamage& d : room.Damage)
            out.Line("  " + SectorText(d.Place) + ": damaged floor data: " + d.Message + ".");
        triggers += room.Triggers.size();
    }
    out.Line("");
    out.Line("Triggers by type:");
    for (const TTriggerTable::TTypeCount& c : t.Types)
        out.Line(std::to_string(c.Count) + " x " + TriggerTypeLabel(t.Version, c.Type));
    std::string untriggered = "Items no trigger names:";
    if (t.Untriggered.empty()) untriggered += " none";
    for (size_t k = 0; k < t.Untriggered.size(); ++k)
        untriggered.append(k ? ", " : " ").append(std::to_string(t.Untriggered[k]));
    out.Line(untriggered + ".");
    out.Line(std::to_string(triggers) + (triggers == 1 ? " trigger in " : " triggers in ") +
             std::to_string(t.Rooms.size()) + (t.Rooms.size() == 1 ? " room." : " rooms."));
}

void AddTriggerTableJson(const TTriggerTable& t, TJson& entry) {
    TJson triggers = TJson::array(), damage = TJson::array(), types = TJson::array();
    for (const TTriggerTable::TRoomBlock& room : t.Rooms) {
        for (const TTriggeredSector& s : room.Triggers) triggers.push_back(TriggerJson(t.Version, s, t.ItemTypes));
        for (const TFloorDamage& d : room.Damage) {
            TJson j = PlaceJson(d.Place);
            j["message"] = d.Message;
            damage.push_back(std::move(j));
        }
    }
    for (const TTriggerTable::TTypeCount& c : t.Types)
        types.push_back({{"type", TriggerTypeLabel(t.Version, c.Type)}, {"count", c.Count}});
    entry["triggers"] = std::move(triggers);
    entry["triggerTypes"] = std::move(types);
    entry["untriggeredItems"] = t.Untriggered;
    entry["floorDataDamage"] = std::move(damage);
}

} // namespace qm
