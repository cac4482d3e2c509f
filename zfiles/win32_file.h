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
    // Closes what is held and takes h.
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept {
        if (H_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(H_);
        H_ = h;
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

// A short stretch of a store in which a file the console handler deletes is
// made and recorded, or handed over or deleted and forgotten. The handler,
// which runs on a thread of its own, takes turns with it on one lock, so it
// finds each file either not made yet or made and recorded, and never one
// already handed over. Once a console event is ending the run no new stretch
// begins (its thread waits for the end).
class TNameSection {
public:
    TNameSection();
    TNameSection(const TNameSection&) = delete;
    TNameSection& operator=(const TNameSection&) = delete;
    ~TNameSection();
};

// One file for the console handler to delete. Record and Forget change it
// only inside a section, which they take as proof of one.
class TRemovalName {
public:
    TRemovalName();
    TRemovalName(const TRemovalName&) = delete;
    TRemovalName& operator=(const TRemovalName&) = delete;
    ~TRemovalName();
    void Record(const TNameSection&, const std::wstring& path);
    void Forget(const TNameSection&);

private:
    uint64_t Id_;
};

// Keeps a note (KeepInterruptNote) inside a section.
void KeepNote(const TNameSection&, const std::string& text);

// The start of the hidden names in dir beside a file named base, and a name
// made from it with six random characters.
std::wstring HiddenStem(const std::wstring& dir, const std::wstring& base);
std::wstring HiddenName(const std::wstring& stem);

// The backup a store keeps (TStoreKeep::BackupName): its full name, and the
// hidden second name (or copy) of the replaced file that is to take it.
struct TBackup {
    std::string Name;
    std::wstring Path, Hidden;
    TRemovalName Removal;
};

// Refuses a backup name that may not be replaced, then gives the file at
// target (when it exists) a hidden second name beside the backup, checked to
// be expected when that is Known. Throws; nothing is left on failure.
void PrepareBackup(TBackup& backup, const std::string& backupName, const std::wstring& target, bool exists,
                   const std::string& levelName, const TFileStamp& expected);
// Inside the section of the store's replace, after it: the hidden file takes
// the backup's name. 0, or the error that kept it from doing so (the hidden
// file is then deleted).
DWORD PutBackupInPlace(const TNameSection& section, TBackup& backup);
// Deletes the hidden file of a store that failed.
void RemoveBackup(TBackup& backup);

} // namespace qm::detail
