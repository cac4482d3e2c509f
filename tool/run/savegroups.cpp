#include "savegroups.h"

#include <algorithm>

namespace qm {

size_t SaveGroupSize(int jobs) {
    // Each level waiting for its group's commit holds a few descriptors (its
    // lock, its folder, its new file, a backup's folder) and the places of its
    // hidden names: at most about 32 levels per group, and about 128 waiting
    // in all, however many run side by side. 32 levels of a few MB make a
    // flush of about 100 MB, long beside the few ms a flush costs in itself.
    constexpr int Largest = 32, Waiting = 128;
    return size_t(std::clamp(Waiting / std::max(jobs, 1), 1, Largest));
}

TSaveGroups::TSaveGroups(size_t levels, size_t groupSize) : Size_(std::max<size_t>(groupSize, 1)) {
    for (size_t first = 0; first < levels; first += Size_) {
        const size_t size = std::min(Size_, levels - first);
        Groups_.push_back(std::make_unique<TGroup>(size));
        Groups_.back()->Left = size;
    }
}

void TSaveGroups::Attach(size_t level, TLevelIo& io, const TFinish& finish) {
    TGroup& group = *Groups_[level / Size_];
    io.Batch = &group.Batch;
    io.Slot = level % Size_;
    io.KeptLock = &group.Locks[level % Size_];
    io.OnLockBusy = [this, level, &io, finish] {
        io.Batch = nullptr;
        io.KeptLock = nullptr;
        if (CountRun(level, true)) Commit(level / Size_, finish);
    };
}

bool TSaveGroups::Waiting(size_t level) const { return Groups_[level / Size_]->Batch.Prepared(level % Size_); }

bool TSaveGroups::CountRun(size_t level, bool leaving) {
    TGroup& group = *Groups_[level / Size_];
    std::lock_guard<std::mutex> turn(Turn_);
    if (group.Gone[level % Size_]) return false;
    if (leaving) group.Gone[level % Size_] = true;
    if (--group.Left > 0 || group.Committed) return false;
    group.Committed = true;
    return true;
}

void TSaveGroups::Finished(size_t level, const TFinish& finish) {
    if (CountRun(level, false)) Commit(level / Size_, finish);
}

void TSaveGroups::CommitRest(const TFinish& finish) {
    for (size_t g = 0; g < Groups_.size(); ++g) {
        {
            std::lock_guard<std::mutex> turn(Turn_);
            if (Groups_[g]->Committed) continue;
            Groups_[g]->Committed = true;
        }
        Commit(g, finish);
    }
}

void TSaveGroups::Commit(size_t g, const TFinish& finish) {
    TGroup& group = *Groups_[g];
    std::vector<bool> prepared;
    for (size_t k = 0; k < group.Locks.size(); ++k) prepared.push_back(group.Batch.Prepared(k));
    const std::vector<std::exception_ptr> errors = group.Batch.Commit();
    // Each level stays locked until its new file has its name.
    for (std::unique_ptr<TEditLock>& lock : group.Locks) lock.reset();
    for (size_t k = 0; k < prepared.size(); ++k)
        if (prepared[k]) finish.Saved(g * Size_ + k, errors[k]);
    for (size_t k = 0; k < prepared.size(); ++k)
        if (prepared[k]) finish.Shown(g * Size_ + k);
}

} // namespace qm
