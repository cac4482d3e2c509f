// What both systems' file views share: reading the content into memory.
#include <new>

#include "errors.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

void TFileView::ReadCopy(const TDiskFile& file, size_t size) {
    try {
        Copy_.resize(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("reading the file");
    }
    file.ReadAt(0, Copy_.data(), static_cast<int64_t>(size));
    Data_ = Copy_.data();
    Size_ = size;
}

} // namespace qm
