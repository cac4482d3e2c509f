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

void TChunk::KeepPacked(const uint8_t* stream, size_t length, uint64_t size, const char* name) {
    Stream_ = CopyOf(stream, length);
    HasStream_ = true;
    TBytes().swap(Content_);
    Unpacked_ = false;
    Size_ = size;
    Name_ = name;
}

void TChunk::KeepBoth(TBytes stream, TBytes content) {
    Stream_ = std::move(stream);
    HasStream_ = true;
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
    // The stream was counted when it was read, from these very bytes: it
    // gives exactly that size, into a block of that size.
    Content_ = UnpackCounted(Stream_.data(), Stream_.size(), Size_, "in the " + Name_);
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
