// TChunk: a block of a level that its file may keep as a zlib stream (the
// chunks of a TR4-family file), together with that stream.
//
// A chunk read from a file keeps the stream exactly as read. Its content is
// unpacked from the stream the first time something reads it (its size is
// known without that), and the stream is kept while the content stays the one
// it packs: a save writes such a chunk back as it was read, and packs again
// only a chunk whose content may have changed. Changes are tracked, never found
// by comparing: every access that can change the content (the non-const
// element access, Change()) drops the stream. Read-only access goes through a
// const chunk.
//
// A chunk made from content alone (the 16-bit pages of TR2 and TR3, or any
// content a program assigns) has no stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"

namespace qm {

class TChunk {
public:
    TChunk() = default;

    // The stream as read, of a content of `size` bytes (already counted from
    // it), unpacked at the first read. name ("32-bit texture pages chunk")
    // names the chunk in error reports.
    void KeepPacked(const uint8_t* stream, size_t length, uint64_t size, const char* name);
    // The stream as read, with its content already unpacked.
    void KeepBoth(TBytes stream, TBytes content);
    // A content without a stream: packed afresh when saved.
    void Assign(TBytes content);
    // Gives back the content and the stream: an empty chunk.
    void Release();
    // The stream that packs the current content, made by a save: kept from now
    // on as if read.
    void Adopt(TBytes stream);

    // The content's size, known without unpacking.
    size_t size() const { return Unpacked_ ? Content_.size() : Size_; }
    bool empty() const { return size() == 0; }

    // The content, unpacked at the first call. Throws EOutOfMemory, or
    // EDecompressionError (the chunk named) should the stream not give its
    // counted size.
    const TBytes& Content() const;
    const uint8_t* data() const { return Content().data(); }
    const uint8_t& operator[](size_t i) const { return Content()[i]; }
    const uint8_t& at(size_t i) const { return Content().at(i); }

    // The content for changing: unpacked as above, and from now on packed
    // afresh when saved.
    TBytes& Change();
    uint8_t* data() { return Change().data(); }
    uint8_t& operator[](size_t i) { return Change()[i]; }
    uint8_t& at(size_t i) { return Change().at(i); }

    // Whether the chunk still holds the stream that packs its content, and
    // that stream.
    bool HasStream() const { return HasStream_; }
    const TBytes& Stream() const { return Stream_; }

private:
    void Unpack() const;

    TBytes Stream_;
    bool HasStream_ = false;
    mutable TBytes Content_;
    mutable bool Unpacked_ = true;
    uint64_t Size_ = 0;   // the content's size while it is not unpacked
    std::string Name_;
};

} // namespace qm
