// What both systems' file views share: reading the content into memory.
#include <algorithm>
#include <cstring>
#include <new>

#include "errors.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

void TFileView::CopyOut(size_t from, void* dest, size_t n) {
    auto* to = static_cast<uint8_t*>(dest);
    if (from < Hi_ && from + n > Lo_) {
        // The part the view holds, from its start: a piece before Lo_ is read
        // from the file first.
        if (from < Lo_) {
            File_->ReadAt(static_cast<int64_t>(from), to, static_cast<int64_t>(Lo_ - from));
            to += Lo_ - from, n -= Lo_ - from, from = Lo_;
        }
        const size_t held = std::min(n, Hi_ - from);
        std::memcpy(to, Data_ + from, held);
        to += held, n -= held, from += held;
    }
    if (n > 0)
        File_->ReadAt(static_cast<int64_t>(from), to, static_cast<int64_t>(n));
}

void TFileView::ReadCopy(const TDiskFile& file, size_t size) {
    try {
        Copy_.resize(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("reading the file");
    }
    file.ReadAt(0, Copy_.data(), static_cast<int64_t>(size));
    Data_ = Copy_.data();
    Size_ = size;
    Lo_ = 0;
    Hi_ = size;
}

} // namespace qm
