// What the files of the POSIX store share: the file a store replaces, reached
// through its open folder, and the guarded system call.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "posix_file.h"

namespace qm::detail {

// The file a store replaces. Every call works relative to the open folder, so
// a file whose full path is longer than the system's path limit is stored as
// well as it is read.
struct TTarget {
    TFd Folder;             // the folder the file is in, or is to be made in
    std::string FolderName; // the folder's name, for error places
    std::string Base;       // the file's own name in the folder
    std::string Name;       // the file's full name, for error places
    bool Exists = false;
    struct stat Original {}; // the file's status when it exists
};

// The file that storing under name really replaces: name itself, or the end of
// the chain of symbolic links it starts, which need not exist yet (a dangling
// link then gets its target created). Throws EInOutError.
TTarget ResolveTarget(const std::string& name);

// Opens the folder dir (relative to the folder at, or absolute) to work in:
// for reading where allowed, so that it can be flushed to disk later, and
// otherwise only to look names up and make files in it. path names the file
// in it, for error places. Throws EInOutError.
int OpenFolder(int at, const std::string& dir, const std::string& path);
std::string DirectoryOf(const std::string& path);
std::string BaseOf(const std::string& path);

// Tells the observing test seam of a call about to be made.
void TellCallObserver(TStoreStep step, int descriptor);

// Makes a system call of a store inside a section, where nothing may throw or
// allocate: a code from the test seam fails the call as the system would
// (-1, errno set to the code); otherwise the observing seam sees the call and
// it is made.
template <typename TCall>
int SectionCall(TStoreStep step, int descriptor, TCall call) {
    if (const int code = FaultHookCode(step, 0); code != 0) {
        errno = code;
        return -1;
    }
    TellCallObserver(step, descriptor);
    return call();
}

// Makes one system call of a store: the test seam may fail the step first
// (EInOutError placed at where), the observing seam sees the call, and then
// the call is made; its result is returned.
template <typename TCall>
auto GuardedCall(TStoreStep step, int descriptor, int64_t written, const std::string& where, TCall call) {
    AskFaultHook(step, written, where);
    TellCallObserver(step, descriptor);
    return call();
}

// The start of the hidden names beside a file named base, and six random
// characters to end one with.
std::string HiddenStem(const std::string& base);
std::string RandomSuffix();

// Makes a hidden name in the folder open as folder: attempt(name) makes the
// file (a negative result fails with errno) and, in the same section, the
// name is recorded in removal, so that a signal finds it either not made or
// recorded. A name that exists already is tried again with other random
// characters. Returns 0 and sets made, or the error that failed it.
template <typename TAttempt>
int TryHiddenName(int folder, const std::string& stem, TRemovalName& removal, std::string& made, TAttempt attempt) {
    for (int tries = 0; tries < 100; ++tries) {
        std::string base = stem + RandomSuffix();
        int error = 0;
        {
            TNameSection section;
            int result;
            do
                result = attempt(base);
            while (result < 0 && errno == EINTR);
            if (result < 0)
                error = errno;
            else if ((error = FaultHookCode(TStoreStep::Record, 0)) != 0)
                ::unlinkat(folder, base.c_str(), 0);
            else
                removal.Record(section, folder, base.c_str());
        }
        if (error == 0) {
            made = std::move(base);
            return 0;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

// As TryHiddenName; a failure throws, placed at where.
template <typename TAttempt>
std::string TakeHiddenName(int folder, const std::string& stem, TRemovalName& removal, const std::string& where,
                           TAttempt attempt) {
    std::string made;
    if (const int error = TryHiddenName(folder, stem, removal, made, attempt); error != 0)
        throw ErrorFromErrno(error, where);
    return made;
}

// The backup a store keeps (TStoreKeep::BackupName): its folder and name, and
// the hidden second name of the replaced file that is to take that name.
struct TBackup {
    explicit TBackup(const std::string& name);
    TFd Folder;
    std::string Name, FolderName, Base;
    std::string Hidden; // empty until it is made, and once it is gone
    TRemovalName Removal;
};

// Refuses a backup name that may not be replaced, then gives the target's file
// its hidden second name beside the backup (checked to be expected when that
// is Known). levelName is the name the store was given, for error places.
// Throws EInOutError, ELevelError; nothing is left on failure.
void PrepareBackup(TBackup& backup, const TTarget& target, const std::string& levelName, const TFileStamp& expected);

// Inside the section of the store's rename, after it: the hidden name takes
// the backup's name. 0, or the error that kept it from doing so (the hidden
// name is then removed).
int PutBackupInPlace(const TNameSection& section, TBackup& backup);

// Removes the hidden name of a store that failed.
void RemoveBackup(TBackup& backup);

// The temporary file of one store: its descriptor and its hidden name in the
// target's folder, which stays empty while the file has none.
struct TTemporary {
    explicit TTemporary(const TTarget& target) : Removal("creating a temporary file in " + target.FolderName) {}
    TFd Fd;
    // A second descriptor of the file that holds an flock on it until the file
    // has the target's name or is removed: a later run that finds the hidden
    // name locked leaves it (RemoveStaleHidden).
    TFd Hold;
    std::string Base;    // empty while the file has no name, and once the name is the target's
    std::string Display; // for error places
    TRemovalName Removal;
};

// The names of folders that look like hidden names, each folder read once:
// the stores of a batch read a folder of many levels once, not once each.
class THiddenListings {
public:
    // The names in the folder open as folder that end like a hidden name.
    // Thread-safe.
    std::vector<std::string> Of(int folder);

private:
    std::mutex Turn_;
    std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> Read_;
};

// One store on its way from its content to the target's name, in the steps
// that a store alone takes one after another and a batch takes for all its
// stores at once: written (WriteStore), flushed (FlushStore), put in place
// (PlaceStore); then the folders are flushed (SyncFolder). A step that fails
// throws; the store is then discarded (DiscardStore), which leaves the target
// and the older backup as they were and removes every hidden name.
struct TPreparedStore {
    // Finds the target and refuses a write-protected one. Throws EInOutError.
    TPreparedStore(const std::string& name, const TFileStamp& expected, const TStoreKeep& keep);
    std::string Name; // the name the store was given, for error places
    TTarget Target;
    TFileStamp Expected;
    TPreparedNote Note;
    std::optional<TBackup> Backup;
    TTemporary Temp;
    TFileStamp Stored; // the stamp of the new content, once written
    bool Sweep = false; // TStoreKeep::RemoveStale
    THiddenListings* Listings = nullptr; // where the sweep reads the folders, when shared
};

// Removes what stores that never ended (a killed run, a power cut) left in the
// folders of a store: the hidden temporary files of its target that no
// running store holds locked, and the hidden files of the backup backupName
// but own (this store's). Only for a store whose caller holds the target's
// edit lock, so that no other edit's backup can be under way. Errors are
// ignored: what cannot be removed stays.
void RemoveStaleHidden(const TTarget& target, const std::string& backupName, const std::string& own,
                       THiddenListings* listings = nullptr);

// The backup's second name, then the temporary file written whole with the
// target's owner and permissions; not flushed yet.
void WriteStore(TPreparedStore& store, const std::vector<const void*>& parts, const std::vector<size_t>& sizes);
// Flushes the complete temporary file to disk (fsync).
void FlushStore(TPreparedStore& store);
// Names the flushed file, closes it and renames it over the target, the
// backup put in place in the same step.
void PlaceStore(TPreparedStore& store);
void DiscardStore(TPreparedStore& store) noexcept;

// Makes the renames in the folder open as folder durable. The files are
// already replaced at this point, so a failure is not reported: saying the
// store failed would be false, and some file systems refuse fsync on folders.
void SyncFolder(int folder, const std::string& folderName);

} // namespace qm::detail
