// The saves of a run over many levels, committed together: the levels are cut
// into groups of consecutive levels, each level of a group prepares its save
// (its new file written in full), and once every level of the group has run,
// the group's saves are committed at once (one wait for the disk instead of
// one per level; the order is TStoreBatch's).
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "lock.h"
#include "platform.h"
#include "runlevel.h"

namespace qm {

// How many consecutive levels share one commit when jobs levels run side by
// side: 1 means each level saves on its own.
size_t SaveGroupSize(int jobs);

class TSaveGroups {
public:
    // Told of the levels of a committed group that prepared a save, in the
    // order of the levels: first Saved of each (the error of its commit, or
    // null once it is in place; it must not throw), then Shown of each (its
    // end may be shown now), so that every outcome is known before any output.
    struct TFinish {
        std::function<void(size_t level, const std::exception_ptr& error)> Saved;
        std::function<void(size_t level)> Shown;
    };

    TSaveGroups(size_t levels, size_t groupSize);
    TSaveGroups(const TSaveGroups&) = delete;
    TSaveGroups& operator=(const TSaveGroups&) = delete;

    // Sets what level's run needs to prepare its save in its group. Should
    // the level have to wait for its lock, it leaves the group and saves on
    // its own: the group's other saves are committed without waiting for it
    // (finish is told of them then, on this level's thread).
    void Attach(size_t level, TLevelIo& io, const TFinish& finish);
    // Whether level's save was prepared and waits for its group's commit.
    bool Waiting(size_t level) const;
    // Level has run (a level that left its group counts once). When it was
    // the last of its group to do so, the group is
    // committed on this thread and finish is told of its levels; the locks of
    // the group's levels are given back after the commit.
    void Finished(size_t level, const TFinish& finish);
    // Commits each group not committed yet, with the levels that ran (for a
    // run that ended early).
    void CommitRest(const TFinish& finish);

private:
    struct TGroup {
        explicit TGroup(size_t size) : Batch(size), Locks(size), Gone(size, false) {}
        TStoreBatch Batch;
        std::vector<std::unique_ptr<TEditLock>> Locks;
        size_t Left = 0;        // levels of the group that have not run yet
        bool Committed = false;
        std::vector<bool> Gone; // levels that left the group
    };
    void Commit(size_t group, const TFinish& finish);
    // Counts level as run, once; true when its group is now to be committed.
    bool CountRun(size_t level, bool leaving);

    size_t Size_;
    std::vector<std::unique_ptr<TGroup>> Groups_;
    std::mutex Turn_; // Left and Committed
};

} // namespace qm
