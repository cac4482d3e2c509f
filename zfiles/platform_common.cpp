// The part of the operating-system layer both systems share: the test seam,
// the error mapping and the moves of TDiskFile. Each system's own calls live in
// platform_posix.cpp or platform_win32.cpp; the build compiles one of them.
#include <cerrno>

#include "platform_internal.h"

namespace qm {

std::function<int(TStoreStep step, int64_t written)> GStoreFaultHook;
std::function<void(TStoreStep step, int descriptor)> GStoreCallObserver;

namespace detail {

EInOutError ErrorFromErrno(int e, std::string where) {
    switch (e) {
    case ENOENT: return EInOutError(EInOutError::FileNotFound, std::move(where));
    case ENAMETOOLONG:
    case EINVAL: return EInOutError(EInOutError::InvalidFilename, std::move(where));
    case EMFILE:
    case ENFILE: return EInOutError(EInOutError::TooManyOpenFiles, std::move(where));
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return EInOutError(EInOutError::AccessDenied, std::move(where));
    case ENOSPC:
#if defined(EDQUOT)
    case EDQUOT:
#endif
        return EInOutError(EInOutError::DiskFull, std::move(where));
    default: return EInOutError::SystemError(e, std::move(where));
    }
}

int FaultHookCode(TStoreStep step, int64_t written) { return GStoreFaultHook ? GStoreFaultHook(step, written) : 0; }

void AskFaultHook(TStoreStep step, int64_t written, const std::string& where) {
    if (const int e = FaultHookCode(step, written); e != 0)
        throw ErrorFromErrno(e, where);
}

void ThrowChangedOnDisk(const std::string& where) {
    throw ELevelError("The level changed on disk while it was being edited; nothing was saved", where);
}

} // namespace detail

TDiskFile::TDiskFile(TDiskFile&& other) noexcept : Handle_(other.Handle_) { other.Handle_ = -1; }

TDiskFile& TDiskFile::operator=(TDiskFile&& other) noexcept {
    if (this != &other) {
        Close();
        Handle_ = other.Handle_;
        other.Handle_ = -1;
    }
    return *this;
}

TDiskFile::~TDiskFile() { Close(); }

} // namespace qm
