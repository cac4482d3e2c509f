// The backup a Windows store keeps: the file it replaces gets a hidden second
// name beside the backup before anything is written (a hard link; a copy
// where the volume has none), and that name replaces the backup right after
// the store's replace (store_win32.cpp). The older backup is touched only then.
#include <algorithm>
#include <atomic>
#include <string>

#include "win32_file.h"

namespace qm::detail {

namespace {

// Refuses a backup name that should not be replaced: a read-only file (as the
// store refuses a read-only target) or a folder. A missing name passes.
void CheckBackupReplaceable(const TBackup& b) {
    const DWORD attributes = ::GetFileAttributesW(b.Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = ::GetLastError();
        if (IsMissing(e))
            return;
        throw ErrorFromWin32(e, "looking up " + b.Name);
    }
    const char* why = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "a folder"
                      : (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? "write-protected"
                                                                      : nullptr;
    if (why != nullptr)
        throw EInOutError(EInOutError::AccessDenied,
                          "keeping the backup " + b.Name + ", which is " + why + "; nothing was saved");
}

// The errors of a hard link that say this volume, or this pair of folders,
// cannot give the file a second name: a copy is made instead.
bool NoLinkHere(DWORD e) {
    return e == ERROR_NOT_SAME_DEVICE || e == ERROR_INVALID_FUNCTION || e == ERROR_NOT_SUPPORTED ||
           e == ERROR_TOO_MANY_LINKS || e == ERROR_ACCESS_DENIED;
}

TFileStamp StampOfName(const std::wstring& path, const std::string& where) {
    THandle h(OpenForQuery(path));
    if (!h.Valid())
        ThrowLastError(where);
    return StampOfHandle(h.Get(), where);
}

} // namespace

std::wstring HiddenStem(const std::wstring& dir, const std::wstring& base) {
    // Only the start of the name is used, so that the hidden name fits
    // wherever the name does; a cut never splits a surrogate pair.
    size_t keep = std::min<size_t>(base.size(), 200);
    if (keep > 0 && keep < base.size() && IS_HIGH_SURROGATE(base[keep - 1]))
        --keep;
    return dir + L"\\." + base.substr(0, keep) + L".qmtmp";
}

std::wstring HiddenName(const std::wstring& stem) {
    static constexpr wchar_t Hex[] = L"0123456789abcdef";
    static std::atomic<uint32_t> calls{0};
    uint32_t seed = ::GetCurrentProcessId() * 2654435761u ^ static_cast<uint32_t>(::GetTickCount64()) ^
                    (::GetCurrentThreadId() << 16) ^ (++calls * 0x9E3779B9u);
    seed = seed * 1664525u + 1013904223u;
    std::wstring name = stem;
    for (int i = 0; i < 6; ++i)
        name += Hex[(seed >> (4 * i + 8)) & 15];
    return name;
}

void PrepareBackup(TBackup& b, const std::string& backupName, const std::wstring& target, bool exists,
                   const std::string& levelName, const TFileStamp& expected) {
    const std::string where = "keeping the backup of " + levelName;
    b.Name = backupName;
    b.Path = FullPathOf(Wide(backupName, where), where);
    CheckBackupReplaceable(b);
    if (!exists)
        return;
    const size_t slash = b.Path.find_last_of(L"\\/");
    const std::wstring stem =
        HiddenStem(slash == std::wstring::npos ? L"." : b.Path.substr(0, slash), b.Path.substr(slash + 1));
    AskFaultHook(TStoreStep::BackupLink, 0, where);
    bool linked = false;
    for (int attempt = 0; attempt < 100 && b.Hidden.empty(); ++attempt) {
        const std::wstring hidden = HiddenName(stem);
        TNameSection section;
        DWORD e = 0;
        if (::CreateHardLinkW(hidden.c_str(), target.c_str(), nullptr))
            linked = true;
        else if (e = ::GetLastError(); NoLinkHere(e) && ::CopyFileW(target.c_str(), hidden.c_str(), TRUE))
            e = 0;
        else
            e = ::GetLastError();
        if (e == 0) {
            b.Removal.Record(section, hidden);
            b.Hidden = hidden;
        } else if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) {
            throw ErrorFromWin32(e, where);
        }
    }
    if (b.Hidden.empty())
        throw ErrorFromWin32(ERROR_FILE_EXISTS, where);
    // The backup must be the file that was loaded: a link is that file, a
    // copy was taken from the file now under the name.
    if (expected.Known && StampOfName(linked ? b.Hidden : target, where) != expected)
        ThrowChangedOnDisk(where);
}

DWORD PutBackupInPlace(const TNameSection& section, TBackup& b) {
    if (b.Hidden.empty())
        return 0;
    DWORD error = 0;
    if (const int code = FaultHookCode(TStoreStep::BackupRename, 0); code != 0)
        error = ERROR_ACCESS_DENIED;
    else if (!::MoveFileExW(b.Hidden.c_str(), b.Path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != 0)
        ::DeleteFileW(b.Hidden.c_str());
    b.Removal.Forget(section);
    b.Hidden.clear();
    return error;
}

void RemoveBackup(TBackup& b) {
    if (b.Hidden.empty())
        return;
    TNameSection section;
    ::DeleteFileW(b.Hidden.c_str());
    b.Removal.Forget(section);
    b.Hidden.clear();
}

} // namespace qm::detail
