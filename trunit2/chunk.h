// TChunk: a block of a level that its file may keep as a zlib stream (the
// chunks of a TR4-family file), together with that stream.
//
// A chunk read from a file keeps the stream exactly as read. Its content is
// unpacked from the stream the first time something reads it, and its size is
// counted (the stream inflated without keeping the output) when loading or
// the first time it is asked for. The stream is kept while the content stays
// the one it packs: a save writes such a chunk back as it was read, and packs
// again only a chunk whose content may have changed. Changes are tracked,
// never found by comparing: every access that can change the content (the
// non-const element access, Change()) drops the stream. Read-only access goes
// through a const chunk.
//
// A chunk made from content alone (the 16-bit pages of TR2 and TR3, or any
// content a program assigns) has no stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "bytes.h"

namespace qm {

class TChunk {
public:
    TChunk() = default;

    // The stream as read, unpacked at the first read. name ("32-bit texture
    // pages chunk") names the chunk in error reports.
    void KeepPacked(const uint8_t* stream, size_t length, const char* name);
    // The content's size, counted from the kept stream by the caller.
    void SetCounted(uint64_t size);
    // The content a kept stream unpacks to, when it was unpacked anyway (the
    // level data, on loading): no second unpacking.
    void GiveContent(TBytes content);
    // A content without a stream: packed afresh when saved.
    void Assign(TBytes content);
    // Gives back the content and the stream: an empty chunk.
    void Release();
    // The stream that packs the current content, made by a save: kept from now
    // on as if read.
    void Adopt(TBytes stream);

    // Whether the content's size is known (counted or unpacked).
    bool IsCounted() const { return Unpacked_ || Counted_; }
    // The content's size, counted from the stream when not known yet: a
    // stream that is no sound zlib stream throws EDecompressionError, one that
    // unpacks to more than 256 MiB the refusal of RefuseUnpacked (both naming
    // the chunk); stop as for CountBlock.
    uint64_t Count(const std::function<bool()>& stop = {}) const;
    size_t size() const { return size_t(Count()); }
    bool empty() const { return size() == 0; }

    // The content, unpacked at the first call. Throws as Count, and
    // EOutOfMemory.
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
    mutable bool Counted_ = false;
    mutable uint64_t Size_ = 0;   // the content's size once counted, while it is not unpacked
    std::string Name_;
};

// The chunks of a TR4-family file in file order, by the names error reports
// give them.
extern const char* const ChunkNames[4];

// Refuses the level when its first `upTo` chunks, taken in file order, unpack
// to more than the cap of all chunks together, naming the chunk that passes
// it: ELevelError "The chunks of this level unpack to more than 512 MiB
// together; the level is refused".
void CheckChunksTogether(const uint64_t (&sizes)[4], int upTo);

} // namespace qm
