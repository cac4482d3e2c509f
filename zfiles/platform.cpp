// The operating-system layer: file existence, whole-file reading, the
// replaceability check and the crash-safe store.
//
// Two branches implement platform.h: POSIX, and Windows (_WIN32), where the
// UTF-8 names are converted to wide characters once, here, and only the
// wide-character Win32 calls are used. What both share comes first: the test
// seam, the write piece size and the mapping of C error numbers (which the
// seam speaks on both systems, so a test that simulates ENOSPC means the same
// everywhere).
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "errors.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {

std::function<int(int64_t written)> GStoreFaultHook;

namespace {

// The runtime's codes for the system errors that have one; every other error
// keeps the system's own number.
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

// The largest piece handed to one write call: well below every system's
// per-call limit, and small enough that a failing disk is noticed early.
constexpr size_t WritePiece = size_t{1} << 20;

// Asks the test seam before a write; a code from it fails that write.
void AskFaultHook(int64_t written, const std::string& where) {
    if (GStoreFaultHook) {
        if (const int e = GStoreFaultHook(written); e != 0)
            throw ErrorFromErrno(e, where);
    }
}

} // namespace

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

#ifdef _WIN32
namespace qm {

namespace {

// The runtime's codes for the Win32 errors that have one (the counterparts of
// the C error numbers above); every other error keeps the system's number.
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

#else

namespace qm {

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

#endif
