// The tool's run flow: banner, help, checks, dispatch, load, work, save, and the
// error report. Returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "console.h"

namespace qm {

// Exit statuses of a run.
constexpr int ExitDone = 0;       // the job was done (the help included)
constexpr int ExitError = 1;      // an error report
constexpr int ExitUserError = 2;  // a one-line user error

// args are the arguments after the program name. Every error ends here: the
// error report goes to out and the result is ExitError; a one-line user error
// gives ExitUserError, every other end ExitDone. When saved is given, it tells
// whether the level was written back (a later failure does not undo that).
// With keepLevel the level object is never released: the process is about to
// end, and handing megabytes of blocks back one by one would only cost time.
// When errorReport is given, it receives the lines of the error report (the
// message, and the place when known), so that they can also be said elsewhere
// when out cannot be written; it stays empty when the run ends without one.
int RunTool(const std::vector<std::string>& args, TConsole& out, bool keepLevel = false, bool* saved = nullptr,
            std::vector<std::string>* errorReport = nullptr);

} // namespace qm
