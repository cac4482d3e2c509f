// quillmap: reports on, lists and edits TR level files.
//
// Every argument, and so every file name, is UTF-8 inside the tool on every
// system. On Windows the command line is taken in wide characters (the narrow
// one holds only what the ANSI code page can say, losing e.g. Japanese names
// on a European system) and converted here, once.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "console.h"
#include "platform.h"
#include "run.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>
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

std::wstring Wide(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    wide.pop_back();
    return wide;
}

// True when name matches pattern, where * stands for any run of characters and
// ? for one; letters match in either case, as Windows names do.
bool Matches(const std::wstring& pattern, const std::wstring& name) {
    size_t p = 0, n = 0, star = std::wstring::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++, resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == L'?' || ::towlower(pattern[p]) == ::towlower(name[n]))) {
            ++p, ++n;
        } else if (star != std::wstring::npos) {
            p = star + 1, n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

// The names a word with * or ? stands for, in a folder it names or the current
// one, sorted; hidden names (starting with ".") only when the pattern starts so.
std::vector<std::string> NamesMatching(const std::string& word) {
    const size_t cut = word.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? "" : word.substr(0, cut + 1);
    const std::wstring pattern = Wide(word.substr(folder.size()));
    std::vector<std::string> names;
    if (folder.find_first_of("*?") != std::string::npos || pattern.empty())
        return names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(Wide(folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (name[0] == L'.' && pattern[0] != L'.'))
            continue;
        if (Matches(pattern, name))
            names.push_back(folder + Utf8(name.c_str()));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// cmd.exe hands * and ? to the program as typed. A word with them that names
// files becomes those names, sorted, as a POSIX shell would make it; a word
// that names none, and every option and switch, stays as it is.
void ExpandWildcards(std::vector<std::string>& args) {
    std::vector<std::string> expanded;
    for (const std::string& word : args) {
        const bool pattern = word.find_first_of("*?") != std::string::npos && word[0] != '/' && word[0] != '-';
        const std::vector<std::string> names = pattern ? NamesMatching(word) : std::vector<std::string>{};
        if (names.empty())
            expanded.push_back(word);
        else
            expanded.insert(expanded.end(), names.begin(), names.end());
    }
    args.swap(expanded);
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
// A pipe whose reader has gone ("quillmap LEVEL /ShowRooms | head -1") is no
// failure: the reader has what it wanted, and the run ends as it would have,
// saying nothing more.
int FinishOutput(const TStreamConsole& out, int status, bool saved, const std::vector<std::string>& errorReport) {
    if (!out.Failed() || out.Closed()) return status;
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
    qm::ExpandWildcards(args);
#else
    qm::ReserveStandardDescriptors();
    // A closed pipe fails the write instead of ending the process, so that a
    // save under way is finished.
    std::signal(SIGPIPE, SIG_IGN);
    args.assign(argv + 1, argv + argc);
#endif
    qm::TStreamConsole out(stdout);
    // Ctrl-C or a termination signal at any moment removes the temporary files
    // of the saves under way and names the levels saved so far (their lines
    // may not have been shown yet) before the run ends.
    const qm::TInterruptHandling interruptHandling;
    bool saved = false;
    std::vector<std::string> errorReport;
    int status = qm::ExitError;
    try {
        status = qm::RunTool(args, out, /*keepLevel=*/true, &saved, &errorReport);
    } catch (...) {
        // RunTool turns every failure into its report; this is the last guard
        // against ending in std::terminate should saying it fail too.
        errorReport = {"The run ended with an unexpected error."};
        if (std::find(args.begin(), args.end(), "--json") == args.end()) out.Line(errorReport.front());
        else out.Raw("{\"format\": 1, \"levels\": [], \"error\": {\"message\": \"" + errorReport.front() + "\"}}\n");
    }
    return qm::FinishOutput(out, status, saved, errorReport);
}
