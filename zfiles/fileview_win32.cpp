// TFileView on Windows: the content read into memory in one go.
#include "errors.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

void TFileView::Open(const TDiskFile& file, size_t size) {
    Close();
    File_ = &file;
    if (size == 0)
        return;
    ReadCopy(file, size);
}

void TFileView::Fill(size_t, size_t) {}

void TFileView::ReleaseBefore(size_t) {}

void TFileView::Close() noexcept {
    std::vector<uint8_t>().swap(Copy_);
    File_ = nullptr;
    Data_ = nullptr;
    Size_ = 0;
    Lo_ = Hi_ = 0;
    SpareFrom_ = SpareTo_ = 0;
}

} // namespace qm
