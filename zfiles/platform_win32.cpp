// The operating-system layer on Windows: file existence, whole-file reading,
// the replaceability check and the crash-safe store. The UTF-8 names are
// converted to wide characters once, here, and only the wide-character Win32
// calls are used.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform_internal.h"

namespace qm {

using detail::AskFaultHook;
using detail::WritePiece;

namespace {

// The runtime's codes for the Win32 errors that have one (the counterparts of
// C error numbers in platform_common.cpp); every other error keeps the system's number.
EInOutError ErrorFromWin32(DWORD e, std::string where) {
    switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return EInOutError(EInOutError::FileNotFound, std::move(where));
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return EInOutError(EInOutError::InvalidFilename, std::move(where));
    case ERROR_TOO_MANY_OPEN_FILES: return EInOutError(EInOutError::TooManyOpenFiles, std::move(where));
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT: return EInOutError(EInOutError::AccessDenied, std::move(where));
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return EInOutError(EInOutError::DiskFull, std::move(where));
    default: return EInOutError::SystemError(static_cast<int>(e), std::move(where));
    }
}

[[noreturn]] void ThrowLastError(const std::string& where) { throw ErrorFromWin32(::GetLastError(), where); }

// A UTF-8 name as the wide-character calls take it. Bytes that are no UTF-8,
// and a NUL inside the name (which would silently cut it), make no valid name.
std::wstring Wide(const std::string& name, const std::string& where) {
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, where);
    if (name.find('\0') != std::string::npos || name.size() > INT32_MAX)
        throw EInOutError(EInOutError::InvalidFilename, where);
    const int length = static_cast<int>(name.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
    if (n <= 0)
        throw EInOutError(EInOutError::InvalidFilename, where);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), length, wide.data(), n) != n)
        throw EInOutError(EInOutError::InvalidFilename, where);
    return wide;
}

// A wide name back in UTF-8, for error places only.
std::string Utf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > INT32_MAX)
        return {};
    const int length = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// A path for messages, without the "\\?\" prefix of the long form.
std::string DisplayName(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return Utf8(L"\\\\" + path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return Utf8(path.substr(4));
    return Utf8(path);
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

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
HANDLE OpenForQuery(const std::wstring& name) {
    return ::CreateFileW(name.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The attributes of the file name leads to. A symbolic link reports its own
// attributes to GetFileAttributesW, so for one the file it points to is
// asked. False with the Win32 error when there is no such file.
bool AttributesOf(const std::wstring& name, DWORD& attributes, DWORD& error) {
    attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = ::GetLastError();
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return true;
    THandle h(OpenForQuery(name));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) {
        error = ::GetLastError();
        return false;
    }
    attributes = info.dwFileAttributes;
    return true;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::wstring FullPathOf(const std::wstring& name, const std::string& where) {
    const DWORD need = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        ThrowLastError(where);
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(name.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need)
        ThrowLastError(where);
    full.resize(got);
    return full;
}

// The full path of the file that storing under name really replaces: for an
// existing file the end of any chain of symbolic links (so the temporary file
// lands in the folder the file is really in), else the full form of name.
// exists tells which.
std::wstring FinalTarget(const std::wstring& name, bool& exists, const std::string& where) {
    THandle h(OpenForQuery(name));
    exists = h.Valid();
    if (!exists) {
        const DWORD e = ::GetLastError();
        if (!IsMissing(e))
            throw ErrorFromWin32(e, where);
        return FullPathOf(name, where);
    }
    std::wstring final(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        const DWORD got = ::GetFinalPathNameByHandleW(h.Get(), final.data(), static_cast<DWORD>(final.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (got == 0)
            break; // some file systems cannot say; the full name still works
        if (got < final.size()) {
            final.resize(got);
            return final;
        }
        final.assign(got, L'\0');
    }
    return FullPathOf(name, where);
}

// The folder of a full path (every separator a backslash) and its last part.
void SplitPath(const std::wstring& path, std::wstring& dir, std::wstring& base) {
    const size_t slash = path.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
    base = slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Creates a new, empty temporary file in dir whose name starts with that of
// the target, and returns its handle and name.
THandle CreateTemporary(const std::wstring& dir, const std::wstring& base, std::wstring& temp) {
    // Only the start of the target's name is used, so that the temporary name
    // fits wherever the target's does; a cut never splits a surrogate pair.
    size_t keep = std::min<size_t>(base.size(), 200);
    if (keep > 0 && keep < base.size() && IS_HIGH_SURROGATE(base[keep - 1]))
        --keep;
    const std::wstring stem = dir + L"\\." + base.substr(0, keep) + L".qmtmp";
    static constexpr wchar_t Hex[] = L"0123456789abcdef";
    uint32_t seed = ::GetCurrentProcessId() * 2654435761u ^ static_cast<uint32_t>(::GetTickCount64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 1664525u + 1013904223u;
        temp = stem;
        for (int i = 0; i < 6; ++i)
            temp += Hex[(seed >> (4 * i + 8)) & 15];
        THandle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.Valid())
            return THandle(h.Release());
        const DWORD e = ::GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
            throw ErrorFromWin32(e, "creating a temporary file in " + DisplayName(dir));
    }
    throw ErrorFromWin32(ERROR_FILE_EXISTS, "creating a temporary file in " + DisplayName(dir));
}

// Writes all n bytes, asking the test seam before every call.
void WriteAll(HANDLE h, const uint8_t* data, size_t n, int64_t& written, const std::string& where) {
    while (n > 0) {
        AskFaultHook(written, where);
        DWORD put = 0;
        if (!::WriteFile(h, data, static_cast<DWORD>(std::min(n, WritePiece)), &put, nullptr))
            ThrowLastError(where);
        if (put == 0)
            throw EInOutError(EInOutError::DiskFull, where);
        data += put;
        n -= put;
        written += put;
    }
}

} // namespace

bool FileExists(const std::string& name) {
    std::wstring wide;
    try {
        wide = Wide(name, {});
    } catch (const EInOutError&) {
        return false;
    }
    DWORD attributes = 0, error = 0;
    return AttributesOf(wide, attributes, error) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void TDiskFile::OpenRead(const std::string& name) {
    Close();
    const std::string where = "opening " + name;
    const std::wstring wide = Wide(name, where);
    // Others may read the level meanwhile, but not change it under us. A
    // directory does not open without backup semantics: access denied.
    THandle h(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.Valid())
        ThrowLastError(where);
    // A device or pipe (CON, NUL, a named pipe) is no level file, and reading
    // one could wait for ever.
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK)
        throw EInOutError(EInOutError::AccessDenied, where);
    Handle_ = reinterpret_cast<intptr_t>(h.Release());
}

int64_t TDiskFile::Length() const {
    if (!IsOpen())
        throw ErrorFromWin32(ERROR_INVALID_HANDLE, "length of a closed file");
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(AsHandle(Handle_), &size))
        ThrowLastError("length of the open file");
    return static_cast<int64_t>(size.QuadPart);
}

void TDiskFile::ReadAt(int64_t offset, void* dest, int64_t n) const {
    if (!IsOpen())
        throw ErrorFromWin32(ERROR_INVALID_HANDLE, "reading a closed file");
    auto* out = static_cast<uint8_t*>(dest);
    while (n > 0) {
        // The offset travels in the OVERLAPPED record, as with pread.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
        const auto piece = static_cast<DWORD>(std::min<int64_t>(n, int64_t{1} << 30));
        DWORD got = 0;
        if (!::ReadFile(AsHandle(Handle_), out, piece, &got, &at)) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_HANDLE_EOF)
                got = 0;
            else
                throw ErrorFromWin32(e, "reading at byte " + std::to_string(offset));
        }
        if (got == 0)
            throw EInOutError(EInOutError::ReadBeyondEnd, "reading at byte " + std::to_string(offset));
        out += got;
        offset += got;
        n -= got;
    }
}

bool TDiskFile::IsOpen() const { return Handle_ != -1; }

void TDiskFile::Close() noexcept {
    if (Handle_ != -1)
        ::CloseHandle(AsHandle(Handle_));
    Handle_ = -1;
}

void CheckReplaceable(const std::string& name) {
    const std::string where = "replacing " + name;
    const std::wstring wide = Wide(name, where);
    DWORD attributes = 0, error = 0;
    if (!AttributesOf(wide, attributes, error)) {
        if (IsMissing(error))
            return; // a new file
        throw ErrorFromWin32(error, where);
    }
    // Replacing is allowed by the folder even for a read-only file; its
    // read-only attribute is what marks it as not to be changed.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        throw EInOutError(EInOutError::AccessDenied, where);
    // Its permissions (ACL) and other programs holding it open can refuse too.
    THandle h(::CreateFileW(wide.c_str(), GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!h.Valid() || ::GetFileType(h.Get()) != FILE_TYPE_DISK)
        throw EInOutError(EInOutError::AccessDenied, where);
}

void StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                        const std::vector<size_t>& sizes) {
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, "an empty file name");
    const std::wstring wide = Wide(name, "replacing " + name);
    // A write-protected file must stay as it is, although replacing it would
    // be allowed.
    CheckReplaceable(name);
    bool exists = false;
    const std::wstring target = FinalTarget(wide, exists, "looking up " + name);

    std::wstring dir, base, temp;
    SplitPath(target, dir, base);
    THandle h = CreateTemporary(dir, base, temp);
    const std::string tempName = DisplayName(temp);
    bool keepTemp = false;

    try {
        const std::string writing = "writing " + tempName;
        int64_t written = 0;
        for (size_t i = 0; i < parts.size() && i < sizes.size(); ++i)
            WriteAll(h.Get(), static_cast<const uint8_t*>(parts[i]), sizes[i], written, writing);
        if (!::FlushFileBuffers(h.Get()))
            ThrowLastError("flushing " + tempName + " to disk");
        if (!h.Close())
            ThrowLastError("closing " + tempName);

        // ReplaceFileW keeps the replaced file's attributes, permissions (ACL)
        // and creation time; a new file simply gets the temporary file's name.
        constexpr DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
        const std::string replacing = "replacing " + name;
        if (!exists) {
            if (!::MoveFileExW(temp.c_str(), target.c_str(), moveFlags))
                ThrowLastError(replacing);
        } else if (!::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, 0, nullptr, nullptr)) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_FILE_NOT_FOUND || e == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
                // The original is gone: removed meanwhile, or already moved
                // aside by the failed replace. The new content then takes the
                // name directly; should even that fail, the temporary file is
                // the only copy left and is kept.
                if (!::MoveFileExW(temp.c_str(), target.c_str(), moveFlags)) {
                    keepTemp = e == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
                    ThrowLastError(keepTemp ? replacing + "; the new content is kept in " + tempName : replacing);
                }
            } else {
                throw ErrorFromWin32(e, replacing);
            }
        }
    } catch (...) {
        h.Reset();
        if (!keepTemp)
            ::DeleteFileW(temp.c_str());
        throw;
    }
}

} // namespace qm
