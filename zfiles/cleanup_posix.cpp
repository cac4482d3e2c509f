// Removing the hidden temporary file of a store when SIGINT, SIGTERM or SIGHUP
// ends the run, and keeping SIGXFSZ from ending it.
//
// The handler may run at any moment, so all it touches is static, and it
// calls only async-signal-safe functions. The name is recorded and forgotten
// with the signals blocked, so the handler never sees half a name and never
// removes a name that is not (or no longer) ours. Several stores may run at
// once, one per thread: each records its name in a slot of its own, and the
// handlers are in place while any store runs.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "posix_file.h"

namespace qm::detail {

namespace {

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CleanupSignalCount = 3;

// The hidden name of one running store. Armed is set only after the name
// and folder are written, and cleared before they change.
struct TPending {
    char Name[NAME_MAX + 1];        // NUL-terminated
    std::atomic<int> Folder{-1};    // the descriptor of the folder it is in
    std::atomic<int> Armed{0};      // 1 while Name names a store's file
    std::atomic<bool> Taken{false}; // the slot belongs to a thread's store
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads these");
constexpr int PendingSlots = 64;
TPending GPending[PendingSlots];
thread_local int GMySlot = -1;  // the slot of this thread's store, or -1

struct sigaction GPrevious[CleanupSignalCount];
volatile sig_atomic_t GInstalled[CleanupSignalCount];

// How many stores have the handlers (or SIGXFSZ ignored) in place: the first
// installs, the last puts back what was there.
std::mutex GInstallTurn;
int GCleanupUsers = 0;
int GFileSizeUsers = 0;
struct sigaction GFileSizePrevious;
bool GFileSizeChanged = false;

void RemoveTemporaryOnSignal(int sig) {
    const int savedErrno = errno;
    for (TPending& p : GPending)
        if (p.Armed.exchange(0) != 0)
            ::unlinkat(p.Folder.load(), p.Name, 0);
    // The run then ends as the signal would have ended it without us: the
    // earlier disposition comes back and the signal is raised again (it is
    // delivered as soon as this handler returns).
    for (int i = 0; i < CleanupSignalCount; ++i) {
        if (CleanupSignals[i] == sig && GInstalled[i] != 0) {
            ::sigaction(sig, &GPrevious[i], nullptr);
            GInstalled[i] = 0;
        }
    }
    ::raise(sig);
    errno = savedErrno;
}

} // namespace

TSignalsBlocked::TSignalsBlocked() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int sig : CleanupSignals)
        ::sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &Old_);
}

TSignalsBlocked::~TSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &Old_, nullptr); }

TSignalCleanup::TSignalCleanup() {
    TSignalsBlocked blocked;
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (GCleanupUsers++ > 0)
        return;
    for (int i = 0; i < CleanupSignalCount; ++i) {
        struct sigaction old {};
        if (::sigaction(CleanupSignals[i], nullptr, &old) != 0 ||
            ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN))
            continue;
        GPrevious[i] = old;
        struct sigaction act {};
        act.sa_handler = RemoveTemporaryOnSignal;
        ::sigemptyset(&act.sa_mask);
        for (int sig : CleanupSignals)
            ::sigaddset(&act.sa_mask, sig);
        act.sa_flags = SA_RESTART;
        if (::sigaction(CleanupSignals[i], &act, nullptr) == 0)
            GInstalled[i] = 1;
    }
}

TSignalCleanup::~TSignalCleanup() {
    TSignalsBlocked blocked;
    Forget();
    std::lock_guard<std::mutex> turn(GInstallTurn);
    if (--GCleanupUsers > 0)
        return;
    for (int i = 0; i < CleanupSignalCount; ++i) {
        if (GInstalled[i] != 0)
            ::sigaction(CleanupSignals[i], &GPrevious[i], nullptr);
        GInstalled[i] = 0;
    }
}

void TSignalCleanup::Record(int folderFd, const std::string& name) {
    // A name too long for the buffer is not recorded (no file system would
    // accept it as a file name anyway), nor one beyond the slots.
    if (name.size() >= sizeof GPending[0].Name)
        return;
    if (GMySlot < 0) {
        for (int i = 0; i < PendingSlots && GMySlot < 0; ++i)
            if (!GPending[i].Taken.exchange(true))
                GMySlot = i;
        if (GMySlot < 0)
            return;
    }
    TPending& p = GPending[GMySlot];
    p.Armed = 0;
    std::memcpy(p.Name, name.c_str(), name.size() + 1);
    p.Folder = folderFd;
    p.Armed = 1;
}

void TSignalCleanup::Forget() {
    if (GMySlot < 0)
        return;
    GPending[GMySlot].Armed = 0;
    GPending[GMySlot].Taken = false;
    GMySlot = -1;
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

} // namespace qm::detail
