// The waiting part of the edit lock, the same on every system: attempts
// without blocking, spaced by short pauses, so that the run can say once that
// it is waiting and then go on waiting.
#include "lock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace qm {

using namespace detail;

std::function<int()> GLockFaultHook;

TLockTry detail::LockTryOfError(int error) {
    return error == EWOULDBLOCK || error == EAGAIN || error == EINTR ? TLockTry::Busy : TLockTry::Unsupported;
}

namespace {

using TClock = std::chrono::steady_clock;

// The pauses between attempts start short, so that a run waiting behind a
// quick edit goes on almost at once, and grow to a small ceiling.
constexpr auto FirstPause = std::chrono::microseconds(500);
constexpr auto LongestPause = std::chrono::milliseconds(10);

// Waits for the lock of target. True when it is held, false when the system
// cannot lock the file.
bool WaitForLock(const TLockTarget& target, TClock::time_point started, bool& noticed,
                 const std::function<void()>& onLongWait, bool& busy, const std::function<void()>& onBusy) {
    auto pause = std::chrono::duration_cast<TClock::duration>(FirstPause);
    for (;;) {
        const int injected = GLockFaultHook ? GLockFaultHook() : 0;
        switch (injected != 0 ? LockTryOfError(injected) : TryLock(target)) {
        case TLockTry::Taken: return true;
        case TLockTry::Unsupported: return false;
        case TLockTry::Busy: break;
        }
        if (!busy) {
            busy = true;
            if (onBusy)
                onBusy();
        }
        if (!noticed && TClock::now() - started >= std::chrono::milliseconds(EditLockNoticeMs)) {
            noticed = true;
            if (onLongWait)
                onLongWait();
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<TClock::duration>(pause * 2, LongestPause);
    }
}

// Closes an open target that is not kept, also when waiting for it throws.
struct TOpenTarget {
    explicit TOpenTarget(TLockTarget& target) : Target(target) {}
    TOpenTarget(const TOpenTarget&) = delete;
    TOpenTarget& operator=(const TOpenTarget&) = delete;
    ~TOpenTarget() {
        if (Target.Handle != -1)
            CloseLockTarget(Target.Handle, Held);
    }
    TLockTarget& Target;
    bool Held = false;
};

} // namespace

TEditLock::TEditLock(const std::string& name, const std::function<void()>& onLongWait,
                     const std::function<void()>& onBusy) {
    const TClock::time_point started = TClock::now();
    bool noticed = false, busy = false;
    // The run holding the lock may replace the file before it lets go (its
    // save renames a new file over the level). The lock then taken is that of
    // the old file, which nobody edits any more: it is dropped, and the lock
    // of the file now under the name is taken instead.
    for (;;) {
        TLockTarget target;
        if (!OpenLockTarget(name, target))
            return;
        TOpenTarget open(target);
        if (!WaitForLock(target, started, noticed, onLongWait, busy, onBusy))
            return;
        open.Held = true;
        if (StillNames(name, target)) {
            Handle_ = std::exchange(target.Handle, -1);
            return;
        }
    }
}

TEditLock::~TEditLock() {
    if (Held())
        CloseLockTarget(Handle_, true);
}

} // namespace qm
