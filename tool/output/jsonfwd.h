// The tool's JSON value by name only, for headers: a unit that passes documents
// along without building or reading them does not compile the JSON library.
// The units that do include jsonvalue.h.
#pragma once

#include <nlohmann/json_fwd.hpp>

namespace qm {

using TJson = nlohmann::ordered_json;

} // namespace qm
