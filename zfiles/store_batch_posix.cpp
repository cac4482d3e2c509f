// The stores of a batch on POSIX systems: every temporary file written, then
// all of them flushed with their fsyncs issued together, then each renamed
// over its target, then each distinct folder flushed once (the order is in
// platform.h, TStoreBatch).
//
// The flushes go out from a few threads at once rather than as one syncfs of
// the file system: the disk then writes the batch in one sweep and the
// journal commits the files together, as fast as a syncfs in measurement, but
// each file's own fsync reports that file's write errors on every kernel,
// which a syncfs does only on recent ones, and a busy neighbour's unrelated
// writes are not waited for.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "store_posix.h"

namespace qm {

using detail::TPreparedStore;

struct TStoreBatch::TImpl {
    explicit TImpl(size_t places) : Stores(places) {}
    std::vector<std::unique_ptr<TPreparedStore>> Stores; // by place; null when none is prepared there
    std::mutex Turn;                                     // guards Stores
    detail::THiddenListings Listings;                    // the folders' left-over names, read once
    // From the first store to the end of the commit: a signal removes the
    // hidden files of all of them, and a write beyond the file-size limit
    // fails like any other.
    TInterruptHandling Handling;
    detail::TFileSizeSignalIgnored SizeLimit;
};

namespace {

// The most threads that issue the flushes of a batch: enough for the disk to
// see the whole batch at once, few enough to cost nothing much to start.
constexpr size_t FlushThreads = 8;

// Flushes every store (null ones skipped) from a few threads and waits for
// all; errors[i] receives the failure of store i.
void FlushAll(const std::vector<TPreparedStore*>& stores, std::vector<std::exception_ptr>& errors) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < stores.size();) {
            try {
                detail::FlushStore(*stores[i]);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
    };
    std::vector<std::jthread> helpers;
    try {
        for (size_t t = 1; t < std::min(FlushThreads, stores.size()); ++t)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // The calling thread flushes what the helpers that could start do not.
    }
    work();
}

// The folder open as fd, once per folder however it was opened.
void SyncEachFolderOnce(std::set<std::pair<dev_t, ino_t>>& done, int fd, const std::string& name) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && !done.insert({st.st_dev, st.st_ino}).second)
        return;
    detail::SyncFolder(fd, name);
}

} // namespace

TStoreBatch::TStoreBatch(size_t places) : Impl_(std::make_unique<TImpl>(places)) {}

TStoreBatch::~TStoreBatch() {
    for (auto& s : Impl_->Stores)
        if (s)
            DiscardStore(*s);
}

TFileStamp TStoreBatch::Prepare(size_t slot, const std::string& name, const std::vector<const void*>& parts,
                                const std::vector<size_t>& sizes, const TFileStamp& expected, const TStoreKeep& keep) {
    auto s = std::make_unique<TPreparedStore>(name, expected, keep);
    s->Listings = &Impl_->Listings;
    try {
        WriteStore(*s, parts, sizes);
    } catch (...) {
        DiscardStore(*s);
        throw;
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // The disk may start on the file now, while the next levels are worked
    // on; only the flush of the commit says that it is on disk.
    (void)::sync_file_range(s->Temp.Fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
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
    std::vector<TPreparedStore*> flushing;
    std::vector<size_t> places;
    for (size_t i = 0; i < stores.size(); ++i)
        if (stores[i])
            flushing.push_back(stores[i].get()), places.push_back(i);
    std::vector<std::exception_ptr> flushErrors(flushing.size());
    FlushAll(flushing, flushErrors);
    for (size_t k = 0; k < places.size(); ++k)
        errors[places[k]] = flushErrors[k];
    // Only a file known to be on disk takes its target's name.
    std::set<std::pair<dev_t, ino_t>> folders;
    for (size_t i : places) {
        TPreparedStore& s = *stores[i];
        if (!errors[i]) {
            try {
                PlaceStore(s);
                continue;
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
        DiscardStore(s);
    }
    // A store whose rename went through and whose backup then failed has its
    // new name too: every flushed store's folders are flushed.
    for (size_t k = 0; k < places.size(); ++k) {
        const size_t i = places[k];
        if (flushErrors[k])
            continue;
        SyncEachFolderOnce(folders, stores[i]->Target.Folder.Get(), stores[i]->Target.FolderName);
        if (stores[i]->Backup)
            SyncEachFolderOnce(folders, stores[i]->Backup->Folder.Get(), stores[i]->Backup->FolderName);
    }
    return errors;
}

} // namespace qm
