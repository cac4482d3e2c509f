// The floor materials of TR3 and later: the 16 values of a sector's step-sound
// field (bits 0-3 of its box word), by the names the level builders give them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "trlevel.h"

namespace qm {

constexpr uint16_t MaterialCount = 16;

// The name of material value (0-15): "Mud" .. "Custom 2"; "" for any other value.
const char* MaterialName(int32_t value);

// The value a material name stands for. Names match in any case, with blanks,
// underscores or nothing between their words alike ("Old wood", "old_wood",
// "OLDWOOD"); anything else gives none.
std::optional<uint16_t> MaterialOfName(const std::string& text);

// A material name, or a stored value 0-15 written in decimal digits.
std::optional<uint16_t> MaterialOf(const std::string& text);

// "" when text names a material (MaterialOf); otherwise the one-line message
// that refuses it.
std::string MaterialRefusal(const std::string& text);

// Over rooms from..to (inside the level): every sector takes the material;
// ReplaceMaterial: only the sectors whose material is oldMaterial. The other
// bits of the box word are kept.
void SetMaterial(Ttrlevel& L, uint16_t material, int32_t from, int32_t to);
void ReplaceMaterial(Ttrlevel& L, uint16_t oldMaterial, uint16_t newMaterial, int32_t from, int32_t to);

} // namespace qm
