// Whole-buffer zlib compression and decompression.
//
// Both steps drive the stream in a loop that feeds the input in pieces zlib's
// 32-bit counters can take and grows the output block when it fills, so the
// result never depends on how large the first output block was. The z_stream is
// owned by a small guard that ends it on every path, errors included.
#include "zblocks.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

#include "errors.h"

namespace qm {
namespace {

// The longest block a length field of the level files (int32) can describe.
constexpr uint64_t MaxBlock = INT32_MAX;

// deflate cannot expand its input by more than this ratio (258-byte matches
// coded in one bit each, plus the block overhead), so no honest stream inflates
// to more than 1032 times its length plus a little.
constexpr uint64_t MaxInflateRatio = 1032;
constexpr uint64_t InflateSlack = 65536;

// A stated size sizes the first output block only up to this much. Larger
// honest outputs grow from there; a size field that lies cannot make a small
// file claim a block of up to a thousand times its length before inflating.
constexpr uint64_t MaxTrustedEstimate = uint64_t{64} << 20;

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
void Resize(std::vector<uint8_t>& block, uint64_t length, const std::string& where) {
    try {
        block.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(where);
    } catch (const std::length_error&) {
        throw EOutOfMemory(where);
    }
}

// Cuts the block to its exact length and gives back the unused memory.
void ShrinkToLength(std::vector<uint8_t>& block, size_t length) {
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

void SetOutput(z_stream& s, std::vector<uint8_t>& out, size_t done, size_t most) {
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

std::vector<uint8_t> CompressBlock(const uint8_t* input, size_t length) {
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
    std::vector<uint8_t> scratch;
    Resize(scratch, std::min<uint64_t>(Piece, RoundUp256(uint64_t{length} + length / 10 + 12)), place);
    std::vector<uint8_t> out;
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

std::vector<uint8_t> DecompressBlock(const uint8_t* input, size_t length, int64_t estimate,
                                     const std::string& where, const std::function<bool()>& stop) {
    const std::string fallback = "zlib stream";
    InflateStream z;
    int rc = inflateInit(&z.S);
    if (rc == Z_MEM_ERROR)
        throw EOutOfMemory(Place(where, fallback, "zlib decompressor"));
    if (rc != Z_OK)
        throw EDecompressionError(Place(where, fallback, ZlibDetail(z.S, rc)));
    z.Live = true;

    // One byte more than the largest allowed result, so that a stream which
    // would produce more than that is caught by the byte that lands there.
    const uint64_t limit = MaxBlock + 1;
    uint64_t first;
    if (estimate > 0) {
        // A size field can lie; never trust it beyond what the input can give.
        const uint64_t possible = (length > (UINT64_MAX - InflateSlack) / MaxInflateRatio)
                                      ? UINT64_MAX
                                      : MaxInflateRatio * length + InflateSlack;
        first = std::min({static_cast<uint64_t>(estimate), possible, MaxTrustedEstimate});
    } else {
        first = RoundUp256(length);
    }
    first = std::clamp<uint64_t>(first, 256, limit);

    std::vector<uint8_t> out;
    Resize(out, first, Place(where, fallback, "decompression block"));

    size_t fed = 0;
    size_t done = 0;
    for (;;) {
        FeedInput(z.S, input, length, fed);
        if (done == out.size())
            Resize(out, std::min<uint64_t>(uint64_t{out.size()} * 2, limit),
                   Place(where, fallback, "decompression block"));
        if (stop && stop())
            throw EDecompressionError(Place(where, fallback, "stopped: an earlier part of the file failed"));
        SetOutput(z.S, out, done, InflatePiece);
        const Bytef* before = z.S.next_out;
        rc = inflate(&z.S, Z_NO_FLUSH);
        done += static_cast<size_t>(z.S.next_out - before);
        if (done > MaxBlock)
            throw EDecompressionError(
                Place(where, fallback, "the decompressed block would exceed 2 GiB"));
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR) {
            if (z.S.avail_out == 0)
                continue; // the output block is full: grow it and go on
            if (z.S.avail_in == 0 && fed < length)
                continue; // the next piece of input is waiting
            throw EDecompressionError(Place(where, fallback, "the stream ends early"));
        }
        if (rc == Z_MEM_ERROR)
            throw EOutOfMemory(Place(where, fallback, "zlib decompressor"));
        throw EDecompressionError(Place(where, fallback, ZlibDetail(z.S, rc)));
    }
    ShrinkToLength(out, done);
    return out;
}

} // namespace qm
