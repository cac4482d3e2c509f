// What the program says of itself: its version, from the build's project
// version, and the commit it was built from when the build knew it.
#pragma once

#include <string>

#include "jsonout.h"

namespace qm {

struct TBuildId {
    std::string Version;  // "1.1.0"
    std::string Commit;   // "abc1234", or empty when unknown
};

// This program's: written at build time (cmake/BuildInfo.cmake).
const TBuildId& ThisBuild();

// "Quillmap 1.1.0 (abc1234)", or "Quillmap 1.1.0" without a commit.
std::string VersionLine(const TBuildId& build);

// {"format": 1, "version": "1.1.0", "commit": "abc1234"}, the commit only when known.
TJson VersionDocument(const TBuildId& build);

} // namespace qm
