// The files a run writes besides reading its levels: none may be a level of
// the run under any name, and no two levels may write the same one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "functable.h"
#include "levels.h"
#include "options.h"

namespace qm {

// True when the two names lead to one file (the same name, a symbolic link, a
// hard link, another spelling of the path).
bool SameFile(const std::string& a, const std::string& b);

// "/ExportPages": the refusal when a page file of the range is the level, or "".
std::string PagesOverLevelRefusal(const TJob& job);

// The refusal of a run in which two levels would write one file (each edit its
// level or the --output file, each "/Map" its map, each "/ExportPages" its
// first page file), before anything is done; nothing when there is none.
std::optional<TFailure> OutputClash(const std::vector<TLevelRun>& runs, const TOptions& options);

} // namespace qm
