// Edits of one level take turns: a run that is going to change a level holds
// the level's edit lock from before it reads the level until after its save
// has put the new file in place. A second edit waits for the lock and then
// loads the level as the first one left it.
//
// The lock is advisory: it binds only runs that take it. It belongs to the
// file the name leads to (through symbolic links), not to the name, so two
// names of one file share it. Where the system cannot lock that file (some
// network file systems), the run goes on without the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qm {

// How long a run waits for the lock before it says that it is waiting.
constexpr int EditLockNoticeMs = 3000;

class TEditLock {
public:
    // Waits until no other run holds the lock of the file name leads to, then
    // holds it. onLongWait is called once when the wait has lasted
    // EditLockNoticeMs, and the wait goes on; onBusy once when the first
    // attempt finds the lock held by another run, before the wait. When the
    // file cannot be opened (missing, not readable, not a regular file)
    // nothing is held: loading then reports the problem as it always has.
    explicit TEditLock(const std::string& name, const std::function<void()>& onLongWait = {},
                       const std::function<void()>& onBusy = {});
    TEditLock(const TEditLock&) = delete;
    TEditLock& operator=(const TEditLock&) = delete;
    ~TEditLock();

    bool Held() const { return Handle_ != -1; }

private:
    intptr_t Handle_ = -1; // POSIX: the locked descriptor; Windows: the owned mutex
};

// Test seam: when set, called before each attempt to take the lock; a
// non-zero C error code (ENOLCK, EOPNOTSUPP, EWOULDBLOCK...) makes the attempt
// fail with that error, as the system's lock call would.
extern std::function<int()> GLockFaultHook;

namespace detail {

// The platform's part of the edit lock.

// What the lock of one file is taken on, and the identity of that file.
struct TLockTarget {
    intptr_t Handle = -1;
    uint64_t Device = 0, FileId = 0;
};

enum class TLockTry {
    Taken,      // the lock is now held
    Busy,       // another run holds it
    Unsupported // the system cannot lock this file: go on without
};

// What a failed attempt with the C error code error means: another run holds
// the lock (EWOULDBLOCK, EAGAIN, EINTR), or the system cannot lock this file
// (every other code: ENOLCK, EOPNOTSUPP, EINVAL, or EBADF where flock is
// carried out as a record lock that needs write access, as on NFS).
TLockTry LockTryOfError(int error);

// Opens what the lock of the file at name is taken on; false (nothing open)
// when the file cannot be opened as a regular file.
bool OpenLockTarget(const std::string& name, TLockTarget& target);
// One attempt to take the lock, without waiting.
TLockTry TryLock(const TLockTarget& target);
// True while name still leads to the file of target (it was not replaced).
bool StillNames(const std::string& name, const TLockTarget& target);
// Gives up the lock, when held, and closes the handle.
void CloseLockTarget(intptr_t handle, bool held) noexcept;

} // namespace detail

} // namespace qm
