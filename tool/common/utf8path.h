// File names are UTF-8 inside the tool on every system; the standard library
// takes them as paths through this one conversion.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace qm
