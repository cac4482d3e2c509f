#include "version.h"

#include "jsonvalue.h"

namespace qm {

std::string VersionLine(const TBuildId& build) {
    std::string line = "Quillmap ";
    line.append(build.Version);
    if (!build.Commit.empty()) line.append(" (").append(build.Commit).append(")");
    return line;
}

TJson VersionDocument(const TBuildId& build) {
    TJson document{{"format", 1}, {"version", build.Version}};
    if (!build.Commit.empty()) document["commit"] = build.Commit;
    return document;
}

} // namespace qm
