// One level's part of a run, and what the stages of a run share (run.cpp).
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "jsonout.h"
#include "options.h"
#include "trlevel.h"

namespace qm {

// The five lines every run but --version and --json starts with.
void Banner(TConsole& out);
// The full help, after the banner.
void Help(TConsole& out);
// Ends a run with a one-line user error.
int Refuse(TConsole& out, const std::string& message);
// A function switch of the tool, in any letter case ("/Info").
bool IsFunctionSwitch(const std::string& text);
// "/h" in any case, and "/?".
bool IsHelpSwitch(const std::string& arg);

// One level: levelArgs is the level's name, then the function switch and its
// arguments, as a run of this level alone gets them. The existence test, the
// function and its save; an error ends this level only and is reported to out.
// With result, a function that has a JSON form puts it there instead of
// printing it. Returns the level's exit status.
int RunLevel(const std::vector<std::string>& levelArgs, const TOptions& options, TConsole& out, Ttrlevel& level,
             bool* saved, TJson* result);

} // namespace qm
