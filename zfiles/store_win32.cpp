// The crash-safe store on Windows.
//
// The new content goes to a hidden temporary file beside the target, is
// flushed, and then takes the target's place with ReplaceFileW (a new file is
// moved in with write-through). While the temporary file exists, a console
// Ctrl-C, Ctrl-Break or close event deletes it before the run ends
// (interrupt_win32.cpp). A backup the store keeps is made in backup_win32.cpp
// and put in place here, right after the replace. A batch (TStoreBatch) takes
// the same steps for many stores: all written, then each flushed with
// FlushFileBuffers, then each put in place.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32_file.h"

namespace qm {

using namespace detail;

namespace {

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
// the target, records it for the console handler and returns its handle and
// name. Others may delete it meanwhile (the console handler does, from its
// own thread); it then goes when its handle is closed.
THandle CreateTemporary(const std::wstring& dir, const std::wstring& base, TRemovalName& removal,
                        std::wstring& temp) {
    const std::wstring stem = HiddenStem(dir, base);
    const std::string where = "creating a temporary file in " + DisplayName(dir);
    AskFaultHook(TStoreStep::Create, 0, where);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = HiddenName(stem);
        TNameSection section;
        THandle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.Valid()) {
            removal.Record(section, temp);
            return THandle(h.Release());
        }
        const DWORD e = ::GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
            throw ErrorFromWin32(e, where);
    }
    throw ErrorFromWin32(ERROR_FILE_EXISTS, where);
}

// Writes all n bytes, asking the test seam before every call.
void WriteAll(HANDLE h, const uint8_t* data, size_t n, int64_t& written, const std::string& where) {
    while (n > 0) {
        AskFaultHook(TStoreStep::Write, written, where);
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

// Writes the parts one after another: small pieces are gathered into one
// block of at most WritePiece bytes first, so that a level handed over in
// thousands of pieces (its arrays where the model holds them) costs a few
// calls; large pieces go as they are.
void WriteParts(HANDLE h, const std::vector<const void*>& parts, const std::vector<size_t>& sizes, int64_t& written,
                const std::string& where) {
    constexpr size_t Small = size_t{64} << 10;
    std::vector<uint8_t> gathered;
    auto flush = [&] {
        WriteAll(h, gathered.data(), gathered.size(), written, where);
        gathered.clear();
    };
    for (size_t i = 0; i < parts.size() && i < sizes.size(); ++i) {
        const auto* p = static_cast<const uint8_t*>(parts[i]);
        if (sizes[i] >= Small) {
            flush();
            WriteAll(h, p, sizes[i], written, where);
            continue;
        }
        if (gathered.size() + sizes[i] > WritePiece)
            flush();
        gathered.insert(gathered.end(), p, p + sizes[i]);
    }
    flush();
}

// Puts the temporary file in the target's place. ReplaceFileW keeps the
// replaced file's attributes, permissions (ACL) and creation time; a new file
// simply gets the temporary file's name. keepTemp is set when the temporary
// file is the only copy of the new content left.
void ReplaceTarget(const std::wstring& target, const std::wstring& temp, bool exists, const std::string& replacing,
                   const std::string& tempName, bool& keepTemp) {
    AskFaultHook(TStoreStep::Rename, 0, replacing);
    constexpr DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!exists) {
        if (!::MoveFileExW(temp.c_str(), target.c_str(), moveFlags))
            ThrowLastError(replacing);
    } else if (!::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, 0, nullptr, nullptr)) {
        const DWORD e = ::GetLastError();
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
            throw ErrorFromWin32(e, replacing);
        // The original is gone: removed meanwhile, or already moved aside by
        // the failed replace. The new content then takes the name directly;
        // should even that fail, the temporary file is the only copy left and
        // is kept.
        if (!::MoveFileExW(temp.c_str(), target.c_str(), moveFlags)) {
            keepTemp = e == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
            ThrowLastError(keepTemp ? replacing + "; the new content is kept in " + tempName : replacing);
        }
    }
}

// One store on its way from its content to the target's name, in the steps
// a store alone takes one after another and a batch takes for all its stores
// at once: written (Write), flushed (Flush), put in place (Place). A step that
// fails throws; Discard then deletes the temporary file and the backup's.
struct TPreparedStore {
    TPreparedStore(const std::string& name, const TFileStamp& expected, const TStoreKeep& keep)
        : Name(name), Expected(expected), Keep(keep) {
        if (name.empty())
            throw EInOutError(EInOutError::FileNotFound, "an empty file name");
        const std::wstring wide = Wide(name, "replacing " + name);
        // A write-protected file must stay as it is, although replacing it
        // would be allowed.
        CheckReplaceable(name);
        Target = FinalTarget(wide, Exists, "looking up " + name);
        SplitPath(Target, Dir, Base);
        Keep.Batch = nullptr;
    }

    void Write(const std::vector<const void*>& parts, const std::vector<size_t>& sizes) {
        if (!Keep.BackupName.empty())
            PrepareBackup(Backup, Keep.BackupName, Target, Exists, Name, Expected);
        H.Reset(CreateTemporary(Dir, Base, Removal, Temp).Release());
        TempName = DisplayName(Temp);
        int64_t written = 0;
        WriteParts(H.Get(), parts, sizes, written, "writing " + TempName);
        Stored = StampOfHandle(H.Get(), "the identity of " + TempName);
    }

    void Flush() {
        AskFaultHook(TStoreStep::Sync, 0, "flushing " + TempName + " to disk");
        if (!::FlushFileBuffers(H.Get()))
            ThrowLastError("flushing " + TempName + " to disk");
        Stored = StampOfHandle(H.Get(), "the identity of " + TempName);
    }

    void Place() {
        AskFaultHook(TStoreStep::Close, 0, "closing " + TempName);
        if (!H.Close())
            ThrowLastError("closing " + TempName);
        // The last look before the name changes hands: another program that
        // saved the level meanwhile keeps its file.
        const std::string replacing = "replacing " + Name;
        if (Expected.Known) {
            THandle now(OpenForQuery(Target));
            if (!now.Valid() && !IsMissing(::GetLastError()))
                ThrowLastError(replacing);
            if (!now.Valid() || StampOfHandle(now.Get(), replacing) != Expected)
                ThrowChangedOnDisk(replacing);
        }
        DWORD backupError = 0;
        {
            // The console handler waits meanwhile and then finds the temporary
            // file handed over, the note kept and the backup in place.
            TNameSection section;
            ReplaceTarget(Target, Temp, Exists, replacing, TempName, KeepTemp);
            Replaced = true;
            Removal.Forget(section);
            KeepNote(section, Keep.SavedNote);
            backupError = PutBackupInPlace(section, Backup);
        }
        if (backupError != 0)
            throw ErrorFromWin32(backupError, "keeping the backup " + Keep.BackupName +
                                                  "; the level was saved, the older backup is kept");
    }

    void Discard() noexcept {
        H.Reset();
        {
            TNameSection section;
            if (!Replaced && !KeepTemp && !Temp.empty())
                ::DeleteFileW(Temp.c_str());
            Removal.Forget(section);
        }
        RemoveBackup(Backup);
    }

    std::string Name;
    TFileStamp Expected;
    TStoreKeep Keep;
    bool Exists = false, KeepTemp = false, Replaced = false;
    std::wstring Target, Dir, Base, Temp;
    std::string TempName;
    TBackup Backup;
    TRemovalName Removal;
    THandle H;
    TFileStamp Stored;
};

} // namespace

TFileStamp StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                              const std::vector<size_t>& sizes, const TFileStamp& expected, const TStoreKeep& keep) {
    if (keep.Batch != nullptr)
        return keep.Batch->Prepare(keep.Slot, name, parts, sizes, expected, keep);
    TPreparedStore s(name, expected, keep);
    TInterruptHandling handling;
    try {
        s.Write(parts, sizes);
        s.Flush();
        s.Place();
    } catch (...) {
        s.Discard();
        throw;
    }
    return s.Stored;
}

// A batch on Windows: the files are flushed one by one (the system has no
// flush of many files at once), then each takes its target's place. A move
// into place is written through, so no folder is flushed afterwards.
struct TStoreBatch::TImpl {
    explicit TImpl(size_t places) : Stores(places) {}
    std::vector<std::unique_ptr<TPreparedStore>> Stores;
    std::mutex Turn;
    TInterruptHandling Handling;
};

TStoreBatch::TStoreBatch(size_t places) : Impl_(std::make_unique<TImpl>(places)) {}

TStoreBatch::~TStoreBatch() {
    for (auto& s : Impl_->Stores)
        if (s)
            s->Discard();
}

TFileStamp TStoreBatch::Prepare(size_t slot, const std::string& name, const std::vector<const void*>& parts,
                                const std::vector<size_t>& sizes, const TFileStamp& expected, const TStoreKeep& keep) {
    auto s = std::make_unique<TPreparedStore>(name, expected, keep);
    try {
        s->Write(parts, sizes);
    } catch (...) {
        s->Discard();
        throw;
    }
    const TFileStamp stored = s->Stored;
    std::lock_guard<std::mutex> turn(Impl_->Turn);
    Impl_->Stores.at(slot) = std::move(s);
    return stored;
}

bool TStoreBatch::Prepared(size_t slot) const {
    std::lock_guard<std::mutex> turn(Impl_->Turn);
    return slot < Impl_->Stores.size() && Impl_->Stores[slot] != nullptr;
}

std::vector<std::exception_ptr> TStoreBatch::Commit() {
    std::vector<std::unique_ptr<TPreparedStore>> stores;
    {
        std::lock_guard<std::mutex> turn(Impl_->Turn);
        stores = std::move(Impl_->Stores);
        Impl_->Stores.clear();
        Impl_->Stores.resize(stores.size());
    }
    std::vector<std::exception_ptr> errors(stores.size());
    for (size_t i = 0; i < stores.size(); ++i) {
        if (!stores[i])
            continue;
        try {
            stores[i]->Flush();
        } catch (...) {
            errors[i] = std::current_exception();
        }
    }
    // Only a file known to be on disk takes its target's name.
    for (size_t i = 0; i < stores.size(); ++i) {
        if (!stores[i])
            continue;
        if (!errors[i]) {
            try {
                stores[i]->Place();
                continue;
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
        stores[i]->Discard();
    }
    return errors;
}

} // namespace qm
