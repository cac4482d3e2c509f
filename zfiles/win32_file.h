// What the Windows platform files share: the Win32 error mapping, the wide
// names, the handle owner and the file queries.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform_internal.h"

namespace qm::detail {

// The runtime's codes for the Win32 errors that have one (the counterparts of
// the C error numbers of ErrorFromErrno); every other error keeps the system's
// number.
EInOutError ErrorFromWin32(DWORD e, std::string where);
[[noreturn]] void ThrowLastError(const std::string& where);

// A UTF-8 name as the wide-character calls take it. Bytes that are no UTF-8,
// and a NUL inside the name (which would silently cut it), make no valid name.
std::wstring Wide(const std::string& name, const std::string& where);

// A path for messages, in UTF-8, without the "\\?\" prefix of the long form.
std::string DisplayName(const std::wstring& path);

// An open handle that is closed when the owner goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE h = INVALID_HANDLE_VALUE) : H_(h) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reset(); }
    HANDLE Get() const { return H_; }
    bool Valid() const { return H_ != INVALID_HANDLE_VALUE; }
    // Closes now and reports whether closing succeeded.
    bool Close() {
        const HANDLE h = H_;
        H_ = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != 0;
    }
    HANDLE Release() {
        const HANDLE h = H_;
        H_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void Reset() noexcept {
        if (H_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(H_);
        H_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE H_;
};

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens name for no access at all, following symbolic links (and opening a
// directory too), to ask about the file itself.
HANDLE OpenForQuery(const std::wstring& name);

bool IsMissing(DWORD error);

std::wstring FullPathOf(const std::wstring& name, const std::string& where);

// The identity of the open file h.
TFileStamp StampOfHandle(HANDLE h, const std::string& where);

} // namespace qm::detail
