// TFileView: the bytes of a whole file, read-only, without a second copy where
// the system allows: mapped into memory on POSIX systems, read into memory
// elsewhere. Parts already used can be given back, so that holding the view
// while its content is copied into a level costs little more than the part in
// use.
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

    // Makes the first size bytes of the open file the view's content. Throws
    // EInOutError ("Read beyond end of file" when the file is shorter),
    // EOutOfMemory.
    void Open(const TDiskFile& file, size_t size);
    const uint8_t* Data() const { return Data_; }
    size_t Size() const { return Size_; }
    // The bytes before end will not be read again: their memory may be given
    // back to the system (a mapped view drops those pages; they are read again
    // from the file should they be touched after all).
    void ReleaseBefore(size_t end);
    void Close() noexcept;

private:
    // The content read into Copy_ (where the file is not mapped).
    void ReadCopy(const TDiskFile& file, size_t size);

    const uint8_t* Data_ = nullptr;
    size_t Size_ = 0;
    size_t Released_ = 0;       // bytes before this have been given back
    void* Mapping_ = nullptr;   // the system's mapping, when mapped
    std::vector<uint8_t> Copy_; // the content, when read
};

} // namespace qm
