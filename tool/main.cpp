// quillmap: reports on, lists and edits TR level files.
#include <string>
#include <vector>

#include "console.h"
#include "run.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qm::TStdoutConsole out;
    return qm::RunTool(args, out);
}
