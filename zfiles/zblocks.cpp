// Whole-buffer zlib compression and decompression.
//
// Both steps drive the stream in a loop that feeds the input in pieces zlib's
// 32-bit counters can take. Compression appends its output piece by piece;
// decompression fills a first block and, for a larger output, counts it and
// inflates again into a block of the exact size, so the result never depends on
// how large the first block was and memory stays bounded whatever the stream
// claims. The z_stream is owned by a small guard that ends it on every path,
// errors included.
#include "zblocks.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

#include "errors.h"
#include "platform.h"

namespace qm {
namespace {

// The longest block a length field of the level files (int32) can describe.
constexpr uint64_t MaxBlock = INT32_MAX;

// The first output block holds at most this much plus the input's length. An
// output that does not fit is counted first and then inflated into a block of
// its exact size, so that at any time a stream holds at most this block (a
// size field that lies, or a stream that inflates towards gigabytes, costs no
// more), and four such blocks side by side stay within 64 MiB over twice the
// file's size.
constexpr uint64_t FirstBlockBase = uint64_t{14} << 20;

// The block that output beyond the first block passes through while it is
// counted.
constexpr size_t ScratchBlock = size_t{1} << 20;

// The most output one inflate call may produce, so that a stop test is asked
// often enough to end a long inflate promptly.
constexpr size_t InflatePiece = size_t{16} << 20;

uint64_t RoundUp256(uint64_t n) { return (n + 255) / 256 * 256; }

std::string Place(const std::string& where, const std::string& fallback, const std::string& detail) {
    std::string text = where.empty() ? fallback : where;
    if (!detail.empty())
        text += ": " + detail;
    return text;
}

std::string ZlibDetail(const z_stream& s, int rc) {
    if (s.msg != nullptr)
        return s.msg;
    switch (rc) {
    case Z_STREAM_ERROR: return "inconsistent stream state";
    case Z_DATA_ERROR: return "invalid data";
    case Z_MEM_ERROR: return "out of memory";
    case Z_BUF_ERROR: return "stream ends early";
    case Z_VERSION_ERROR: return "incompatible zlib version";
    case Z_NEED_DICT: return "stream needs a preset dictionary";
    default: return "zlib result " + std::to_string(rc);
    }
}

// Resizes the output block, turning an allocation failure into EOutOfMemory.
void Resize(TBytes& block, uint64_t length, const std::string& where) {
    try {
        block.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(where);
    } catch (const std::length_error&) {
        throw EOutOfMemory(where);
    }
}

// Cuts the block to its exact length and gives back the unused memory.
void ShrinkToLength(TBytes& block, size_t length) {
    block.resize(length);
    try {
        block.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        // Keeping the larger allocation is harmless; the length is already exact.
    }
}

// Hands zlib the next piece of input when the previous one is used up.
void FeedInput(z_stream& s, const uint8_t* input, size_t length, size_t& fed) {
    if (s.avail_in == 0 && fed < length) {
        const size_t piece = std::min<size_t>(length - fed, UINT_MAX);
        // zlib's input pointer is not const in every zlib version; it never writes through it.
        s.next_in = const_cast<Bytef*>(input + fed);
        s.avail_in = static_cast<uInt>(piece);
        fed += piece;
    }
}

void SetOutput(z_stream& s, TBytes& out, size_t done, size_t most) {
    s.next_out = out.data() + done;
    s.avail_out = static_cast<uInt>(std::min<size_t>({out.size() - done, most, UINT_MAX}));
}

class DeflateStream {
public:
    z_stream S{};
    ~DeflateStream() {
        if (Live)
            deflateEnd(&S);
    }
    bool Live = false;
};

class InflateStream {
public:
    z_stream S{};
    ~InflateStream() {
        if (Live)
            inflateEnd(&S);
    }
    bool Live = false;
};

} // namespace

TBytes CompressBlock(const uint8_t* input, size_t length) {
    const std::string place = "zlib compression";
    DeflateStream z;
    int rc = deflateInit2(&z.S, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    if (rc == Z_MEM_ERROR)
        throw EOutOfMemory(place);
    if (rc != Z_OK)
        throw ECompressionError(Place({}, place, ZlibDetail(z.S, rc)));
    z.Live = true;

    // The stream is produced in pieces through a small scratch block and
    // appended to the result, so only the bytes of the stream itself are ever
    // touched (an output block sized for the worst case would be written in
    // full, and cost its whole size in memory, for a stream of a quarter of it).
    constexpr size_t Piece = size_t{1} << 18;
    TBytes scratch;
    Resize(scratch, std::min<uint64_t>(Piece, RoundUp256(uint64_t{length} + length / 10 + 12)), place);
    TBytes out;
    size_t fed = 0;
    size_t done = 0;
    for (;;) {
        FeedInput(z.S, input, length, fed);
        z.S.next_out = scratch.data();
        z.S.avail_out = static_cast<uInt>(scratch.size());
        // Everything has been handed over once the last piece is in avail_in.
        const int flush = fed == length ? Z_FINISH : Z_NO_FLUSH;
        const uInt inBefore = z.S.avail_in;
        rc = deflate(&z.S, flush);
        const size_t produced = scratch.size() - z.S.avail_out;
        if (produced > 0) {
            if (done + produced > MaxBlock)
                throw ECompressionError(Place({}, place, "the compressed block would exceed 2 GiB"));
            try {
                out.insert(out.end(), scratch.data(), scratch.data() + produced);
            } catch (const std::bad_alloc&) {
                throw EOutOfMemory(place);
            }
            done += produced;
        }
        if (rc == Z_STREAM_END)
            break;
        // Z_BUF_ERROR only says that this call could not move; with output
        // room always provided it is fatal when nothing moved at all.
        const bool moved = produced > 0 || z.S.avail_in != inBefore;
        if (rc == Z_OK || (rc == Z_BUF_ERROR && moved))
            continue;
        if (rc == Z_MEM_ERROR)
            throw EOutOfMemory(place);
        throw ECompressionError(Place({}, place, ZlibDetail(z.S, rc)));
    }
    if (done > MaxBlock)
        throw ECompressionError(Place({}, place, "the compressed block would exceed 2 GiB"));
    return out;
}

void RefuseUnpacked(const std::string& what, uint64_t most, const std::string& where) {
    throw ELevelError("The " + what + " unpacks to more than " + std::to_string(most >> 20) +
                          " MiB; the level is refused",
                      where);
}

namespace {

// What every pass over one stream shares: the names for its error reports, the
// stop test and the cap.
struct TPassContext {
    const std::string& Where;
    const std::string Fallback = "zlib stream";
    const std::function<bool()>& Stop;
    const TUnpackCap& Cap;

    std::string At(const std::string& detail) const { return Place(Where, Fallback, detail); }

    // Refuses an output of done bytes when it passes the cap.
    void CheckOutput(uint64_t done) const {
        if (done <= Cap.Most)
            return;
        if (Cap.What.empty())
            throw EDecompressionError(At("the decompressed block would exceed 2 GiB"));
        RefuseUnpacked(Cap.What, Cap.Most, Where);
    }
};

// One inflate pass over the whole stream. Output goes to `out` while it has
// room; with `count` set, output beyond it goes to a scratch block and is only
// counted, else the pass stops when the block is full. Output beyond the cap
// ends the pass with its refusal. Returns the bytes produced so far; ended
// tells whether the stream came to its end.
uint64_t InflatePass(const uint8_t* input, size_t length, TBytes& out, bool count, bool& ended,
                     const TPassContext& c) {
    ended = false;
    InflateStream z;
    int rc = inflateInit(&z.S);
    if (rc == Z_MEM_ERROR)
        throw EOutOfMemory(c.At("zlib decompressor"));
    if (rc != Z_OK)
        throw EDecompressionError(c.At(ZlibDetail(z.S, rc)));
    z.Live = true;

    TBytes scratch;
    size_t fed = 0;
    uint64_t done = 0;
    for (;;) {
        FeedInput(z.S, input, length, fed);
        if (c.Stop && c.Stop())
            throw EDecompressionError(c.At("stopped: an earlier part of the file failed"));
        // Where this round's output goes: the block while it has room; then,
        // when counting, the scratch block (so that a round passes the cap by
        // no more than its size); else one byte that only tells whether the
        // stream has more to give.
        uint8_t probe = 0;
        const bool inBlock = done < out.size();
        if (inBlock) {
            SetOutput(z.S, out, static_cast<size_t>(done), InflatePiece);
        } else if (count) {
            if (scratch.empty())
                Resize(scratch, ScratchBlock, c.At("decompression block"));
            z.S.next_out = scratch.data();
            z.S.avail_out = static_cast<uInt>(scratch.size());
        } else {
            z.S.next_out = &probe;
            z.S.avail_out = 1;
        }
        const uInt room = z.S.avail_out;
        rc = inflate(&z.S, Z_NO_FLUSH);
        if (!inBlock && !count && z.S.avail_out == 0)
            return done + 1;  // more output than the block holds: the caller decides
        done += room - z.S.avail_out;
        c.CheckOutput(done);
        if (rc == Z_STREAM_END) {
            ended = true;
            return done;
        }
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR) {
            if (z.S.avail_out == 0)
                continue; // the output is full: the next round decides
            if (z.S.avail_in == 0 && fed < length)
                continue; // the next piece of input is waiting
            throw EDecompressionError(c.At("the stream ends early"));
        }
        if (rc == Z_MEM_ERROR)
            throw EOutOfMemory(c.At("zlib decompressor"));
        throw EDecompressionError(c.At(ZlibDetail(z.S, rc)));
    }
}

// The first output block: the stated size, but never more than a modest block
// plus the input's own length, so a lying size field costs little; without a
// stated size, a few times the input; never more than the cap allows.
// (deflate cannot expand its input by more than 1032 times, so no honest
// stream needs a first block beyond that either.)
uint64_t FirstBlockSize(size_t length, int64_t estimate, uint64_t cap) {
    const uint64_t possible = length > (uint64_t{1} << 40) ? UINT64_MAX : uint64_t{length} * 1032 + 65536;
    const uint64_t most = std::min({FirstBlockBase + length, possible, cap});
    return estimate > 0 ? std::min<uint64_t>(static_cast<uint64_t>(estimate), most)
                        : std::min<uint64_t>(most, RoundUp256(uint64_t{length} * 4 + 1024));
}

} // namespace

TMeasuredBlock MeasureBlock(const uint8_t* input, size_t length, int64_t estimate, const TUnpackCap& cap,
                            const std::string& where, const std::function<bool()>& stop) {
    const TPassContext c{where, "zlib stream", stop, cap};
    TMeasuredBlock m;
    Resize(m.Out, FirstBlockSize(length, estimate, cap.Most), c.At("decompression block"));
    // The block is filled from its start: its memory is faulted in at once
    // (a stream that fills less leaves the rest unused, as it would anyway
    // have been reserved).
    FaultIn(m.Out.data(), m.Out.size());
    bool ended = false;
    m.Size = InflatePass(input, length, m.Out, true, ended, c);
    m.Complete = m.Size <= m.Out.size();
    if (m.Complete)
        ShrinkToLength(m.Out, static_cast<size_t>(m.Size));
    else
        TBytes().swap(m.Out);
    return m;
}

TBytes FinishBlock(TMeasuredBlock&& measured, const uint8_t* input, size_t length, const std::string& where,
                   const std::function<bool()>& stop) {
    if (measured.Complete)
        return std::move(measured.Out);
    // The size is known and within the cap: one more pass into a block of
    // exactly that size, which the pass never writes beyond.
    const TUnpackCap whole;
    const TPassContext c{where, "zlib stream", stop, whole};
    TBytes out;
    Resize(out, measured.Size, c.At("decompression block"));
    FaultIn(out.data(), out.size());
    bool ended = false;
    const uint64_t produced = InflatePass(input, length, out, false, ended, c);
    if (!ended || produced != measured.Size)
        throw EDecompressionError(c.At("the stream changed between two readings"));
    return out;
}

uint64_t CountBlock(const uint8_t* input, size_t length, const TUnpackCap& cap, const std::string& where,
                    const std::function<bool()>& stop) {
    const TPassContext c{where, "zlib stream", stop, cap};
    TBytes none;
    bool ended = false;
    return InflatePass(input, length, none, true, ended, c);
}

TBytes UnpackCounted(const uint8_t* input, size_t length, uint64_t size, const std::string& where) {
    TMeasuredBlock counted;
    counted.Size = size;
    return FinishBlock(std::move(counted), input, length, where);
}

TBytes DecompressBlock(const uint8_t* input, size_t length, int64_t estimate, const std::string& where,
                       const std::function<bool()>& stop, const TUnpackCap& cap) {
    return FinishBlock(MeasureBlock(input, length, estimate, cap, where, stop), input, length, where, stop);
}

} // namespace qm
