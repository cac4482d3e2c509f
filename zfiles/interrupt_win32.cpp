// How a console Ctrl-C, Ctrl-Break or close event ends a run on Windows: the
// hidden files of the stores under way are deleted and the kept notes are
// written to standard output, then the next handler (in the end the
// system's) ends the run as before.
//
// The console handler runs on a thread of its own. It takes turns with the
// stores on one lock: a store makes and records a file, or hands it over and
// forgets it, while holding the lock (TNameSection), so the handler never
// sees a file between the two. Once the handler has run, no store makes or
// hands over anything any more.
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "win32_file.h"

namespace qm {

using namespace detail;

namespace {

SRWLOCK GTurn = SRWLOCK_INIT;
// Guarded by GTurn: the files to delete, the notes, and whether a console
// event is ending the run.
std::map<uint64_t, std::wstring> GPending;
std::vector<std::string> GNotes;
bool GEnding = false;
uint64_t GNextId = 0;

// How many TInterruptHandling are in place: the first installs the handler,
// the last removes it and drops the notes.
std::mutex GInstallTurn;
std::atomic<int> GUsers{0};

void WriteNotes() {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    for (const std::string& note : GNotes) {
        DWORD put = 0;
        ::WriteFile(out, note.data(), static_cast<DWORD>(note.size()), &put, nullptr);
    }
}

BOOL WINAPI EndRunOnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        ::AcquireSRWLockExclusive(&GTurn);
        if (!GEnding) {
            GEnding = true;
            for (const auto& pending : GPending)
                ::DeleteFileW(pending.second.c_str());
            GPending.clear();
            WriteNotes();
        }
        ::ReleaseSRWLockExclusive(&GTurn);
    }
    return FALSE; // the next handler, in the end the system's, ends the run as before
}

} // namespace

namespace detail {

TNameSection::TNameSection() {
    ::AcquireSRWLockExclusive(&GTurn);
    if (GEnding) {
        ::ReleaseSRWLockExclusive(&GTurn);
        ::Sleep(INFINITE); // the run is ending
    }
}

TNameSection::~TNameSection() { ::ReleaseSRWLockExclusive(&GTurn); }

TRemovalName::TRemovalName() {
    TNameSection section;
    Id_ = ++GNextId;
}

TRemovalName::~TRemovalName() {
    TNameSection section;
    GPending.erase(Id_);
}

void TRemovalName::Record(const TNameSection&, const std::wstring& path) { GPending[Id_] = path; }

void TRemovalName::Forget(const TNameSection&) { GPending.erase(Id_); }

void KeepNote(const TNameSection&, const std::string& text) {
    if (GUsers > 0 && !text.empty())
        GNotes.push_back(text);
}

} // namespace detail

TInterruptHandling::TInterruptHandling() {
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (GUsers++ == 0)
        ::SetConsoleCtrlHandler(EndRunOnConsoleEvent, TRUE);
}

TInterruptHandling::~TInterruptHandling() {
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (--GUsers > 0)
        return;
    ::SetConsoleCtrlHandler(EndRunOnConsoleEvent, FALSE);
    TNameSection section;
    GNotes.clear();
}

void KeepInterruptNote(const std::string& text) {
    TNameSection section;
    KeepNote(section, text);
}

} // namespace qm
