// The edit lock on Windows: a named mutex per file, its name made of the
// file's volume serial number and file index. No handle of the level itself
// is held, so nothing the lock does can stand in the way of the save's
// replace, of the loader's own open, or of other programs.
#include <string>

#include "lock.h"
#include "win32_file.h"

namespace qm::detail {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The identity of the file name leads to (through symbolic links); false when
// there is no such file or it cannot be asked.
bool IdentityOf(const std::string& name, uint64_t& device, uint64_t& fileId) {
    try {
        THandle h(OpenForQuery(Wide(name, {})));
        if (!h.Valid())
            return false;
        const TFileStamp stamp = StampOfHandle(h.Get(), {});
        device = stamp.Device;
        fileId = stamp.FileId;
        return true;
    } catch (const EQuillError&) {
        return false;
    }
}

// The mutex of one file. In the global namespace, so that runs in other
// sessions of this machine take turns too.
std::wstring MutexName(uint64_t device, uint64_t fileId) {
    std::wstring name = L"Global\\Quillmap.edit";
    for (const uint64_t part : {device, fileId}) {
        name += L'.';
        for (int shift = 60; shift >= 0; shift -= 4)
            name += L"0123456789abcdef"[(part >> shift) & 15];
    }
    return name;
}

} // namespace

bool OpenLockTarget(const std::string& name, TLockTarget& target) {
    if (!IdentityOf(name, target.Device, target.FileId))
        return false;
    const HANDLE h = ::CreateMutexW(nullptr, FALSE, MutexName(target.Device, target.FileId).c_str());
    if (h == nullptr)
        return false;
    target.Handle = reinterpret_cast<intptr_t>(h);
    return true;
}

TLockTry TryLock(const TLockTarget& target) {
    switch (::WaitForSingleObject(AsHandle(target.Handle), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its holder ended without letting go: the lock is ours now
        return TLockTry::Taken;
    case WAIT_TIMEOUT:
        return TLockTry::Busy;
    default:
        return TLockTry::Unsupported;
    }
}

bool StillNames(const std::string& name, const TLockTarget& target) {
    uint64_t device = 0, fileId = 0;
    return IdentityOf(name, device, fileId) && device == target.Device && fileId == target.FileId;
}

void CloseLockTarget(intptr_t handle, bool held) noexcept {
    if (handle == -1)
        return;
    if (held)
        ::ReleaseMutex(AsHandle(handle));
    ::CloseHandle(AsHandle(handle));
}

} // namespace qm::detail
