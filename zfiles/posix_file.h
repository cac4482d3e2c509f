// What the POSIX platform files share: the open-descriptor owner, the errno
// error, the signal guards of a store and the stamp of a status record.
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
    TFd(TFd&& other) noexcept : Fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
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

// Holds SIGINT, SIGTERM and SIGHUP back (they stay pending) in the calling
// thread for its lifetime.
class TSignalsBlocked {
public:
    TSignalsBlocked();
    TSignalsBlocked(const TSignalsBlocked&) = delete;
    TSignalsBlocked& operator=(const TSignalsBlocked&) = delete;
    ~TSignalsBlocked();

private:
    sigset_t Old_;
};

// A short stretch of a store in which a name that the signal handler removes
// is made and recorded, or handed over or removed and forgotten. Meanwhile
// the signals are held back in this thread, and the handler, on whichever
// other thread it runs, waits for every such stretch to end before it removes
// anything: it finds each name either not made yet or made and recorded,
// never in between, and never one already handed over. Once a signal is
// ending the run no new stretch begins (its thread waits for the end).
//
// Nothing inside a section may allocate memory or take a lock that code
// outside a section holds: the handler may have interrupted its holder.
class TNameSection {
public:
    TNameSection();
    TNameSection(const TNameSection&) = delete;
    TNameSection& operator=(const TNameSection&) = delete;
    ~TNameSection();

private:
    TSignalsBlocked Blocked_;
};

// The place of one name the signal handler removes: taken when constructed
// (EInOutError "Too many open files" when every place is taken), given back
// when destroyed. Record and Forget change it only inside a section, which
// they take as proof of one.
class TRemovalName {
public:
    explicit TRemovalName(const std::string& where);
    TRemovalName(const TRemovalName&) = delete;
    TRemovalName& operator=(const TRemovalName&) = delete;
    ~TRemovalName();

    // The file to remove is name (at most NAME_MAX bytes) in the folder open
    // as folderFd, which must stay open until Forget.
    void Record(const TNameSection&, int folderFd, const char* name);
    void Forget(const TNameSection&);

private:
    int Slot_;
};

// A note prepared outside a section and kept (KeepInterruptNote) inside one,
// where nothing may be allocated.
class TPreparedNote {
public:
    explicit TPreparedNote(const std::string& text);
    TPreparedNote(const TPreparedNote&) = delete;
    TPreparedNote& operator=(const TPreparedNote&) = delete;
    ~TPreparedNote();
    void Keep(const TNameSection&);

private:
    struct TNote* Note_;
};

// For its lifetime SIGXFSZ is ignored, so that a write beyond the file-size
// limit (ulimit -f) fails with EFBIG like any other write error instead of
// ending the run; the earlier disposition comes back afterwards.
class TFileSizeSignalIgnored {
public:
    TFileSizeSignalIgnored();
    TFileSizeSignalIgnored(const TFileSizeSignalIgnored&) = delete;
    TFileSizeSignalIgnored& operator=(const TFileSizeSignalIgnored&) = delete;
    ~TFileSizeSignalIgnored();
};

// Throws EInOutError "File access denied", placed at where, when the existing
// file name in the folder open as folderFd (AT_FDCWD: the current folder) may
// not be replaced; a missing file passes.
void CheckReplaceableAt(int folderFd, const std::string& name, const std::string& where);

inline TFileStamp StampOf(const struct stat& st) {
    return TFileStamp{.Known = true,
                      .Device = static_cast<uint64_t>(st.st_dev),
                      .FileId = static_cast<uint64_t>(st.st_ino),
                      .Size = static_cast<int64_t>(st.st_size),
                      .ModifiedSeconds = static_cast<int64_t>(st.st_mtim.tv_sec),
                      .ModifiedNanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec)};
}

} // namespace qm::detail
