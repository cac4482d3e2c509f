// The two forms of "/ShowTriggers": the text lines and the JSON members.
#pragma once

#include "console.h"
#include "jsonout.h"
#include "triggers.h"

namespace qm {

// Heading, empty line, one block per room (a line per triggered sector, a
// line per damaged one), the count per type, the items no trigger names,
// "Done.".
void WriteTriggerTable(const TTriggerTable& table, TConsole& out);
// Adds "triggers": [{"room", "column", "row", "x", "z", "type", "timer",
// "once", "mask", "actions"}, ...], "triggerTypes", "untriggeredItems" and
// "floorDataDamage" to a level's entry.
void AddTriggerTableJson(const TTriggerTable& table, TJson& entry);

// One trigger as an object of "triggers": its sector's "room", "column",
// "row", "x", "z", then "type", "timer", "once", "mask" and "actions".
TJson TriggerJson(int32_t version, const TTriggeredSector& s, const std::vector<uint16_t>& itemTypes);

// An action as the text shows it: "Object 4 Door_type1", "Camera 2", "Secret 0".
std::string ActionText(int32_t version, const TTriggerAction& a, const std::vector<uint16_t>& itemTypes);

// The five bits of a mask as "12345", a cleared bit as "-".
std::string MaskText(int mask);

} // namespace qm
