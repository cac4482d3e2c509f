// How far apart two words are, for the "did you mean ...?" lines.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

// The number of single-character edits (insert, delete, replace) between a and b.
size_t EditDistance(const std::string& a, const std::string& b);

} // namespace qm
