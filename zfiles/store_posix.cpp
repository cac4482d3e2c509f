// The crash-safe store on POSIX systems.
//
// The new content goes to a temporary file in the target's folder. On Linux
// that file has no name while it is written (O_TMPFILE), so a run that dies
// then leaves nothing; it is linked to a hidden name only when complete, and
// that name is renamed over the target. Where the file system has no unnamed
// files, the hidden name is made at the start. While the hidden name exists,
// SIGINT, SIGTERM and SIGHUP remove it before the run ends.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "posix_file.h"

namespace qm {

using detail::AskFaultHook;
using detail::ErrorFromErrno;
using detail::StampOf;
using detail::TFd;
using detail::TSignalCleanup;
using detail::TSignalsBlocked;
using detail::ThrowErrno;
using detail::WritePiece;

namespace {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path of the file that storing under name really replaces: name itself,
// or the end of the chain of symbolic links it starts, which need not exist
// yet (a dangling link then gets its target created).
std::string FinalTarget(const std::string& name) {
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, "an empty file name");
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return path; // a new file
            ThrowErrno("looking up " + path);
        }
        if (!S_ISLNK(st.st_mode)) {
            // An existing file: take its canonical name, so the temporary
            // file lands in the directory the file is really in.
            char* real = ::realpath(path.c_str(), nullptr);
            if (real == nullptr)
                ThrowErrno("resolving " + path);
            std::string resolved(real);
            ::free(real);
            return resolved;
        }
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        const ssize_t got = ::readlink(path.c_str(), link.data(), link.size());
        if (got < 0)
            ThrowErrno("reading the link " + path);
        if (static_cast<size_t>(got) >= link.size())
            throw EInOutError(EInOutError::InvalidFilename, "the link " + path + " changed while read");
        link.resize(static_cast<size_t>(got));
        path = (!link.empty() && link[0] == '/') ? link : DirectoryOf(path) + "/" + link;
    }
    throw ErrorFromErrno(ELOOP, "following the links of " + name);
}

// Writes the parts one after another with gathering writes: each call takes
// up to IOV_MAX pieces and at most WritePiece bytes, so a level handed over in
// thousands of pieces (its arrays where the model holds them) costs a few
// calls. The test seam is asked before every call.
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
        AskFaultHook(TStoreStep::Write, written, where);
        const ssize_t put = ::writev(fd, pieces.data() + at, static_cast<int>(count));
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

// Six random characters for a hidden name, different per process and call.
std::string RandomSuffix() {
    static std::atomic<uint64_t> calls{0};
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x = (uint64_t(::getpid()) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 30) ^
                 (++calls * 0x9E3779B97F4A7C15u);
    // splitmix64's finaliser spreads every input bit over the output.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    x ^= x >> 31;
    static constexpr char Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 6; ++i, x /= 62)
        s += Chars[x % 62];
    return s;
}

// The temporary file of one store: its descriptor and its hidden name, which
// stays empty while the file has none.
struct TTemporary {
    TFd Fd;
    std::string Path;
    std::string Display; // for error places
};

std::string ProcPathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Opens a file without a name in dir; -1 when the system or the file system
// cannot (the caller then makes a named one).
int OpenUnnamed(const std::string& dir) {
#ifdef O_TMPFILE
    try {
        AskFaultHook(TStoreStep::CreateUnnamed, 0, dir);
    } catch (const EInOutError&) {
        return -1;
    }
    int fd;
    do
        fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
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
    (void)dir;
    return -1;
#endif
}

// Runs attempt(hidden name) with the signals blocked until it succeeds (the
// name is then recorded for the signal handler) or fails other than with
// EEXIST (thrown, placed at where).
template <typename TAttempt>
std::string TakeHiddenName(const std::string& stem, const std::string& where, TAttempt attempt) {
    for (int tries = 0; tries < 100; ++tries) {
        std::string path = stem + RandomSuffix();
        TSignalsBlocked blocked;
        int result;
        do
            result = attempt(path);
        while (result < 0 && errno == EINTR);
        if (result >= 0) {
            TSignalCleanup::Record(path);
            return path;
        }
        if (errno != EEXIST)
            ThrowErrno(where);
    }
    throw ErrorFromErrno(EEXIST, where);
}

void CreateTemporary(const std::string& dir, const std::string& stem, TTemporary& t) {
    if (const int fd = OpenUnnamed(dir); fd >= 0) {
        t.Fd.Reset(fd);
        t.Display = "a temporary file in " + dir;
        return;
    }
    const std::string where = "creating a temporary file in " + dir;
    AskFaultHook(TStoreStep::Create, 0, where);
    t.Path = TakeHiddenName(stem, where, [&](const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0)
            t.Fd.Reset(fd);
        return fd;
    });
    t.Display = t.Path;
}

// Gives a complete unnamed temporary file its hidden name.
void LinkTemporary(const std::string& stem, const std::string& dir, TTemporary& t) {
    const std::string where = "naming the temporary file in " + dir;
    AskFaultHook(TStoreStep::Link, 0, where);
    const std::string proc = ProcPathOf(t.Fd.Get());
    t.Path = TakeHiddenName(stem, where, [&](const std::string& path) {
        return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    });
    t.Display = t.Path;
}

// Removes the hidden name of a store that failed.
void RemoveTemporary(TTemporary& t) {
    t.Fd.Reset();
    if (t.Path.empty())
        return;
    TSignalsBlocked blocked;
    ::unlink(t.Path.c_str());
    TSignalCleanup::Forget();
}

} // namespace

TFileStamp StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                              const std::vector<size_t>& sizes, const TFileStamp& expected) {
    const std::string target = FinalTarget(name);
    // A write-protected file must stay as it is, although the rename below
    // would be allowed to replace it.
    CheckReplaceable(target);

    struct stat original;
    const bool exists = ::stat(target.c_str(), &original) == 0;

    const std::string dir = DirectoryOf(target);
    // The hidden name must stay within the file-name limit for any target
    // name that itself fits, so only the start of the target's name is used.
    const std::string stem = dir + "/." + BaseOf(target).substr(0, 200) + ".qmtmp";
    TSignalCleanup cleanup;
    TTemporary t;
    CreateTemporary(dir, stem, t);
    TFileStamp stored;

    try {
        const int fd = t.Fd.Get();
        int64_t written = 0;
        WriteParts(fd, parts, sizes, written, "writing " + t.Display);

        // Owner first: changing it may clear set-id bits that fchmod then
        // restores. Only the superuser may give a file away; when the owner
        // cannot be kept, set-id bits would grant our rights to whoever runs
        // the file, so they are dropped.
        mode_t mode = exists ? (original.st_mode & 07777) : (0644 & ~CurrentUmask());
        if (exists) {
            const std::string where = "setting the owner of " + t.Display;
            bool owned = true;
            try {
                AskFaultHook(TStoreStep::Chown, 0, where);
            } catch (const EInOutError&) {
                owned = false;
            }
            if (!owned || ::fchown(fd, original.st_uid, original.st_gid) != 0)
                mode &= ~mode_t{S_ISUID | S_ISGID};
        }
        AskFaultHook(TStoreStep::Chmod, 0, "setting the permissions of " + t.Display);
        if (::fchmod(fd, mode) != 0)
            ThrowErrno("setting the permissions of " + t.Display);
        AskFaultHook(TStoreStep::Sync, 0, "flushing " + t.Display + " to disk");
        if (::fsync(fd) != 0)
            ThrowErrno("flushing " + t.Display + " to disk");
        struct stat st;
        if (::fstat(fd, &st) != 0)
            ThrowErrno("the identity of " + t.Display);
        stored = StampOf(st);

        if (t.Path.empty())
            LinkTemporary(stem, dir, t);
        AskFaultHook(TStoreStep::Close, 0, "closing " + t.Display);
        if (t.Fd.Close() != 0)
            ThrowErrno("closing " + t.Display);

        // The last look before the name changes hands: another program that
        // saved the level meanwhile keeps its file.
        const std::string replacing = "replacing " + name;
        if (expected.Known) {
            struct stat now;
            const bool there = ::stat(target.c_str(), &now) == 0;
            if (!there && errno != ENOENT)
                ThrowErrno(replacing);
            if (!there || StampOf(now) != expected)
                detail::ThrowChangedOnDisk(replacing);
        }
        TSignalsBlocked blocked;
        AskFaultHook(TStoreStep::Rename, 0, replacing);
        if (::rename(t.Path.c_str(), target.c_str()) != 0)
            ThrowErrno(replacing);
        TSignalCleanup::Forget();
    } catch (...) {
        RemoveTemporary(t);
        throw;
    }

    // Make the rename itself durable. The file is already replaced at this
    // point, so a failure here is not reported: saying the store failed would
    // be false, and some file systems refuse fsync on directories anyway.
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0)
        (void)::fsync(dirFd.Get());
    return stored;
}

} // namespace qm
