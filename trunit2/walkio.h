// The two directions a layout walk goes in (see layout.h): TLoadIO reads the
// model from a level's bytes through the checked reader, TSaveIO writes the
// model through a writer. Both offer the same verbs:
//   At(section, index, field)  names the place, for error reports
//   Raw(bytes) / Field(value)  a byte block or a little-endian field
//   Count(held, width, size)   a count: on load read and checked against the
//                              bytes that remain before anything is allocated;
//                              on save written from the model
//   Block(vector, n)           a byte block of n bytes (load: checked, sized)
//   Elements(vector, n)        n array elements (already sized on load)
//   Computed(field, fn)        on load read and kept; on save computed by fn
//   Rest(vector)               everything up to the end of the data
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "errors.h"
#include "reader.h"
#include "trlevel.h"

namespace qm {

// One compressed chunk of a TR4-family file: on load the packed bytes inside the
// file content; on save the stream written, kept from loading or freshly packed.
struct TChunkSlot {
    const char* Name = "";
    const uint8_t* Packed = nullptr;  // load: points into the file content; save: the stream
    int32_t PackedSize = 0;
    int32_t StatedSize = 0;           // the unpacked size field: load: as stored; save: to store
    TBytes Stream;                    // save: a freshly packed stream (Packed points into it)
};

// Sizes a level array to n elements that are filled at once: nothing is
// zero-filled first.
template <class T>
void SizeToFill(TArray<T>& v, int64_t n) {
    try {
        v.resize(size_t(n));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

struct TLoadIO {
    static constexpr bool Loading = true;
    TReader& R;
    Ttrlevel& L;

    void At(const char* section, int index = -1, const char* field = "") { R.At(section, index, field); }
    void Report(int percent) { L.Report(percent); }
    void Raw(void* p, size_t n) { R.Bytes(p, n); }
    template <size_t N>
    void Raw(TRec<N>& r) { R.Bytes(r.data(), N); }
    template <size_t N>
    void Raw(std::array<uint8_t, N>& r, size_t n) { R.Bytes(r.data(), n); }
    void Field(uint8_t& v) { v = R.U8(); }
    void Field(uint16_t& v) { v = R.U16(); }
    void Field(int16_t& v) { v = int16_t(R.U16()); }
    void Field(uint32_t& v) { v = R.U32(); }
    void Field(int32_t& v) { v = int32_t(R.U32()); }

    int64_t Count(int64_t /*held*/, int width, uint64_t elementSize) {
        int64_t n = width == 2 ? int64_t(R.U16()) : int64_t(int32_t(R.U32()));
        if (n < 0 || uint64_t(n) * elementSize > uint64_t(INT32_MAX)) throw ERangeError(R.Where());
        R.Need(uint64_t(n) * elementSize);
        return n;
    }
    void Need(uint64_t bytes) { R.Need(bytes); }
    void Block(TBytes& v, int64_t n) {
        if (n < 0 || n > INT32_MAX) throw ERangeError(R.Where());
        R.Need(uint64_t(n));
        // Not zero-filled first; from a file, a large block is read straight
        // into its place.
        SizeToFill(v, n);
        R.Bytes(v.data(), size_t(n));
    }
    template <class T, class A>
    void Elements(std::vector<T, A>& v, int64_t n) {
        if constexpr (std::is_integral_v<T> && sizeof(T) > 1 && std::endian::native != std::endian::little) {
            for (int64_t i = 0; i < n; ++i) Field(v[size_t(i)]);
        } else {
            R.Bytes(v.data(), size_t(n) * sizeof(T));
        }
    }
    template <class Fn>
    void Computed(uint32_t& v, Fn) { v = R.U32(); }
    void Block(TChunk& v, int64_t n) {
        TBytes b;
        Block(b, n);
        v.Assign(std::move(b));
    }
    void Rest(TBytes& v) { Block(v, int64_t(R.Remaining())); }
    void Chunk(TChunkSlot& slot) {
        const int32_t unpacked = int32_t(R.U32());
        const int32_t packed = int32_t(R.U32());
        if (packed < 0) throw ERangeError(R.Where());
        R.Need(uint64_t(packed));
        R.Ensure(size_t(packed));
        slot.Packed = R.Cursor();
        slot.PackedSize = packed;
        slot.StatedSize = unpacked;
        R.Skip(size_t(packed));
    }
};

struct TSaveIO {
    static constexpr bool Loading = false;
    TWriter& W;
    Ttrlevel& L;

    void At(const char*, int = -1, const char* = "") {}
    void Report(int percent) {
        if (!W.Counting()) L.Report(percent);
    }
    void Raw(const void* p, size_t n) { W.Bytes(p, n); }
    template <size_t N>
    void Raw(const TRec<N>& r) { W.Bytes(r.data(), N); }
    template <size_t N>
    void Raw(const std::array<uint8_t, N>& r, size_t n) { W.Bytes(r.data(), n); }
    void Field(uint8_t v) { W.U8(v); }
    void Field(uint16_t v) { W.U16(v); }
    void Field(int16_t v) { W.U16(uint16_t(v)); }
    void Field(uint32_t v) { W.U32(v); }
    void Field(int32_t v) { W.U32(uint32_t(v)); }

    int64_t Count(int64_t held, int width, uint64_t) {
        if (width == 2) W.U16(uint16_t(held));
        else W.U32(uint32_t(held));
        return held;
    }
    void Need(uint64_t) {}
    static void CheckHeld(size_t have, int64_t n) {
        if (n < 0 || uint64_t(n) > have)
            throw ELevelError("The level model is inconsistent: an array holds fewer elements than its count");
    }
    void Block(const TBytes& v, int64_t n) {
        CheckHeld(v.size(), n);
        W.Bytes(v.data(), size_t(n));
    }
    template <class T, class A>
    void Elements(const std::vector<T, A>& v, int64_t n) {
        CheckHeld(v.size(), n);
        if constexpr (std::is_integral_v<T> && sizeof(T) > 1 && std::endian::native != std::endian::little) {
            for (int64_t i = 0; i < n; ++i) Field(v[size_t(i)]);
        } else {
            W.Bytes(v.data(), size_t(n) * sizeof(T));
        }
    }
    template <class Fn>
    void Computed(uint32_t& v, Fn fn) {
        v = fn();
        W.U32(v);
    }
    void Block(const TChunk& v, int64_t n) { Block(v.Content(), n); }
    void Rest(const TBytes& v) { W.Bytes(v.data(), v.size()); }
    void Chunk(const TChunkSlot& slot) {
        W.U32(uint32_t(slot.StatedSize));
        W.U32(uint32_t(slot.PackedSize));
        W.Bytes(slot.Packed, size_t(slot.PackedSize));
    }
};

} // namespace qm
