// What the item functions share in reading their arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "trlevel.h"

namespace qm {

// The number an argument converts to (args.h), or empty.
std::optional<int32_t> NumberArg(const std::string& text);

// "Item 9 is outside this level (items 0 to 6).": one and many name what is counted.
std::string OutsideLevel(const char* one, const char* many, int64_t value, int64_t count);

// "" when the level holds item index; otherwise the refusal.
std::string ItemIndexRefusal(const Ttrlevel& L, int64_t index);

} // namespace qm
