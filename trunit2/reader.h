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
        if (n) std::memcpy(dest, Data_ + Pos_, n);
        Pos_ += n;
    }
    void Skip(size_t n) {
        Need(n);
        Pos_ += n;
    }
    uint8_t U8() {
        Need(1);
        return Data_[Pos_++];
    }
    uint16_t U16() {
        Need(2);
        uint16_t v = uint16_t(Data_[Pos_] | (Data_[Pos_ + 1] << 8));
        Pos_ += 2;
        return v;
    }
    uint32_t U32() {
        Need(4);
        const uint8_t* p = Data_ + Pos_;
        Pos_ += 4;
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    std::string Where() const { return DescribePlace(Place_, Area_, int64_t(Pos_)); }
    const char* Area() const { return Area_; }

private:
    const uint8_t* Data_;
    size_t Size_;
    size_t Pos_ = 0;
    const char* Area_;
    TPlace Place_;
};

// Appends little-endian fields to a byte block; or, made without one, only
// counts the bytes (the saver sizes its block once with a counting walk before
// the writing walk).
class TWriter {
public:
    explicit TWriter(std::vector<uint8_t>& out) : Out_(&out) {}
    TWriter() = default;
    bool Counting() const { return Out_ == nullptr; }
    int64_t Counted() const { return Counted_; }
    void Bytes(const void* src, size_t n) {
        if (n > size_t(INT32_MAX)) throw ERangeError("level content larger than 2 GiB");
        if (!Out_) {
            Counted_ += int64_t(n);
            return;
        }
        if (Out_->size() + n > size_t(INT32_MAX)) throw EOutOfMemory("the level content would exceed 2 GiB");
        const auto* p = static_cast<const uint8_t*>(src);
        if (n) Out_->insert(Out_->end(), p, p + n);
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
    int64_t Counted_ = 0;
};

} // namespace qm
