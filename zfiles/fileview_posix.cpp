// TFileView on POSIX systems: a private anonymous block as large as the file,
// reserved without memory behind it; the file's bytes are read into it piece
// by piece as the reader asks for them. Pages the reader has left behind are
// moved ahead to take the next bytes, so a walk from start to end holds about
// one piece of the file and faults in few new pages. (A mapping of the file
// itself would not do: the system maps a file's cached pages in large blocks,
// holding far more than the part in use.)
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "errors.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

namespace {

// The least read at a time, so that a walk of small fields reads in pieces.
constexpr size_t ReadPiece = size_t{256} << 10;

size_t PageSize() {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

void TFileView::Open(const TDiskFile& file, size_t size) {
    Close();
    File_ = &file;
    if (size == 0)
        return;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        ReadCopy(file, size);
        return;
    }
    Block_ = p;
    Data_ = static_cast<const uint8_t*>(p);
    Size_ = size;
}

void TFileView::Fill(size_t from, size_t to) {
    if (!Block_)
        return;  // read in one go
    to = std::min(to, Size_);
    if (from < Lo_ || from > Hi_) {
        // Not next to what is held: start again there, with no spare pages
        // (they could lie ahead of the new place).
        ReleaseBefore(Hi_);
        if (SpareFrom_ < SpareTo_)
            (void)::madvise(static_cast<uint8_t*>(Block_) + SpareFrom_, SpareTo_ - SpareFrom_, MADV_DONTNEED);
        SpareFrom_ = SpareTo_ = 0;
        Lo_ = Hi_ = from / PageSize() * PageSize();
    }
    auto* block = static_cast<uint8_t*>(Block_);
    while (Hi_ < to) {
        const size_t n = std::min(std::max(to - Hi_, ReadPiece), Size_ - Hi_);
        // Spare pages from behind the reader are moved ahead to take the new
        // bytes; the hole they leave is mapped afresh (taking no memory).
        const size_t moved = std::min(n / PageSize() * PageSize(), SpareTo_ - SpareFrom_);
        if (moved > 0 && Hi_ % PageSize() == 0 &&
            ::mremap(block + SpareFrom_, moved, moved, MREMAP_MAYMOVE | MREMAP_FIXED, block + Hi_) != MAP_FAILED) {
            (void)::mmap(block + SpareFrom_, moved, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
            SpareFrom_ += moved;
        }
        File_->ReadAt(static_cast<int64_t>(Hi_), block + Hi_, static_cast<int64_t>(n));
        Hi_ += n;
    }
}

void TFileView::ReleaseBefore(size_t end) {
    if (!Block_)
        return;
    end = std::min(end, Hi_) / PageSize() * PageSize();
    if (end <= Lo_)
        return;
    // Spare pages not taken since the last time are given back; the newly
    // passed ones wait to be moved ahead.
    if (SpareFrom_ < SpareTo_)
        (void)::madvise(static_cast<uint8_t*>(Block_) + SpareFrom_, SpareTo_ - SpareFrom_, MADV_DONTNEED);
    SpareFrom_ = Lo_;
    SpareTo_ = end;
    Lo_ = end;
}

void TFileView::Close() noexcept {
    if (Block_)
        ::munmap(Block_, Size_);
    Block_ = nullptr;
    std::vector<uint8_t>().swap(Copy_);
    File_ = nullptr;
    Data_ = nullptr;
    Size_ = 0;
    Lo_ = Hi_ = 0;
    SpareFrom_ = SpareTo_ = 0;
}

} // namespace qm
