// TReader: the checked cursor every level read goes through, and TWriter, its
// counterpart for saving.
//
// The reader's Need() is the single place that compares positions: any read the
// level structure needs beyond the available data throws "Read beyond end of
// file" with the byte offset and the place in the level (set by At()).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "errors.h"
#include "fileview.h"

namespace qm {

// Where the walk is in the level, for error reports. Cheap to set; formatted
// only when an error is raised.
struct TPlace {
    const char* Section = "";
    int Index = -1;        // room index, or -1
    const char* Field = "";
};

std::string DescribePlace(const TPlace& place, const char* area, int64_t offset);

class TReader {
public:
    // area names the data for error reports ("file", "level data chunk").
    TReader(const uint8_t* data, size_t size, const char* area)
        : Base_(data), Size_(size), Hi_(size), Area_(area) {}

    void At(const char* section, int index = -1, const char* field = "") {
        Place_ = TPlace{section, index, field};
    }
    const TPlace& Place() const { return Place_; }

    size_t Pos() const { return Pos_; }
    size_t Remaining() const { return Size_ - Pos_; }
    // The byte at the position; from a view, valid up to the next Ensure.
    const uint8_t* Cursor() const { return Base_ + (Pos_ - Lo_); }

    // Throws "Read beyond end of file" unless n bytes remain.
    void Need(uint64_t n) const {
        if (n > Remaining()) throw EInOutError(EInOutError::ReadBeyondEnd, Where());
    }
    void Bytes(void* dest, size_t n) {
        Need(n);
        if (View_ && n >= DirectRead) {
            // A large copy goes from the file straight to its place.
            View_->CopyOut(Pos_, dest, n);
            Pos_ += n;
            return;
        }
        Ensure(n);
        if (n) std::memcpy(dest, Cursor(), n);
        Pos_ += n;
    }
    // Makes the next n bytes (checked with Need first) readable at Cursor():
    // a view of a file reads them in when its window does not hold them.
    void Ensure(size_t n) {
        if (Pos_ < Lo_ || Pos_ + n > Hi_) Slide(n);
    }
    void Skip(size_t n) {
        Need(n);
        Pos_ += n;
    }
    // The data is the content of view, from its first byte on: its bytes are
    // read through the view's window as they are asked for, so they are not
    // held whole besides the level they are copied into.
    void ReadThrough(TFileView* view) {
        if (!view) return;
        View_ = view;
        Base_ = nullptr;
        Lo_ = Hi_ = 0;
    }
    bool ReadsThrough() const { return View_ != nullptr; }
    // Copies of this size and more from a view go straight from the file.
    static constexpr size_t DirectRead = size_t{64} << 10;
    uint8_t U8() {
        Need(1);
        Ensure(1);
        const uint8_t v = *Cursor();
        ++Pos_;
        return v;
    }
    uint16_t U16() {
        Need(2);
        Ensure(2);
        const uint8_t* p = Cursor();
        Pos_ += 2;
        return uint16_t(p[0] | (p[1] << 8));
    }
    uint32_t U32() {
        Need(4);
        Ensure(4);
        const uint8_t* p = Cursor();
        Pos_ += 4;
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    std::string Where() const { return DescribePlace(Place_, Area_, int64_t(Pos_)); }
    const char* Area() const { return Area_; }

private:
    void Slide(size_t n) {
        // Only a view's window can lack bytes that Need() found in the data.
        if (!View_) return;
        Base_ = View_->Ensure(Pos_, Pos_ + n);
        Lo_ = View_->Lo();
        Hi_ = View_->Hi();
        Base_ -= Pos_ - Lo_;
    }

    const uint8_t* Base_;  // the byte at Lo_
    size_t Size_;
    size_t Pos_ = 0;
    size_t Lo_ = 0, Hi_;   // the bytes readable from Base_: all of in-memory data
    const char* Area_;
    TPlace Place_;
    TFileView* View_ = nullptr;
};

// A saved level in pieces, in file order: runs of a composed byte block, and
// large blocks referenced where the model holds them, so that a save need not
// copy the texture pages and other large arrays into a second whole file.
struct TComposed {
    struct TPiece {
        const uint8_t* Data;  // the referenced block; null for a run of Own
        size_t Offset;        // the run's start in Own
        size_t Size;
    };
    TBytes Own;
    std::vector<TPiece> Pieces;
    std::vector<TBytes> Kept;  // blocks pieces refer to that no model member holds

    size_t Size() const {
        size_t n = 0;
        for (const TPiece& p : Pieces) n += p.Size;
        return n;
    }
    const uint8_t* Start(const TPiece& p) const { return p.Data ? p.Data : Own.data() + p.Offset; }
    // The whole content in one block.
    std::vector<uint8_t> Flatten() const {
        std::vector<uint8_t> all;
        all.reserve(Size());
        for (const TPiece& p : Pieces) all.insert(all.end(), Start(p), Start(p) + p.Size);
        return all;
    }
};

// Appends little-endian fields to a byte block, or to a TComposed (where large
// blocks are referenced instead of copied); or, made with neither, only counts
// the bytes (the saver sizes its block once with a counting walk before the
// writing walk).
class TWriter {
public:
    // Blocks from this size on are referenced in place when composing in
    // pieces (the store writes the pieces with gathering writes): below it,
    // copying costs less than a piece of its own.
    static constexpr size_t ReferencedBlock = 512;

    explicit TWriter(TBytes& out) : Out_(&out) {}
    explicit TWriter(TComposed& out) : Out_(&out.Own), Composed_(&out) {}
    TWriter() = default;
    bool Counting() const { return Out_ == nullptr; }
    int64_t Counted() const { return Counted_; }
    void Bytes(const void* src, size_t n) {
        if (n > size_t(INT32_MAX)) throw ERangeError("level content larger than 2 GiB");
        Counted_ += int64_t(n);
        if (!Out_ || n == 0) return;
        if (Counted_ > INT32_MAX) throw EOutOfMemory("the level content would exceed 2 GiB");
        const auto* p = static_cast<const uint8_t*>(src);
        if (!Composed_) {
            Out_->insert(Out_->end(), p, p + n);
            return;
        }
        std::vector<TComposed::TPiece>& pieces = Composed_->Pieces;
        if (n >= ReferencedBlock) {
            pieces.push_back({p, 0, n});
            return;
        }
        if (pieces.empty() || pieces.back().Data) pieces.push_back({nullptr, Out_->size(), 0});
        Out_->insert(Out_->end(), p, p + n);
        pieces.back().Size += n;
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        Bytes(b, 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        Bytes(b, 4);
    }

private:
    TBytes* Out_ = nullptr;
    TComposed* Composed_ = nullptr;
    int64_t Counted_ = 0;
};

} // namespace qm
