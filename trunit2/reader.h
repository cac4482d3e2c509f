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
        : Data_(data), Size_(size), Area_(area) {}

    void At(const char* section, int index = -1, const char* field = "") {
        Place_ = TPlace{section, index, field};
    }
    const TPlace& Place() const { return Place_; }

    size_t Pos() const { return Pos_; }
    size_t Remaining() const { return Size_ - Pos_; }
    const uint8_t* Cursor() const { return Data_ + Pos_; }

    // Throws "Read beyond end of file" unless n bytes remain.
    void Need(uint64_t n) const {
        if (n > Remaining()) throw EInOutError(EInOutError::ReadBeyondEnd, Where());
    }
    void Bytes(void* dest, size_t n) {
        Need(n);
        if (View_ && n >= DirectRead) {
            // A large copy goes from the file straight to its place.
            View_->CopyOut(Pos_, dest, n);
            Advance(n);
            return;
        }
        Ensure(n);
        if (n) std::memcpy(dest, Data_ + Pos_, n);
        Advance(n);
    }
    // Makes the next n bytes (checked with Need first) readable at Cursor():
    // a view of a file reads them in when they are not there.
    void Ensure(size_t n) {
        if (View_) View_->Ensure(Pos_, Pos_ + n);
    }
    void Skip(size_t n) {
        Need(n);
        Advance(n);
    }
    // The data is the content of view from its first byte on: its bytes are
    // asked for as they are read, and what lies behind the position is given
    // back to the view as the reading goes on, so it is not held twice (here
    // and in the level it is copied into).
    void ReadThrough(TFileView* view) { View_ = view; }
    bool ReadsThrough() const { return View_ != nullptr; }
    // Copies of this size and more from a view go straight from the file.
    static constexpr size_t DirectRead = size_t{64} << 10;
    uint8_t U8() {
        Need(1);
        Ensure(1);
        return Data_[Pos_++];
    }
    uint16_t U16() {
        Need(2);
        Ensure(2);
        uint16_t v = uint16_t(Data_[Pos_] | (Data_[Pos_ + 1] << 8));
        Pos_ += 2;
        return v;
    }
    uint32_t U32() {
        Need(4);
        Ensure(4);
        const uint8_t* p = Data_ + Pos_;
        Pos_ += 4;
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    std::string Where() const { return DescribePlace(Place_, Area_, int64_t(Pos_)); }
    const char* Area() const { return Area_; }

private:
    static constexpr size_t ReleaseStep = size_t{256} << 10;
    void Advance(size_t n) {
        Pos_ += n;
        if (View_ && Pos_ - Released_ >= ReleaseStep) {
            View_->ReleaseBefore(Pos_);
            Released_ = Pos_;
        }
    }

    const uint8_t* Data_;
    size_t Size_;
    size_t Pos_ = 0;
    const char* Area_;
    TPlace Place_;
    TFileView* View_ = nullptr;
    size_t Released_ = 0;
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
    std::vector<uint8_t> Own;
    std::vector<TPiece> Pieces;
    std::vector<std::vector<uint8_t>> Kept;  // blocks pieces refer to that no model member holds

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
    // Blocks from this size on are referenced in place when composing in pieces.
    static constexpr size_t ReferencedBlock = size_t{64} << 10;

    explicit TWriter(std::vector<uint8_t>& out) : Out_(&out) {}
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
    std::vector<uint8_t>* Out_ = nullptr;
    TComposed* Composed_ = nullptr;
    int64_t Counted_ = 0;
};

} // namespace qm
