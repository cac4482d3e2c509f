#include "console.h"

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qm {

TStdoutConsole::TStdoutConsole() {
#ifdef _WIN32
    // A text-mode stream would turn the CR LF into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

void TStdoutConsole::Line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fwrite("\r\n", 1, 2, stdout);
    std::fflush(stdout);
}

} // namespace qm
