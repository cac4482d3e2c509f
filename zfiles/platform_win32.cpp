// The operating-system layer on Windows: file existence, whole-file reading
// and the replaceability check; the crash-safe store is in store_win32.cpp.
// The UTF-8 names are converted to wide characters once, at this edge, and
// only the wide-character Win32 calls are used.
#include <algorithm>
#include <string>

#include "win32_file.h"

namespace qm {
namespace detail {

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

std::string DisplayName(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return Utf8(L"\\\\" + path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return Utf8(path.substr(4));
    return Utf8(path);
}

HANDLE OpenForQuery(const std::wstring& name) {
    return ::CreateFileW(name.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

TFileStamp StampOfHandle(HANDLE h, const std::string& where) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info))
        ThrowLastError(where);
    const auto join = [](DWORD high, DWORD low) { return uint64_t{high} << 32 | low; };
    // The time is in 100-ns ticks since 1601.
    constexpr uint64_t TicksPerSecond = 10'000'000;
    const uint64_t ticks = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return TFileStamp{.Known = true,
                      .Device = info.dwVolumeSerialNumber,
                      .FileId = join(info.nFileIndexHigh, info.nFileIndexLow),
                      .Size = static_cast<int64_t>(join(info.nFileSizeHigh, info.nFileSizeLow)),
                      .ModifiedSeconds = static_cast<int64_t>(ticks / TicksPerSecond),
                      .ModifiedNanoseconds = static_cast<int32_t>(ticks % TicksPerSecond * 100)};
}

} // namespace detail

using namespace detail;

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

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
        throw EInOutError(EInOutError::AccessDenied, where + ", which is not a regular file");
    Handle_ = reinterpret_cast<intptr_t>(h.Release());
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

TFileStamp TDiskFile::Stamp() const {
    if (!IsOpen())
        throw ErrorFromWin32(ERROR_INVALID_HANDLE, "the identity of a closed file");
    return StampOfHandle(AsHandle(Handle_), "the identity of the open file");
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

void FaultIn(void*, size_t) {}

bool PrepareHeap(size_t) { return false; }

} // namespace qm
