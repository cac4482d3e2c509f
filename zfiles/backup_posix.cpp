// The backup a POSIX store keeps: the file it replaces gets a hidden second
// name beside the backup before anything is written, and that name replaces
// the backup right after the store's rename (store_posix.cpp). The older
// backup is touched only then. Where no second name can be made (a file
// system without hard links, a level on another file system than its link),
// the hidden file is a copy, flushed to disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "store_posix.h"

namespace qm::detail {

namespace {

// Refuses a backup name that a rename would replace although it should not:
// a write-protected file (as the store refuses a write-protected target), a
// folder, or anything else that is no regular file. A symbolic link is
// replaced itself, as a name; a missing name passes.
void CheckBackupReplaceable(const TBackup& b) {
    struct stat st;
    if (::fstatat(b.Folder.Get(), b.Base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return;
        ThrowErrno("looking up " + b.Name);
    }
    const char* why = nullptr;
    if (S_ISDIR(st.st_mode))
        why = "a folder";
    else if (S_ISLNK(st.st_mode))
        return;
    else if (!S_ISREG(st.st_mode))
        why = "not a regular file";
    else if ((st.st_mode & S_IWUSR) == 0)
        why = "write-protected";
    if (why == nullptr) {
        CheckReplaceableAt(b.Folder.Get(), b.Base, "keeping the backup " + b.Name + ", which may not be replaced");
        return;
    }
    throw EInOutError(EInOutError::AccessDenied,
                      "keeping the backup " + b.Name + ", which is " + why + "; nothing was saved");
}

// The errors of a link that say this file system, or this pair of folders,
// cannot give the file a second name: a copy is made instead.
bool NoLinkHere(int error) {
    return error == EXDEV || error == EPERM || error == EMLINK || error == ENOTSUP || error == EOPNOTSUPP ||
           error == ENOSYS;
}

void RefuseChanged(const std::string& levelName) { ThrowChangedOnDisk("keeping the backup of " + levelName); }

// 0 when the file open as fd is the expected one.
bool IsExpected(int fd, const TFileStamp& expected) {
    struct stat st;
    return !expected.Known || (::fstat(fd, &st) == 0 && StampOf(st) == expected);
}

// The hidden name as a second name of the target's file. 0, or the error of
// the link.
int LinkBackup(TBackup& b, const TTarget& target) {
    const int from = target.Folder.Get(), to = b.Folder.Get();
    return TryHiddenName(to, HiddenStem(b.Base), b.Removal, b.Hidden, [&](const std::string& base) {
        return SectionCall(TStoreStep::BackupLink, from,
                           [&] { return ::linkat(from, target.Base.c_str(), to, base.c_str(), 0); });
    });
}

// Copies everything from one open file to the other.
void CopyBytes(int from, int to, const std::string& reading, const std::string& writing) {
    std::vector<char> piece(WritePiece);
    for (;;) {
        const ssize_t got = ::read(from, piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ThrowErrno(reading);
        if (got == 0)
            return;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, piece.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                ThrowErrno(writing);
            if (put == 0)
                throw EInOutError(EInOutError::DiskFull, writing);
            done += put;
        }
    }
}

// The hidden file as a copy of the target's file, with its permission bits,
// flushed to disk.
void CopyBackup(TBackup& b, const TTarget& target, const std::string& levelName, const TFileStamp& expected) {
    const std::string reading = "reading " + target.Name;
    TFd source(::openat(target.Folder.Get(), target.Base.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (source.Get() < 0)
        ThrowErrno(reading);
    if (!IsExpected(source.Get(), expected))
        RefuseChanged(levelName);
    const std::string where = "creating the backup in " + b.FolderName;
    TFd copy;
    const int folder = b.Folder.Get();
    b.Hidden = TakeHiddenName(folder, HiddenStem(b.Base), b.Removal, where, [&](const std::string& base) {
        const int fd = SectionCall(TStoreStep::BackupCopy, folder, [&] {
            return ::openat(folder, base.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        });
        copy.Reset(fd);
        return fd;
    });
    const std::string writing = "writing " + b.FolderName + "/" + b.Hidden;
    CopyBytes(source.Get(), copy.Get(), reading, writing);
    if (::fchmod(copy.Get(), target.Original.st_mode & 0777) != 0 || ::fsync(copy.Get()) != 0 || copy.Close() != 0)
        ThrowErrno(writing);
    if (!IsExpected(source.Get(), expected))
        RefuseChanged(levelName);
}

} // namespace

TBackup::TBackup(const std::string& name)
    : Name(name), FolderName(DirectoryOf(name)), Base(BaseOf(name)), Removal("keeping the backup " + name) {}

void PrepareBackup(TBackup& b, const TTarget& target, const std::string& levelName, const TFileStamp& expected) {
    b.Folder.Reset(OpenFolder(AT_FDCWD, b.FolderName, b.Name));
    if (b.Base.empty())
        throw EInOutError(EInOutError::AccessDenied, "keeping the backup " + b.Name);
    CheckBackupReplaceable(b);
    if (!target.Exists)
        return;
    const std::string where = "keeping the backup of " + levelName + " in " + b.FolderName;
    if (const int error = LinkBackup(b, target); error != 0) {
        if (!NoLinkHere(error))
            throw ErrorFromErrno(error, where);
        CopyBackup(b, target, levelName, expected);
        return;
    }
    // The link is of the file now under the name: it must be the one loaded.
    struct stat st;
    if (::fstatat(b.Folder.Get(), b.Hidden.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        ThrowErrno(where);
    if (expected.Known && StampOf(st) != expected)
        RefuseChanged(levelName);
}

int PutBackupInPlace(const TNameSection& section, TBackup& b) {
    if (b.Hidden.empty())
        return 0;
    const int folder = b.Folder.Get();
    // rename() between two names of one file does nothing and succeeds: the
    // backup already holds that file, and the hidden name just goes.
    struct stat hidden, older;
    int error = 0;
    if (::fstatat(folder, b.Hidden.c_str(), &hidden, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstatat(folder, b.Base.c_str(), &older, AT_SYMLINK_NOFOLLOW) == 0 && hidden.st_dev == older.st_dev &&
        hidden.st_ino == older.st_ino) {
        ::unlinkat(folder, b.Hidden.c_str(), 0);
    } else if (SectionCall(TStoreStep::BackupRename, folder, [&] {
                   return ::renameat(folder, b.Hidden.c_str(), folder, b.Base.c_str());
               }) != 0) {
        error = errno;
        ::unlinkat(folder, b.Hidden.c_str(), 0);
    }
    b.Removal.Forget(section);
    b.Hidden.clear(); // keeps its buffer: nothing is freed here
    return error;
}

void RemoveBackup(TBackup& b) {
    if (b.Hidden.empty())
        return;
    TNameSection section;
    ::unlinkat(b.Folder.Get(), b.Hidden.c_str(), 0);
    b.Removal.Forget(section);
    b.Hidden.clear();
}

} // namespace qm::detail
