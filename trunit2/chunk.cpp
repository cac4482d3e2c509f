#include "chunk.h"

#include <new>
#include <utility>

#include "errors.h"
#include "zblocks.h"

namespace qm {

namespace {

TBytes CopyOf(const uint8_t* bytes, size_t length) {
    try {
        return TBytes(bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("keeping a chunk as read");
    }
}

} // namespace

const char* const ChunkNames[4] = {"32-bit texture pages chunk", "16-bit texture pages chunk", "misc texture pages chunk",
                                   "level data chunk"};

void CheckChunksTogether(const uint64_t (&sizes)[4], int upTo) {
    uint64_t total = 0;
    for (int i = 0; i < upTo; ++i) {
        total += sizes[i];
        if (total > LevelChunksCap)
            throw ELevelError("The chunks of this level unpack to more than " + std::to_string(LevelChunksCap >> 20) +
                                  " MiB together; the level is refused",
                              std::string("in the ") + ChunkNames[i]);
    }
}

void TChunk::KeepPacked(const uint8_t* stream, size_t length, const char* name) {
    Stream_ = CopyOf(stream, length);
    HasStream_ = true;
    TBytes().swap(Content_);
    Unpacked_ = false;
    Counted_ = false;
    Size_ = 0;
    Name_ = name;
}

void TChunk::SetCounted(uint64_t size) {
    Size_ = size;
    Counted_ = true;
}

uint64_t TChunk::Count(const std::function<bool()>& stop) const {
    if (Unpacked_) return Content_.size();
    if (!Counted_) {
        Size_ = CountBlock(Stream_.data(), Stream_.size(), TUnpackCap{ChunkCap, Name_}, "in the " + Name_, stop);
        Counted_ = true;
    }
    return Size_;
}

void TChunk::GiveContent(TBytes content) {
    Content_ = std::move(content);
    Unpacked_ = true;
}

void TChunk::Assign(TBytes content) {
    TBytes().swap(Stream_);
    HasStream_ = false;
    Content_ = std::move(content);
    Unpacked_ = true;
}

void TChunk::Release() { Assign({}); }

void TChunk::Adopt(TBytes stream) {
    Stream_ = std::move(stream);
    HasStream_ = true;
}

void TChunk::Unpack() const {
    // Once counted, from these very bytes, the stream gives exactly that size,
    // into a block of that size.
    const uint64_t size = Count();
    Content_ = UnpackCounted(Stream_.data(), Stream_.size(), size, "in the " + Name_);
    Unpacked_ = true;
}

const TBytes& TChunk::Content() const {
    if (!Unpacked_) Unpack();
    return Content_;
}

TBytes& TChunk::Change() {
    if (!Unpacked_) Unpack();
    if (HasStream_) {
        TBytes().swap(Stream_);
        HasStream_ = false;
    }
    return Content_;
}

} // namespace qm
