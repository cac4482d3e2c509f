// How SIGINT, SIGTERM and SIGHUP end a run: the hidden names of the stores
// under way are removed and the kept notes are written to standard output,
// then the run ends as the signal would have ended it. And SIGXFSZ is kept
// from ending a store.
//
// The handler may run on any thread at any moment, so all it touches is
// static and it calls only async-signal-safe functions. Every name it removes
// is made and recorded, or handed over or removed and forgotten, inside a
// TNameSection: that thread holds the signals back meanwhile, and the handler,
// on whichever other thread it runs, first waits until no section is under
// way. A section that would begin after that waits for the end of the process
// instead. The notes are kept inside sections too, so the handler never sees
// half a list.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "posix_file.h"

namespace qm {

namespace detail {

struct TNote {
    std::atomic<TNote*> Next{nullptr};
    std::string Text;
};

} // namespace detail

using detail::TNameSection;
using detail::TNote;
using detail::TSignalsBlocked;

namespace {

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CleanupSignalCount = 3;

// One hidden name to remove. Armed is set only after the name and folder are
// written, and cleared before they change.
struct TPending {
    char Name[NAME_MAX + 1];        // NUL-terminated
    std::atomic<int> Folder{-1};    // the descriptor of the folder it is in
    std::atomic<int> Armed{0};      // 1 while Name names a store's file
    std::atomic<bool> Taken{false}; // the place belongs to a store
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads these");
static_assert(std::atomic<TNote*>::is_always_lock_free, "the signal handler reads these");
// A store has at most two names at once (its own and a backup's); far more
// places than the most levels a run works on side by side.
constexpr int PendingSlots = 1024;
TPending GPending[PendingSlots];

// The sections under way, and whether a signal is ending the run (set by
// its handler before it waits for the sections; a section checks it after
// counting itself in, so one of the two always sees the other).
std::atomic<int> GInSection{0};
std::atomic<int> GEnding{0};
std::atomic<int> GEndingDone{0}; // the handler that ends the run has removed and written

// The notes, in the order they were kept. Changed only inside sections.
std::atomic<TNote*> GFirstNote{nullptr};
TNote* GLastNote = nullptr;
std::mutex GNoteTurn; // taken only inside sections

struct sigaction GPrevious[CleanupSignalCount];
volatile sig_atomic_t GInstalled[CleanupSignalCount];

// How many TInterruptHandling and TFileSizeSignalIgnored are in place: the
// first installs, the last puts back what was there.
std::mutex GInstallTurn;
int GCleanupUsers = 0;
std::atomic<int> GHandlingInPlace{0}; // GCleanupUsers, for the notes
int GFileSizeUsers = 0;
struct sigaction GFileSizePrevious;
bool GFileSizeChanged = false;

void PauseBriefly() {
    struct timespec pause {0, 1000000};
    ::nanosleep(&pause, nullptr);
}

void WriteAll(int fd, const char* text, size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd, text, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        text += put;
        n -= static_cast<size_t>(put);
    }
}

// Removes every recorded name and writes the notes; runs once no section is
// under way, and no new one begins.
void RemoveNamesAndWriteNotes() {
    for (TPending& p : GPending)
        if (p.Armed.exchange(0) != 0)
            ::unlinkat(p.Folder.load(), p.Name, 0);
    for (const TNote* n = GFirstNote.load(); n != nullptr; n = n->Next.load())
        WriteAll(STDOUT_FILENO, n->Text.data(), n->Text.size());
}

void EndRunOnSignal(int sig) {
    const int savedErrno = errno;
    if (GEnding.exchange(1) == 0) {
        GEndingDone = 0;
        while (GInSection.load() != 0)
            PauseBriefly();
        RemoveNamesAndWriteNotes();
        GEndingDone = 1;
    } else {
        // A second signal, on another thread, ends the run only once the
        // first one's handler is done.
        while (GEndingDone.load() == 0)
            PauseBriefly();
    }
    // The run then ends as the signal would have ended it without us: the
    // earlier disposition comes back and the signal is raised again (it is
    // delivered as soon as this handler returns). A handler of the program's
    // own may let the run go on; the stores then go on too (their names are
    // gone, so they fail).
    for (int i = 0; i < CleanupSignalCount; ++i) {
        if (CleanupSignals[i] == sig && GInstalled[i] != 0) {
            const bool ends = (GPrevious[i].sa_flags & SA_SIGINFO) == 0 && GPrevious[i].sa_handler == SIG_DFL;
            ::sigaction(sig, &GPrevious[i], nullptr);
            GInstalled[i] = 0;
            if (!ends)
                GEnding = 0;
        }
    }
    ::raise(sig);
    errno = savedErrno;
}

void InstallHandlers() {
    for (int i = 0; i < CleanupSignalCount; ++i) {
        struct sigaction old {};
        if (::sigaction(CleanupSignals[i], nullptr, &old) != 0 ||
            ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN))
            continue;
        GPrevious[i] = old;
        struct sigaction act {};
        act.sa_handler = EndRunOnSignal;
        ::sigemptyset(&act.sa_mask);
        for (int sig : CleanupSignals)
            ::sigaddset(&act.sa_mask, sig);
        act.sa_flags = SA_RESTART;
        if (::sigaction(CleanupSignals[i], &act, nullptr) == 0)
            GInstalled[i] = 1;
    }
}

void RestoreHandlers() {
    for (int i = 0; i < CleanupSignalCount; ++i) {
        if (GInstalled[i] != 0)
            ::sigaction(CleanupSignals[i], &GPrevious[i], nullptr);
        GInstalled[i] = 0;
    }
}

// Drops the notes: unlinked inside a section, freed outside it.
void DropNotes() {
    TNote* first;
    {
        TNameSection section;
        std::lock_guard<std::mutex> turn(GNoteTurn);
        first = GFirstNote.exchange(nullptr);
        GLastNote = nullptr;
    }
    while (first != nullptr)
        delete std::exchange(first, first->Next.load());
}

} // namespace

namespace detail {

TSignalsBlocked::TSignalsBlocked() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int sig : CleanupSignals)
        ::sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &Old_);
}

TSignalsBlocked::~TSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &Old_, nullptr); }

TNameSection::TNameSection() {
    for (;;) {
        GInSection.fetch_add(1);
        if (GEnding.load() == 0)
            return;
        GInSection.fetch_sub(1);
        // A signal is ending the run: this thread waits for its end.
        while (GEnding.load() != 0)
            PauseBriefly();
    }
}

TNameSection::~TNameSection() { GInSection.fetch_sub(1); }

TRemovalName::TRemovalName(const std::string& where) : Slot_(-1) {
    for (int i = 0; i < PendingSlots && Slot_ < 0; ++i)
        if (!GPending[i].Taken.exchange(true))
            Slot_ = i;
    if (Slot_ < 0)
        throw EInOutError(EInOutError::TooManyOpenFiles, where);
}

TRemovalName::~TRemovalName() {
    if (GPending[Slot_].Armed.load() != 0) {
        TNameSection section;
        Forget(section);
    }
    GPending[Slot_].Taken = false;
}

void TRemovalName::Record(const TNameSection&, int folderFd, const char* name) {
    TPending& p = GPending[Slot_];
    p.Armed = 0;
    const size_t n = ::strnlen(name, NAME_MAX);
    std::memcpy(p.Name, name, n);
    p.Name[n] = '\0';
    p.Folder = folderFd;
    p.Armed = 1;
}

void TRemovalName::Forget(const TNameSection&) { GPending[Slot_].Armed = 0; }

TPreparedNote::TPreparedNote(const std::string& text) : Note_(text.empty() ? nullptr : new TNote{{}, text}) {}

TPreparedNote::~TPreparedNote() { delete Note_; }

void TPreparedNote::Keep(const TNameSection&) {
    std::lock_guard<std::mutex> turn(GNoteTurn);
    // Without a handling in place the note would never be written.
    if (Note_ == nullptr || GHandlingInPlace.load() == 0)
        return;
    TNote* note = std::exchange(Note_, nullptr);
    if (GLastNote != nullptr)
        GLastNote->Next = note;
    else
        GFirstNote = note;
    GLastNote = note;
}

TFileSizeSignalIgnored::TFileSizeSignalIgnored() {
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (GFileSizeUsers++ > 0)
        return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    GFileSizeChanged = ::sigaction(SIGXFSZ, &ignore, &GFileSizePrevious) == 0;
}

TFileSizeSignalIgnored::~TFileSizeSignalIgnored() {
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (--GFileSizeUsers == 0 && GFileSizeChanged)
        ::sigaction(SIGXFSZ, &GFileSizePrevious, nullptr);
}

} // namespace detail

TInterruptHandling::TInterruptHandling() {
    TSignalsBlocked blocked;
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (GCleanupUsers++ == 0)
        InstallHandlers();
    GHandlingInPlace = GCleanupUsers;
}

TInterruptHandling::~TInterruptHandling() {
    TSignalsBlocked blocked;
    std::lock_guard<std::mutex> turn(GInstallTurn);
    GHandlingInPlace = --GCleanupUsers;
    if (GCleanupUsers > 0)
        return;
    RestoreHandlers();
    DropNotes();
}

void KeepInterruptNote(const std::string& text) {
    detail::TPreparedNote note(text);
    TNameSection section;
    note.Keep(section);
}

} // namespace qm
