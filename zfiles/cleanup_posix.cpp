// Removing the hidden temporary file of a store when SIGINT, SIGTERM or SIGHUP
// ends the run, and keeping SIGXFSZ from ending it.
//
// The handler may run at any moment, so all it touches is static, and it
// calls only async-signal-safe functions. The name is recorded and forgotten
// with the signals blocked, so the handler never sees half a name and never
// removes a name that is not (or no longer) ours. One store runs at a time.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "posix_file.h"

namespace qm::detail {

namespace {

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CleanupSignalCount = 3;

char GPendingTemp[NAME_MAX + 1];              // the hidden name to remove, NUL-terminated
volatile sig_atomic_t GPendingFolder = -1;    // the descriptor of the folder it is in
volatile sig_atomic_t GPendingArmed = 0;      // 1 while GPendingTemp names our file
struct sigaction GPrevious[CleanupSignalCount];
volatile sig_atomic_t GInstalled[CleanupSignalCount];

void RemoveTemporaryOnSignal(int sig) {
    const int savedErrno = errno;
    if (GPendingArmed != 0) {
        ::unlinkat(GPendingFolder, GPendingTemp, 0);
        GPendingArmed = 0;
    }
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
    GPendingArmed = 0;
    for (int i = 0; i < CleanupSignalCount; ++i) {
        if (GInstalled[i] != 0)
            ::sigaction(CleanupSignals[i], &GPrevious[i], nullptr);
        GInstalled[i] = 0;
    }
}

void TSignalCleanup::Record(int folderFd, const std::string& name) {
    // A name too long for the buffer is not recorded (no file system would
    // accept it as a file name anyway).
    if (name.size() < sizeof GPendingTemp) {
        std::memcpy(GPendingTemp, name.c_str(), name.size() + 1);
        GPendingFolder = folderFd;
        GPendingArmed = 1;
    }
}

void TSignalCleanup::Forget() { GPendingArmed = 0; }

TFileSizeSignalIgnored::TFileSizeSignalIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    Changed_ = ::sigaction(SIGXFSZ, &ignore, &Previous_) == 0;
}

TFileSizeSignalIgnored::~TFileSizeSignalIgnored() {
    if (Changed_)
        ::sigaction(SIGXFSZ, &Previous_, nullptr);
}

} // namespace qm::detail
