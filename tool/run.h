// The tool's run flow: banner, help, checks, dispatch, load, work, save, and the
// error report. Returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "console.h"

namespace qm {

// args are the arguments after the program name. Every error ends here: the
// error report goes to out and the result is 1; every other end gives 0.
// With keepLevel the level object is never released: the process is about to
// end, and handing megabytes of blocks back one by one would only cost time.
int RunTool(const std::vector<std::string>& args, TConsole& out, bool keepLevel = false);

} // namespace qm
