// The banner and the help.
#include "functable.h"
#include "runlevel.h"

namespace qm {

void Banner(TConsole& out) {
    out.Line("Quillmap V 1.0 - March 2001");
    out.Line("");
    out.Line("Some nice tools for TR levels");
    out.Line("Type Quillmap /h for get full info.");
    out.Line("");
}

void Help(TConsole& out) {
    out.Line("Sintax: Quillmap filename /<function>  From_Room To_Room");
    out.Line("");
    out.Line("<functions> availibles are:");
    for (const TFunctionRow& row : FunctionRows()) out.Line(row.Help);
    out.Line("");
    out.Line("If rooms range is not especified all rooms are assumed.");
}

// "/h" in any case, and "/?": no level file can sensibly be called by either
// name. The option spellings -h and --help are options and may stand anywhere.
bool IsHelpSwitch(const std::string& arg) { return arg == "/h" || arg == "/H" || arg == "/?"; }

} // namespace qm
