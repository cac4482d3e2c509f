// The operating-system layer on POSIX systems: file existence, whole-file
// reading, the replaceability check and the crash-safe store.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform_internal.h"

namespace qm {

using detail::AskFaultHook;
using detail::ErrorFromErrno;
using detail::WritePiece;

namespace {

[[noreturn]] void ThrowErrno(const std::string& where) { throw ErrorFromErrno(errno, where); }

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// An open descriptor that is closed when the owner goes out of scope.
class TFd {
public:
    explicit TFd(int fd = -1) : Fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }
    int Get() const { return Fd_; }
    // Closes now and reports the result of close (a deferred write error can
    // show up only here on some file systems).
    int Close() {
        const int fd = Fd_;
        Fd_ = -1;
        return fd < 0 ? 0 : ::close(fd);
    }
    int Release() {
        const int fd = Fd_;
        Fd_ = -1;
        return fd;
    }
    void Reset() noexcept {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }

private:
    int Fd_;
};

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

// Writes all n bytes, asking the test seam before every call.
void WriteAll(int fd, const uint8_t* data, size_t n, int64_t& written, const std::string& where) {
    while (n > 0) {
        AskFaultHook(written, where);
        const ssize_t put = ::write(fd, data, std::min(n, WritePiece));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(where);
        }
        if (put == 0)
            throw EInOutError(EInOutError::DiskFull, where);
        data += put;
        n -= static_cast<size_t>(put);
        written += put;
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

} // namespace

bool FileExists(const std::string& name) {
    struct stat st;
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void TDiskFile::OpenRead(const std::string& name) {
    Close();
    const std::string where = "opening " + name;
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, where);
    int fd;
    do
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        ThrowErrno(where);
    TFd guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        ThrowErrno(where);
    // A directory opens read-only on POSIX but is no file to load.
    if (S_ISDIR(st.st_mode))
        throw ErrorFromErrno(EISDIR, where);
    Handle_ = guard.Release();
}

int64_t TDiskFile::Length() const {
    struct stat st;
    if (!IsOpen())
        throw ErrorFromErrno(EBADF, "length of a closed file");
    if (::fstat(Fd(Handle_), &st) != 0)
        ThrowErrno("length of the open file");
    return static_cast<int64_t>(st.st_size);
}

void TDiskFile::ReadAt(int64_t offset, void* dest, int64_t n) const {
    if (!IsOpen())
        throw ErrorFromErrno(EBADF, "reading a closed file");
    auto* out = static_cast<uint8_t*>(dest);
    while (n > 0) {
        const size_t piece = static_cast<size_t>(std::min<int64_t>(n, INT32_MAX));
        const ssize_t got = ::pread(Fd(Handle_), out, piece, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno("reading at byte " + std::to_string(offset));
        }
        if (got == 0)
            throw EInOutError(EInOutError::ReadBeyondEnd, "reading at byte " + std::to_string(offset));
        out += got;
        offset += got;
        n -= got;
    }
}

bool TDiskFile::IsOpen() const { return Handle_ >= 0; }

void TDiskFile::Close() noexcept {
    if (Handle_ >= 0)
        ::close(Fd(Handle_));
    Handle_ = -1;
}

void CheckReplaceable(const std::string& name) {
    const std::string where = "replacing " + name;
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, where);
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return; // a new file (or a link to one not yet made)
        ThrowErrno(where);
    }
    // Storing replaces the file by renaming, which its own permissions would
    // not stop; the permission bit is what marks it read-only (also for root,
    // whom the system lets open anything).
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)
        throw EInOutError(EInOutError::AccessDenied, where);
    int fd;
    do
        fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw EInOutError(EInOutError::AccessDenied, where);
    ::close(fd);
}

void StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                        const std::vector<size_t>& sizes) {
    const std::string target = FinalTarget(name);
    // A write-protected file must stay as it is, although the rename below
    // would be allowed to replace it.
    CheckReplaceable(target);

    struct stat original;
    const bool exists = ::stat(target.c_str(), &original) == 0;

    const std::string dir = DirectoryOf(target);
    // The temporary name must stay within the file-name limit for any target
    // name that itself fits, so only the start of the target's name is used.
    std::string temp = dir + "/." + BaseOf(target).substr(0, 200) + ".qmtmpXXXXXX";
    TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        ThrowErrno("creating a temporary file in " + dir);

    try {
        const std::string writing = "writing " + temp;
        int64_t written = 0;
        for (size_t i = 0; i < parts.size() && i < sizes.size(); ++i)
            WriteAll(fd.Get(), static_cast<const uint8_t*>(parts[i]), sizes[i], written, writing);

        // Owner first: changing it may clear set-id bits that fchmod then restores.
        if (exists && ::fchown(fd.Get(), original.st_uid, original.st_gid) != 0) {
            // Only the superuser may give a file away; the new file keeps ours.
        }
        const mode_t mode = exists ? (original.st_mode & 07777) : (0644 & ~CurrentUmask());
        if (::fchmod(fd.Get(), mode) != 0)
            ThrowErrno("setting the permissions of " + temp);
        if (::fsync(fd.Get()) != 0)
            ThrowErrno("flushing " + temp + " to disk");
        if (fd.Close() != 0)
            ThrowErrno("closing " + temp);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            ThrowErrno("replacing " + target);
    } catch (...) {
        fd.Reset();
        ::unlink(temp.c_str());
        throw;
    }

    // Make the rename itself durable. The file is already replaced at this
    // point, so a failure here is not reported: saying the store failed would
    // be false, and some file systems refuse fsync on directories anyway.
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0)
        (void)::fsync(dirFd.Get());
}

} // namespace qm
