// quillmap: reports on, lists and edits TR level files.
//
// Every argument, and so every file name, is UTF-8 inside the tool on every
// system. On Windows the command line is taken in wide characters (the narrow
// one holds only what the ANSI code page can say, losing e.g. Japanese names
// on a European system) and converted here, once.
#include <cstdio>
#include <string>
#include <vector>

#include "console.h"
#include "run.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace qm {
namespace {

#ifdef _WIN32

std::string Utf8(const wchar_t* wide) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
    utf8.pop_back(); // the terminating NUL
    return utf8;
}

// The arguments after the program name, in UTF-8. Empty only when Windows
// cannot split the command line at all (out of memory).
bool WideArguments(std::vector<std::string>& args) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return false;
    for (int i = 1; i < count; ++i)
        args.push_back(Utf8(wide[i]));
    ::LocalFree(wide);
    return true;
}

// Messages echo file names as UTF-8 bytes, the same bytes as on other
// systems. Written to a console window they show right only with the UTF-8
// output code page, which is set for the run and put back afterwards; output
// to a file or pipe is not affected by it either way.
class TUtf8ConsoleWindow {
public:
    TUtf8ConsoleWindow() {
        DWORD mode = 0;
        if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
            Saved_ = ::GetConsoleOutputCP();
            if (Saved_ == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8))
                Saved_ = 0;
        }
    }
    TUtf8ConsoleWindow(const TUtf8ConsoleWindow&) = delete;
    TUtf8ConsoleWindow& operator=(const TUtf8ConsoleWindow&) = delete;
    ~TUtf8ConsoleWindow() {
        if (Saved_ != 0)
            ::SetConsoleOutputCP(Saved_);
    }

private:
    UINT Saved_ = 0;
};

#else

// A standard stream that the caller closed keeps its descriptor taken, by
// /dev/null opened for reading only: otherwise the next file the tool opens (the
// level, or the temporary file of a save) would get that number, and lines meant
// for standard output would land in it. Writes to it fail, and are reported.
void ReserveStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        const int spare = ::open("/dev/null", O_RDONLY);
        if (spare >= 0 && spare != fd) ::close(spare);
    }
}

#endif

// A run whose standard output could not be written has failed, whatever it did
// otherwise: say so where it can still be heard, whether the level was saved,
// and the run's own error report, which standard output lost with the rest.
int FinishOutput(const TStreamConsole& out, int status, bool saved, const std::vector<std::string>& errorReport) {
    if (!out.Failed()) return status;
    TStreamConsole err(stderr);
    err.Line(saved ? "quillmap: could not write to standard output; the level was saved."
                   : "quillmap: could not write to standard output.");
    for (const std::string& line : errorReport) err.Line(line);
    return ExitError;
}

} // namespace
} // namespace qm

int main(int argc, char** argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    const qm::TUtf8ConsoleWindow utf8Console;
    if (!qm::WideArguments(args))
        args.assign(argv + 1, argv + argc);
#else
    qm::ReserveStandardDescriptors();
    // A closed pipe fails the write (and is reported) instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);
    args.assign(argv + 1, argv + argc);
#endif
    qm::TStreamConsole out(stdout);
    bool saved = false;
    std::vector<std::string> errorReport;
    const int status = qm::RunTool(args, out, /*keepLevel=*/true, &saved, &errorReport);
    return qm::FinishOutput(out, status, saved, errorReport);
}
