// The few operating-system services the tool needs, in one place so that the
// POSIX and Windows builds differ only here. File names are UTF-8 on every
// platform; the Windows build converts them to wide characters at this edge.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm {

// True when name is an existing file that is not a directory.
bool FileExists(const std::string& name);

// The identity of a file at one moment, to tell later whether another program
// changed or replaced it: the same name now holding a different file, other
// bytes or another length.
struct TFileStamp {
    bool Known = false;      // false: no file was looked at
    uint64_t Device = 0;     // POSIX: st_dev; Windows: the volume serial number
    uint64_t FileId = 0;     // POSIX: the inode; Windows: the file index
    int64_t Size = 0;        // length in bytes
    // The last modification, as whole seconds and the nanoseconds beyond them
    // (POSIX: since 1970, before it negative; Windows: since 1601). Kept
    // apart, any date a file system stores compares without overflow.
    int64_t ModifiedSeconds = 0;
    int32_t ModifiedNanoseconds = 0;
    bool operator==(const TFileStamp&) const = default;
};

// An open disk file. Closing happens in the destructor; it never writes.
class TDiskFile {
public:
    TDiskFile() = default;
    TDiskFile(TDiskFile&& other) noexcept;
    TDiskFile& operator=(TDiskFile&& other) noexcept;
    ~TDiskFile();

    // Opens an existing regular file read-only. Anything else (a directory, a
    // FIFO, a device, a socket) is refused at once, without waiting for a
    // writer, with EInOutError "File access denied". Throws EInOutError.
    void OpenRead(const std::string& name);
    // The identity of the open file, its length included. Throws EInOutError.
    TFileStamp Stamp() const;
    // Reads exactly n bytes at offset; a short read throws EInOutError
    // "Read beyond end of file".
    void ReadAt(int64_t offset, void* dest, int64_t n) const;
    bool IsOpen() const;
    void Close() noexcept;
    // The system's handle of the open file (a descriptor on POSIX systems).
    intptr_t Descriptor() const { return Handle_; }

private:
    intptr_t Handle_ = -1;
};

// Throws EInOutError "File access denied" when an existing file may not be
// replaced: its read-only attribute (no owner write permission) is set, or the
// system refuses to open it for writing. A missing file passes.
void CheckReplaceable(const std::string& name);

class TStoreBatch;

// What a store does besides putting the new content in place.
struct TStoreKeep {
    // When not empty, the file the store replaces is kept under this name (a
    // backup): before anything is written it gets a hidden second name beside
    // BackupName (a hard link; a copy flushed to disk where the file system
    // has no links to it), which must still be the expected file. That name
    // replaces BackupName right after the new content has taken the file's
    // name, in the same step for a signal, so an older backup is replaced
    // only by a save that happened. When the store fails the older backup
    // stays and the hidden name is removed. An existing BackupName that is
    // write-protected, a folder or no regular file refuses the store before
    // anything is written (EInOutError "File access denied", the place says
    // why). A target that does not exist yet has nothing to keep.
    std::string BackupName;
    // When not empty, kept for an interrupted run (KeepInterruptNote) in the
    // same step as the new content takes the file's name.
    std::string SavedNote;
    // When set, the store is only prepared, in the place Slot of this batch:
    // TStoreBatch::Prepare does its part, TStoreBatch::Commit the rest.
    TStoreBatch* Batch = nullptr;
    size_t Slot = 0;
    // The caller holds the target's edit lock (TEditLock): before writing,
    // the store removes the hidden files that earlier stores of the target
    // and of its backup (BackupName, or else name + ".bak", where an edit
    // keeps it) left when their run was killed (POSIX systems; a hidden file
    // that a running store holds is left).
    bool RemoveStale = false;
};

// Stores content under name crash-safely and returns the stamp of the stored
// file. The bytes go to a new temporary file in the same directory (on Linux
// one without a name where the file system allows it), which gets the
// original's owner and permission bits, is flushed to disk, and only then
// takes the name in one rename. Should the owner not be given (someone else's
// file), the set-user-id and set-group-id bits are dropped. A name that is a
// symbolic link keeps being a link and the file it points to is replaced.
// While a store runs, an interrupt or termination signal (Windows: a console
// Ctrl-C, break or close event) that ends the run removes its temporary files
// first (see TInterruptHandling), whichever thread it comes to. On any
// failure the original stays byte for byte as it was, the temporary file is
// removed and EInOutError is thrown.
//
// When expected is Known, the target must still be that file: otherwise
// nothing is replaced and ELevelError "The level changed on disk while it was
// being edited; nothing was saved" is thrown.
TFileStamp StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                              const std::vector<size_t>& sizes, const TFileStamp& expected = {},
                              const TStoreKeep& keep = {});

// For its lifetime, SIGINT, SIGTERM and SIGHUP (Windows: a console Ctrl-C,
// Ctrl-Break or close event) end the run in three steps, on whichever thread
// they come to: the hidden files of the stores under way are removed, the
// notes kept meanwhile (KeepInterruptNote) are written to standard output in
// the order they were kept, and the run ends as the signal would have ended
// it. A signal the run ignores (nohup, a background job) stays ignored. A
// store holds one while it runs; a program holds one for its whole run so
// that its notes are written whenever the signal comes. When the last one
// ends, the earlier handling comes back and the notes are dropped.
class TInterruptHandling {
public:
    TInterruptHandling();
    TInterruptHandling(const TInterruptHandling&) = delete;
    TInterruptHandling& operator=(const TInterruptHandling&) = delete;
    ~TInterruptHandling();
};

// The stores of many files committed together, so that they wait for the
// disk once instead of once each. Each store keeps every promise of
// StoreFileReplacing; only the order of the steps across the stores changes:
//   1. Prepare, for each store: the backup's hidden second name, then the new
//      content written in full to its temporary file (no name on Linux where
//      the file system allows it), with the target's owner and permissions.
//   2. Commit: every prepared file is flushed to disk, the flushes issued
//      together from a few threads and waited for once (Windows:
//      FlushFileBuffers, file by file);
//   3. then, in the order of the places, each flushed file takes its target's
//      name (after the same last look for a target changed on disk) and its
//      backup takes the backup's name, in one step for a signal;
//   4. then each distinct folder that got a new name is flushed once (POSIX;
//      Windows moves with write-through).
// A store whose preparing, flush or rename fails is not renamed: its
// temporary file and hidden backup name are removed, its target and older
// backup stay as they were, and the others go on. A crash at any moment
// leaves each target wholly old or wholly new, as a store alone does.
// While a batch exists, a signal that ends the run removes the temporary
// files of every store in it (TInterruptHandling).
class TStoreBatch {
public:
    // A batch of up to places stores.
    explicit TStoreBatch(size_t places);
    TStoreBatch(const TStoreBatch&) = delete;
    TStoreBatch& operator=(const TStoreBatch&) = delete;
    // Discards what was prepared and not committed.
    ~TStoreBatch();

    // Step 1 for the store of content under name in the place slot, which
    // must be below places and used once; keep.Batch is not looked at. The
    // pieces need not outlive the call. Returns the stamp the file has once
    // in place. Distinct places may be prepared from several threads at once.
    // Throws as StoreFileReplacing does, before its flush; nothing is left.
    TFileStamp Prepare(size_t slot, const std::string& name, const std::vector<const void*>& parts,
                       const std::vector<size_t>& sizes, const TFileStamp& expected, const TStoreKeep& keep);
    // Whether the place slot holds a prepared store not yet committed.
    bool Prepared(size_t slot) const;
    // Steps 2 to 4 for every prepared store. Returns one entry per place:
    // the error of that store (an EQuillError, as StoreFileReplacing throws
    // it), or null when it was put in place or the place was never prepared.
    // The batch is empty afterwards.
    std::vector<std::exception_ptr> Commit();

    struct TImpl;

private:
    std::unique_ptr<TImpl> Impl_;
};

// Keeps text (whole lines, with their line ends) to be written should a
// signal end the run; dropped when no TInterruptHandling is in place.
// Thread-safe.
void KeepInterruptNote(const std::string& text);

// Faults in the memory of a block that is about to be filled whole, with one
// call instead of page by page as it is first written, where the system
// allows; does nothing elsewhere.
void FaultIn(void* block, size_t bytes);

// Readies the heap for about `bytes` of allocations that are all about to be
// filled (a level read into memory): where the system allows, their memory is
// faulted in with one call instead of page by page as it is first written.
// The memory is taken only as far as it will be used, so bytes must not
// exceed what the caller is about to allocate. Only a block the heap keeps
// once freed is readied (glibc: below 32 MiB); for a larger size, and on other
// systems, nothing is done. Returns whether the heap was readied.
bool PrepareHeap(size_t bytes);

// The steps of a store, in the order they happen, as the test seam names them.
// Linux first tries a temporary file without a name (CreateUnnamed; a failure
// there falls back to a named one, Create) and gives it its name (Link) once
// it is complete. A hidden name, once made, is recorded for removal on a
// signal (Record: asked after Create or Link, before the name is recorded).
// After the rename the folder is flushed (SyncFolder), whose failure is not
// reported. With a backup (TStoreKeep), the file that is replaced first gets
// its hidden second name (BackupLink, followed by Record; where no link can be
// made, a copy is written with the steps BackupCopy and Record), and after the
// rename that name replaces the older backup (BackupRename). Chown, Chmod,
// Link, Record, BackupCopy and SyncFolder do not happen on Windows.
enum class TStoreStep {
    CreateUnnamed, Create, Write, Chown, Chmod, Sync, Link, Close, Rename, SyncFolder,
    Record, BackupLink, BackupCopy, BackupRename
};

// Test seam: when set, called before each step of a store (before every single
// write call, with the bytes written so far; written is 0 for the other steps).
// Returning a non-zero C error code (e.g. ENOSPC for a full disk) makes that
// step fail with it.
extern std::function<int(TStoreStep step, int64_t written)> GStoreFaultHook;

// Test seam: when set, told of each system call of a POSIX store right before
// it is made (once GStoreFaultHook let the step go on), with the descriptor
// it works on: the temporary file's for Write, Chown, Chmod, Sync, Link and
// Close; the folder's for CreateUnnamed, Create, Rename and SyncFolder; the
// level's folder for BackupLink and the backup's for BackupCopy and
// BackupRename. Record makes no call.
extern std::function<void(TStoreStep step, int descriptor)> GStoreCallObserver;

} // namespace qm
