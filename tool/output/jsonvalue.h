// The JSON library itself (a large header-only one), for the units that build,
// read or write documents; headers name the value through jsonfwd.h.
#pragma once

#include <nlohmann/json.hpp>

#include "jsonfwd.h"
