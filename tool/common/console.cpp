#include "console.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qm {

TStreamConsole::TStreamConsole(std::FILE* stream) : Stream_(stream) {
#ifdef _WIN32
    // A text-mode stream would turn the CR LF into CR CR LF.
    _setmode(_fileno(stream), _O_BINARY);
#endif
}

void TStreamConsole::Line(std::string_view text) {
    if (Closed_) return;
    std::fwrite(text.data(), 1, text.size(), Stream_);
    std::fwrite("\r\n", 1, 2, Stream_);
    Flush();
}

void TStreamConsole::Raw(std::string_view text) {
    if (Closed_) return;
    std::fwrite(text.data(), 1, text.size(), Stream_);
    Flush();
}

void TStreamConsole::Flush() {
    errno = 0;
    if (std::fflush(Stream_) != 0 || std::ferror(Stream_)) Closed_ = Closed_ || errno == EPIPE;
}

bool TStreamConsole::Failed() const { return std::ferror(Stream_) != 0; }

bool TStreamConsole::Closed() const { return Closed_; }

} // namespace qm
