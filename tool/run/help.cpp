// The banner and the help.
#include "functable.h"
#include "options.h"
#include "runlevel.h"

namespace qm {

void Banner(TConsole& out) {
    out.Line("Quillmap V 1.0 - March 2001");
    out.Line("");
    out.Line("Some nice tools for TR levels");
    out.Line("Type Quillmap /h for get full info.");
    out.Line("");
}

std::vector<std::string> HelpLines() {
    std::vector<std::string> lines = {"Sintax: Quillmap filename /<function>  From_Room To_Room", "",
                                      "<functions> availibles are:"};
    for (const TFunctionRow& row : FunctionRows()) lines.emplace_back(row.Help);
    lines.insert(lines.end(), {"", "If rooms range is not especified all rooms are assumed.", ""});
    const std::vector<std::string> options = OptionHelpLines();
    lines.insert(lines.end(), options.begin(), options.end());
    return lines;
}

void Help(TConsole& out) {
    for (const std::string& line : HelpLines()) out.Line(line);
}

// "/h" in any case, and "/?": no level file can sensibly be called by either
// name. The option spellings -h and --help are options and may stand anywhere.
bool IsHelpSwitch(const std::string& arg) { return arg == "/h" || arg == "/H" || arg == "/?"; }

} // namespace qm
