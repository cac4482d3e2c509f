// What the POSIX platform files share: the open-descriptor owner, the errno
// error and the stamp of a status record.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform_internal.h"

namespace qm::detail {

[[noreturn]] inline void ThrowErrno(const std::string& where) { throw ErrorFromErrno(errno, where); }

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
    // Closes what is held and takes fd.
    void Reset(int fd = -1) noexcept {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = fd;
    }

private:
    int Fd_;
};

// Holds SIGINT, SIGTERM and SIGHUP back (they stay pending) for its lifetime.
class TSignalsBlocked {
public:
    TSignalsBlocked();
    TSignalsBlocked(const TSignalsBlocked&) = delete;
    TSignalsBlocked& operator=(const TSignalsBlocked&) = delete;
    ~TSignalsBlocked();

private:
    sigset_t Old_;
};

// For its lifetime, SIGINT, SIGTERM and SIGHUP first remove the recorded
// temporary file, then end the run as they would have without it. A signal
// the run ignores (nohup, a background job) stays ignored.
class TSignalCleanup {
public:
    TSignalCleanup();
    TSignalCleanup(const TSignalCleanup&) = delete;
    TSignalCleanup& operator=(const TSignalCleanup&) = delete;
    ~TSignalCleanup();

    // Both only with the signals blocked (TSignalsBlocked).
    static void Record(const std::string& path);
    static void Forget();
};

inline TFileStamp StampOf(const struct stat& st) {
    return TFileStamp{.Known = true,
                      .Device = static_cast<uint64_t>(st.st_dev),
                      .FileId = static_cast<uint64_t>(st.st_ino),
                      .Size = static_cast<int64_t>(st.st_size),
                      .ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace qm::detail
