// The edit lock on POSIX systems: flock on a descriptor opened for reading.
// flock belongs to the open file description, so the loader opening and
// closing the same file meanwhile does not let it go (a POSIX record lock
// would be), and an exclusive flock needs no write access: a level that may
// be read but not written still loads and is refused only when saving.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lock.h"

namespace qm::detail {

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

} // namespace

bool OpenLockTarget(const std::string& name, TLockTarget& target) {
    // Opening does not wait (a FIFO without a writer would block).
    int fd;
    do
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    target.Handle = fd;
    target.Device = static_cast<uint64_t>(st.st_dev);
    target.FileId = static_cast<uint64_t>(st.st_ino);
    return true;
}

TLockTry TryLock(const TLockTarget& target) {
    if (::flock(Fd(target.Handle), LOCK_EX | LOCK_NB) == 0)
        return TLockTry::Taken;
    // Where the file cannot be locked, the edit goes on unlocked, still
    // guarded by the store's check for a level changed on disk.
    return LockTryOfError(errno);
}

bool StillNames(const std::string& name, const TLockTarget& target) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == target.Device &&
           static_cast<uint64_t>(st.st_ino) == target.FileId;
}

void CloseLockTarget(intptr_t handle, bool) noexcept {
    // Closing the only descriptor of the open file description releases
    // the lock.
    if (handle != -1)
        ::close(Fd(handle));
}

} // namespace qm::detail
