// TFileView: the file's bytes through a window that slides along the file.
#include "fileview.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "errors.h"
#include "platform.h"

namespace qm {

void TFileView::Open(const TDiskFile& file, size_t size) {
    Close();
    File_ = &file;
    Size_ = size;
}

void TFileView::Fill(size_t from, size_t to) {
    to = std::min(to, Size_);
    from = std::min(from, to);
    // The held bytes from `from` on stay, moved to the window's start; bytes
    // before it are dropped. A range not next to what is held starts afresh.
    size_t kept = 0;
    if (from >= Lo_ && from < Hi_) kept = Hi_ - from;
    const size_t need = to - from;
    if (need > Capacity_) {
        // The first window, or a range larger than the window: a window of
        // its size, which keeps what is held.
        const size_t capacity = std::max(need, WindowSize);
        std::unique_ptr<uint8_t[]> larger;
        try {
            larger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("reading the file");
        }
        FaultIn(larger.get(), capacity);
        if (kept) std::memcpy(larger.get(), Window_.get() + (from - Lo_), kept);
        Window_ = std::move(larger);
        Capacity_ = capacity;
    } else if (kept && from > Lo_) {
        std::memmove(Window_.get(), Window_.get() + (from - Lo_), kept);
    }
    Lo_ = from;
    Hi_ = from + kept;
    // Read ahead as far as the window reaches: a walk of small fields then
    // reads the file in window-sized pieces.
    const size_t end = std::min(Size_, from + Capacity_);
    if (Hi_ < end) {
        try {
            File_->ReadAt(static_cast<int64_t>(Hi_), Window_.get() + kept, static_cast<int64_t>(end - Hi_));
        } catch (...) {
            Lo_ = Hi_ = 0;
            throw;
        }
        Hi_ = end;
    }
}

void TFileView::CopyOut(size_t from, void* dest, size_t n) {
    auto* to = static_cast<uint8_t*>(dest);
    if (from < Hi_ && from + n > Lo_) {
        // The part the window holds, from its start: a piece before Lo_ is
        // read from the file first.
        if (from < Lo_) {
            File_->ReadAt(static_cast<int64_t>(from), to, static_cast<int64_t>(Lo_ - from));
            to += Lo_ - from, n -= Lo_ - from, from = Lo_;
        }
        const size_t held = std::min(n, Hi_ - from);
        std::memcpy(to, Window_.get() + (from - Lo_), held);
        to += held, n -= held, from += held;
    }
    if (n > 0)
        File_->ReadAt(static_cast<int64_t>(from), to, static_cast<int64_t>(n));
}

void TFileView::ReleaseBefore(size_t end) {
    if (end < Hi_ || Capacity_ <= WindowSize)
        return;
    Window_.reset();
    Capacity_ = 0;
    Lo_ = Hi_ = 0;
}

void TFileView::Close() noexcept {
    Window_.reset();
    Capacity_ = 0;
    File_ = nullptr;
    Size_ = 0;
    Lo_ = Hi_ = 0;
}

} // namespace qm
