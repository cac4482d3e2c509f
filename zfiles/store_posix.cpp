// The crash-safe store on POSIX systems.
//
// The new content goes to a temporary file in the target's folder. On Linux
// that file has no name while it is written (O_TMPFILE), so a run that dies
// then leaves nothing; it is linked to a hidden name only when complete, and
// that name is renamed over the target. Where the file system has no unnamed
// files, the hidden name is made at the start. While the hidden name exists,
// SIGINT, SIGTERM and SIGHUP remove it before the run ends. Every call works
// relative to the target's open folder.
//
// A store alone takes its steps one after another: write, fsync, name, rename
// (the backup put in place in the same step), fsync of the folder. A batch
// (store_batch_posix.cpp) commits many stores in this order: every temporary
// file written in full; then all of them fsynced, together; then each named
// and renamed over its target; then each distinct folder fsynced once. So no
// target ever takes a name before its whole content is on disk, and a crash
// at any moment leaves each target wholly old or wholly new.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "store_posix.h"

namespace qm {

using detail::AskFaultHook;
using detail::CheckReplaceableAt;
using detail::ErrorFromErrno;
using detail::GuardedCall;
using detail::SectionCall;
using detail::ResolveTarget;
using detail::StampOf;
using detail::TBackup;
using detail::TPreparedStore;
using detail::TFd;
using detail::TFileSizeSignalIgnored;
using detail::TNameSection;
using detail::TPreparedNote;
using detail::TRemovalName;
using detail::TTarget;
using detail::TTemporary;
using detail::TakeHiddenName;
using detail::ThrowErrno;
using detail::WritePiece;


namespace {

// Writes the parts one after another with gathering writes: each call takes
// up to IOV_MAX pieces and at most WritePiece bytes, so a level handed over in
// thousands of pieces (its arrays where the model holds them) costs a few
// calls. Every call is a guarded one.
void WriteParts(int fd, const std::vector<const void*>& parts, const std::vector<size_t>& sizes, int64_t& written,
                const std::string& where) {
    std::vector<iovec> pieces;
    for (size_t i = 0; i < parts.size() && i < sizes.size(); ++i)
        if (sizes[i] > 0)
            pieces.push_back({const_cast<void*>(parts[i]), sizes[i]});
    for (size_t at = 0; at < pieces.size();) {
        size_t count = 0, bytes = 0;
        while (at + count < pieces.size() && count < size_t{IOV_MAX} && bytes < WritePiece)
            bytes += pieces[at + count++].iov_len;
        // The call's last piece is cut to the call's limit for this call.
        const size_t over = bytes > WritePiece ? bytes - WritePiece : 0;
        iovec& last = pieces[at + count - 1];
        last.iov_len -= over;
        const ssize_t put = GuardedCall(TStoreStep::Write, fd, written, where, [&] {
            return ::writev(fd, pieces.data() + at, static_cast<int>(count));
        });
        last.iov_len += over;
        if (put < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(where);
        }
        if (put == 0)
            throw EInOutError(EInOutError::DiskFull, where);
        written += put;
        // Past the pieces written whole, into the one written in part.
        for (size_t left = static_cast<size_t>(put); left > 0;) {
            iovec& p = pieces[at];
            const size_t n = std::min(left, p.iov_len);
            p.iov_base = static_cast<uint8_t*>(p.iov_base) + n;
            p.iov_len -= n;
            left -= n;
            if (p.iov_len == 0)
                ++at;
        }
    }
}

mode_t CurrentUmask() {
    // Linux reports the mask without changing it; elsewhere it can only be read
    // by setting it and putting it back, which is brief but not atomic.
    if (FILE* status = ::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && ::fgets(line, sizeof line, status) != nullptr)
            found = ::sscanf(line, "Umask: %o", &mask) == 1;
        ::fclose(status);
        if (found)
            return static_cast<mode_t>(mask & 0777);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// ---- the temporary file -----------------------------------------------------

std::string ProcPathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Opens a file without a name in the target's folder; -1 when the system or
// the file system cannot (the caller then makes a named one).
int OpenUnnamed(const TTarget& target) {
#ifdef O_TMPFILE
    const int folder = target.Folder.Get();
    int fd;
    try {
        do
            fd = GuardedCall(TStoreStep::CreateUnnamed, folder, 0, target.FolderName,
                             [&] { return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600); });
        while (fd < 0 && errno == EINTR);
    } catch (const EInOutError&) {
        return -1;
    }
    if (fd < 0)
        return -1;
    // The name is given through /proc; without it, the named way is taken.
    struct stat st;
    if (::lstat(ProcPathOf(fd).c_str(), &st) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
#else
    (void)target;
    return -1;
#endif
}

void CreateTemporary(const TTarget& target, TTemporary& t) {
    if (const int fd = OpenUnnamed(target); fd >= 0) {
        t.Fd.Reset(fd);
        t.Display = "a temporary file in " + target.FolderName;
        return;
    }
    const std::string where = "creating a temporary file in " + target.FolderName;
    const int folder = target.Folder.Get();
    t.Base = TakeHiddenName(folder, detail::HiddenStem(target.Base), t.Removal, where, [&](const std::string& base) {
        const int fd = SectionCall(TStoreStep::Create, folder, [&] {
            return ::openat(folder, base.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        });
        if (fd >= 0)
            t.Fd.Reset(fd);
        return fd;
    });
    t.Display = target.FolderName + "/" + t.Base;
}

// Locks the new temporary file through a second descriptor (see TTemporary).
// A file system without flock leaves it unlocked.
void HoldTemporary(TTemporary& t) {
    const int hold = ::fcntl(t.Fd.Get(), F_DUPFD_CLOEXEC, 0);
    if (hold < 0)
        return;
    t.Hold.Reset(hold);
    (void)::flock(hold, LOCK_EX | LOCK_NB);
}

void WriteContent(TTemporary& t, const std::vector<const void*>& parts, const std::vector<size_t>& sizes) {
    int64_t written = 0;
    WriteParts(t.Fd.Get(), parts, sizes, written, "writing " + t.Display);
}

// Owner first: changing it may clear set-id bits that fchmod then restores.
// Only the superuser may give a file away; when the owner cannot be kept,
// set-id bits would grant our rights to whoever runs the file, so they are
// dropped. A new file gets the usual mode under the umask.
void CopyOwnerAndMode(TTemporary& t, const TTarget& target) {
    const int fd = t.Fd.Get();
    mode_t mode = target.Exists ? (target.Original.st_mode & 07777) : (0644 & ~CurrentUmask());
    if (target.Exists) {
        bool owned = false;
        try {
            owned = GuardedCall(TStoreStep::Chown, fd, 0, "setting the owner of " + t.Display, [&] {
                return ::fchown(fd, target.Original.st_uid, target.Original.st_gid);
            }) == 0;
        } catch (const EInOutError&) {
        }
        if (!owned)
            mode &= ~mode_t{S_ISUID | S_ISGID};
    }
    const std::string where = "setting the permissions of " + t.Display;
    if (GuardedCall(TStoreStep::Chmod, fd, 0, where, [&] { return ::fchmod(fd, mode); }) != 0)
        ThrowErrno(where);
}

// Flushes the complete file to disk and returns its stamp.
TFileStamp FlushToDisk(TTemporary& t) {
    const int fd = t.Fd.Get();
    const std::string where = "flushing " + t.Display + " to disk";
    if (GuardedCall(TStoreStep::Sync, fd, 0, where, [&] { return ::fsync(fd); }) != 0)
        ThrowErrno(where);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        ThrowErrno("the identity of " + t.Display);
    return StampOf(st);
}

// Gives a complete unnamed temporary file its hidden name.
void NameTemporary(TTemporary& t, const TTarget& target) {
    if (!t.Base.empty())
        return;
    const std::string where = "naming the temporary file in " + target.FolderName;
    const int fd = t.Fd.Get(), folder = target.Folder.Get();
    const std::string proc = ProcPathOf(fd);
    t.Base = TakeHiddenName(folder, detail::HiddenStem(target.Base), t.Removal, where, [&](const std::string& base) {
        return SectionCall(TStoreStep::Link, fd, [&] {
            return ::linkat(AT_FDCWD, proc.c_str(), folder, base.c_str(), AT_SYMLINK_FOLLOW);
        });
    });
    t.Display = target.FolderName + "/" + t.Base;
}

void CloseTemporary(TTemporary& t) {
    const std::string where = "closing " + t.Display;
    if (GuardedCall(TStoreStep::Close, t.Fd.Get(), 0, where, [&] { return t.Fd.Close(); }) != 0)
        ThrowErrno(where);
}

// The last look before the name changes hands: another program that saved
// the level meanwhile keeps its file. 0 when the target is still the expected
// file, -1 when it is not, or the error of the look.
int ChangedOnDisk(const TTarget& target, const TFileStamp& expected) {
    if (!expected.Known)
        return 0;
    struct stat now;
    if (::fstatat(target.Folder.Get(), target.Base.c_str(), &now, 0) != 0)
        return errno == ENOENT ? -1 : errno;
    return StampOf(now) == expected ? 0 : -1;
}

// The look, the rename, the note and the backup's rename happen in one
// section: a signal finds the hidden names either still ours to remove or
// already the target's and the backup's, and the note kept exactly when the
// new content took the name. Nothing in the section allocates; the errors are
// thrown after it.
void RenameOverTarget(TTemporary& t, const TTarget& target, const std::string& name, const TFileStamp& expected,
                      TBackup* backup, TPreparedNote& note) {
    const std::string where = "replacing " + name;
    const int folder = target.Folder.Get();
    int changed = 0, renameError = 0, backupError = 0;
    {
        TNameSection section;
        changed = ChangedOnDisk(target, expected);
        if (changed == 0) {
            if (SectionCall(TStoreStep::Rename, folder, [&] {
                    return ::renameat(folder, t.Base.c_str(), folder, target.Base.c_str());
                }) != 0) {
                renameError = errno;
            } else {
                t.Removal.Forget(section);
                t.Base.clear();
                note.Keep(section);
                if (backup != nullptr)
                    backupError = PutBackupInPlace(section, *backup);
            }
        }
    }
    if (changed < 0)
        detail::ThrowChangedOnDisk(where);
    if (changed > 0 || renameError != 0)
        throw ErrorFromErrno(changed > 0 ? changed : renameError, where);
    if (backupError != 0)
        throw ErrorFromErrno(backupError, "keeping the backup " + backup->Name +
                                              "; the level was saved, the older backup is kept");
}

// Removes the hidden name of a store that failed.
void RemoveTemporary(TTemporary& t, const TTarget& target) {
    t.Fd.Reset();
    t.Hold.Reset();
    if (t.Base.empty())
        return;
    TNameSection section;
    ::unlinkat(target.Folder.Get(), t.Base.c_str(), 0);
    t.Removal.Forget(section);
}

} // namespace

namespace detail {

TPreparedStore::TPreparedStore(const std::string& name, const TFileStamp& expected, const TStoreKeep& keep)
    : Name(name), Target(ResolveTarget(name)), Expected(expected), Note(keep.SavedNote), Temp(Target),
      Sweep(keep.RemoveStale) {
    // A write-protected file must stay as it is, although the rename would be
    // allowed to replace it.
    CheckReplaceableAt(Target.Folder.Get(), Target.Base, "replacing " + Target.Name);
    if (!keep.BackupName.empty())
        Backup.emplace(keep.BackupName);
}

void WriteStore(TPreparedStore& s, const std::vector<const void*>& parts, const std::vector<size_t>& sizes) {
    if (s.Backup)
        PrepareBackup(*s.Backup, s.Target, s.Name, s.Expected);
    if (s.Sweep)
        RemoveStaleHidden(s.Target, s.Backup ? s.Backup->Name : s.Name + ".bak", s.Backup ? s.Backup->Hidden : "",
                          s.Listings);
    CreateTemporary(s.Target, s.Temp);
    HoldTemporary(s.Temp);
    WriteContent(s.Temp, parts, sizes);
    CopyOwnerAndMode(s.Temp, s.Target);
    struct stat st;
    if (::fstat(s.Temp.Fd.Get(), &st) != 0)
        ThrowErrno("the identity of " + s.Temp.Display);
    s.Stored = StampOf(st);
}

void FlushStore(TPreparedStore& s) { s.Stored = FlushToDisk(s.Temp); }

void PlaceStore(TPreparedStore& s) {
    NameTemporary(s.Temp, s.Target);
    CloseTemporary(s.Temp);
    RenameOverTarget(s.Temp, s.Target, s.Name, s.Expected, s.Backup ? &*s.Backup : nullptr, s.Note);
    s.Temp.Hold.Reset();
}

void DiscardStore(TPreparedStore& s) noexcept {
    RemoveTemporary(s.Temp, s.Target);
    if (s.Backup)
        RemoveBackup(*s.Backup);
}

void SyncFolder(int folder, const std::string& folderName) {
    try {
        (void)GuardedCall(TStoreStep::SyncFolder, folder, 0, folderName, [&] { return ::fsync(folder); });
    } catch (const EInOutError&) {
    }
}

} // namespace detail

TFileStamp StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                              const std::vector<size_t>& sizes, const TFileStamp& expected, const TStoreKeep& keep) {
    if (keep.Batch != nullptr)
        return keep.Batch->Prepare(keep.Slot, name, parts, sizes, expected, keep);
    detail::TPreparedStore s(name, expected, keep);
    TInterruptHandling handling;
    TFileSizeSignalIgnored sizeLimit;
    try {
        WriteStore(s, parts, sizes);
        FlushStore(s);
        PlaceStore(s);
    } catch (...) {
        DiscardStore(s);
        throw;
    }
    detail::SyncFolder(s.Target.Folder.Get(), s.Target.FolderName);
    if (s.Backup)
        detail::SyncFolder(s.Backup->Folder.Get(), s.Backup->FolderName);
    return s.Stored;
}

} // namespace qm
