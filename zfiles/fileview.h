// TFileView: the bytes of a whole file, read-only, filled as they are needed
// and given back once used, so that a reader copying the content into a level
// from start to end holds little of it twice. On POSIX systems the view is a
// reserved block of address space that takes memory only where bytes are read
// into it; on Windows the content is read in one go.
//
// Every byte must be asked for (Ensure) before it is read through Data():
// bytes not asked for, or given back, read as zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class TDiskFile;

class TFileView {
public:
    TFileView() = default;
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;
    ~TFileView() { Close(); }

    // Makes the first size bytes of the open file the view's content; file must
    // stay open while the view is used. Throws EOutOfMemory.
    void Open(const TDiskFile& file, size_t size);
    const uint8_t* Data() const { return Data_; }
    size_t Size() const { return Size_; }
    // Makes the bytes from..to (to at most Size()) readable through Data(),
    // reading them from the file when they are not there (again). Throws
    // EInOutError ("Read beyond end of file" when the file got shorter).
    void Ensure(size_t from, size_t to) {
        if (from < Lo_ || to > Hi_) Fill(from, to);
    }
    // Copies the bytes from..from+n (inside Size()) to dest: those held from
    // the view, the others straight from the file without holding them.
    void CopyOut(size_t from, void* dest, size_t n);
    // The bytes before end will not be read again: their memory is given back.
    void ReleaseBefore(size_t end);
    void Close() noexcept;

private:
    void Fill(size_t from, size_t to);
    // The content read into Copy_ (where no block can be reserved).
    void ReadCopy(const TDiskFile& file, size_t size);

    const TDiskFile* File_ = nullptr;
    const uint8_t* Data_ = nullptr;
    size_t Size_ = 0;
    size_t Lo_ = 0, Hi_ = 0;    // the bytes held: Lo_ <= i < Hi_
    size_t SpareFrom_ = 0, SpareTo_ = 0;  // passed pages, kept to be moved ahead
    void* Block_ = nullptr;     // the reserved block, when there is one
    std::vector<uint8_t> Copy_; // the content, when read in one go
};

} // namespace qm
