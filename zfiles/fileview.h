// TFileView: a file's content read through a window that slides along it, so
// that a reader copying the content into a level from start to end holds only
// a window's worth of it twice, and the window's memory is used over and over
// (no fresh pages to fault in for each piece of the file).
//
// Bytes are asked for by range (Ensure) and read through the pointer it gives
// back, which stays valid until the next Ensure or ReleaseBefore. The window
// keeps the asked-for bytes and reads ahead; bytes before the start of a range
// asked for may be dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

class TDiskFile;

class TFileView {
public:
    TFileView() = default;
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;
    ~TFileView() { Close(); }

    // Makes the first size bytes of the open file the view's content; file must
    // stay open while the view is used.
    void Open(const TDiskFile& file, size_t size);
    bool IsOpen() const { return File_ != nullptr; }
    size_t Size() const { return Size_; }
    // Makes the bytes from..to (to at most Size()) readable and gives back the
    // place of byte from, reading from the file what the window does not hold.
    // Throws EInOutError ("Read beyond end of file" when the file got shorter)
    // and EOutOfMemory.
    const uint8_t* Ensure(size_t from, size_t to) {
        if (from < Lo_ || to > Hi_) Fill(from, to);
        return Window_.get() + (from - Lo_);
    }
    // The bytes the window holds: Lo() <= i < Hi().
    size_t Lo() const { return Lo_; }
    size_t Hi() const { return Hi_; }
    // Copies the bytes from..from+n (inside Size()) to dest: those held from
    // the window, the others straight from the file without holding them.
    void CopyOut(size_t from, void* dest, size_t n);
    // The bytes before end will not be read again: a window grown larger than
    // its usual size for them is given back.
    void ReleaseBefore(size_t end);
    void Close() noexcept;

    // The usual window: read ahead in pieces this large.
    static constexpr size_t WindowSize = size_t{128} << 10;

private:
    void Fill(size_t from, size_t to);

    const TDiskFile* File_ = nullptr;
    size_t Size_ = 0;
    std::unique_ptr<uint8_t[]> Window_;
    size_t Capacity_ = 0;
    size_t Lo_ = 0, Hi_ = 0;  // the file bytes the window holds, from Window_[0]
};

} // namespace qm
