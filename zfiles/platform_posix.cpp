// The operating-system layer on POSIX systems: file existence, whole-file
// reading and the replaceability check. The crash-safe store is in
// store_posix.cpp.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "posix_file.h"

namespace qm {

using detail::ErrorFromErrno;
using detail::StampOf;
using detail::TFd;
using detail::ThrowErrno;

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

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
    // Opening does not wait: a FIFO without a writer would otherwise block
    // for ever. Only a regular file is kept, and then reads block as usual.
    int fd;
    do
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    // A directory, FIFO, device or socket is no file to load. A socket (or a
    // device without its driver) does not even open.
    const std::string notRegular = where + ", which is not a regular file";
    if (fd < 0 && errno == ENXIO)
        throw EInOutError(EInOutError::AccessDenied, notRegular);
    if (fd < 0)
        ThrowErrno(where);
    TFd guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        ThrowErrno(where);
    if (!S_ISREG(st.st_mode))
        throw EInOutError(EInOutError::AccessDenied, notRegular);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        ThrowErrno(where);
    Handle_ = guard.Release();
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

TFileStamp TDiskFile::Stamp() const {
    struct stat st;
    if (!IsOpen())
        throw ErrorFromErrno(EBADF, "the identity of a closed file");
    if (::fstat(Fd(Handle_), &st) != 0)
        ThrowErrno("the identity of the open file");
    return StampOf(st);
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
    detail::CheckReplaceableAt(AT_FDCWD, name, where);
}

void detail::CheckReplaceableAt(int folderFd, const std::string& name, const std::string& where) {
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, 0) != 0) {
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
        fd = ::openat(folderFd, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw EInOutError(EInOutError::AccessDenied, where);
    ::close(fd);
}

void FaultIn(void* block, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    // Only whole pages inside the block; a kernel without the advice ignores it.
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + bytes) / page * page;
    if (to > from)
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)block, (void)bytes;
#endif
}

bool PrepareHeap(size_t bytes) {
#if defined(__GLIBC__) && defined(M_TRIM_THRESHOLD) && defined(M_MMAP_THRESHOLD)
    // Blocks below 32 MiB come from the heap, which is never given back while
    // the run lasts; one block of the whole size is faulted in and freed, and
    // the allocations that follow are carved from its memory.
    constexpr size_t MmapThreshold = size_t{32} << 20;
    // A block this large or larger (its bookkeeping included) is mapped on its
    // own and unmapped when freed: faulting it in would leave the heap as it
    // was, so nothing is done for it.
    constexpr size_t HeapLargest = MmapThreshold - 4096;
    if (bytes < (size_t{1} << 20))
        return false;
    ::mallopt(M_TRIM_THRESHOLD, INT32_MAX);
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(MmapThreshold));
    if (bytes > HeapLargest)
        return false;
    void* block = std::malloc(bytes);
    if (block == nullptr)
        return false;
    FaultIn(block, bytes);
    std::free(block);
    return true;
#else
    (void)bytes;
    return false;
#endif
}

} // namespace qm
