// TFileView on POSIX systems: a private read-only mapping of the file. Pages
// come from the system's file cache as they are first touched (no copy into a
// buffer of our own), and pages already used are dropped again.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "errors.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

void TFileView::Open(const TDiskFile& file, size_t size) {
    Close();
    if (size == 0)
        return;
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, static_cast<int>(file.Descriptor()), 0);
    if (p == MAP_FAILED) {
        // Some files cannot be mapped (special file systems): read them instead.
        ReadCopy(file, size);
        return;
    }
    // Read ahead: the content is walked from its start to its end.
    (void)::madvise(p, size, MADV_SEQUENTIAL);
    Mapping_ = p;
    Data_ = static_cast<const uint8_t*>(p);
    Size_ = size;
}

void TFileView::ReleaseBefore(size_t end) {
    if (!Mapping_)
        return;
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    end = std::min(end, Size_) / page * page;
    if (end <= Released_)
        return;
    (void)::madvise(static_cast<uint8_t*>(Mapping_) + Released_, end - Released_, MADV_DONTNEED);
    Released_ = end;
}

void TFileView::Close() noexcept {
    if (Mapping_)
        ::munmap(Mapping_, Size_);
    Mapping_ = nullptr;
    std::vector<uint8_t>().swap(Copy_);
    Data_ = nullptr;
    Size_ = 0;
    Released_ = 0;
}

} // namespace qm
