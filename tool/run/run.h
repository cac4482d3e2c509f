// The tool's run flow: banner, help, checks, dispatch, load, work, save, and the
// error report. Returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "result.h"

namespace qm {

// args are the arguments after the program name. Every error ends here, an
// exception nobody expected included: the error report goes to out and the
// result is ExitError; an error in the command given gives ExitUserError,
// every other end ExitDone. When saved is given, it tells
// whether the level was written back (a later failure does not undo that).
// With keepLevel the level object is never released: the process is about to
// end, and handing megabytes of blocks back one by one would only cost time.
// When errorReport is given, it receives the lines of the error report (the
// message, and the place when known), so that they can also be said elsewhere
// when out cannot be written; it stays empty when the run ends without one.
int RunTool(const std::vector<std::string>& args, TConsole& out, bool keepLevel = false, bool* saved = nullptr,
            std::vector<std::string>* errorReport = nullptr);

} // namespace qm
