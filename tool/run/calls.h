// The functions of one level's run: the words after the level split where a
// word names a function, so that one run can chain several functions.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "functable.h"

namespace qm {

// levelArgs are the level's name, then the words of its functions. Each call
// is one function's arguments as a run of that function alone gets them: the
// level's name, the switch, the words up to the next word that names a
// function. The first word after the level always starts a call, a function
// or not (an unknown one is refused there); there is always at least one call.
std::vector<TArgs> FunctionCalls(const std::vector<std::string>& levelArgs);

} // namespace qm
