// Whole-buffer zlib steps shared by the "ZLIB" container and the TR4-family chunks.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bytes.h"

namespace qm {

// Compresses input into one zlib stream (level 9, deflate, 15-bit window, memory
// level 8, default strategy), the exact stream returned. Throws
// ECompressionError ("error") on any zlib failure, EOutOfMemory.
TBytes CompressBlock(const uint8_t* input, size_t length);

// The most output one stream may give, and the name the refusal gives the
// block ("level data chunk"). Without a name the limit is the largest block an
// int32 length can express, refused as a decompression error.
struct TUnpackCap {
    uint64_t Most = INT32_MAX;
    std::string What;
};

// The cap of one TR4-family chunk and of a "ZLIB" container, and of the
// inflated chunks of one level together.
constexpr uint64_t ChunkCap = uint64_t{256} << 20;
constexpr uint64_t LevelChunksCap = uint64_t{512} << 20;

// Throws the refusal of a block that unpacks to more than most bytes:
// ELevelError "The <what> unpacks to more than <most> MiB; the level is refused".
[[noreturn]] void RefuseUnpacked(const std::string& what, uint64_t most, const std::string& where);

// A stream inflated once: its whole output when it fitted the first output
// block, else only its size (Size), known without keeping the output.
struct TMeasuredBlock {
    uint64_t Size = 0;
    bool Complete = false;
    TBytes Out;
};

// Inflates one zlib stream (bytes after the stream's end are ignored) as far as
// telling its output size. estimate is the expected output size (0 when
// unknown); it only sizes the first output block (up to 14 MiB plus the input's
// length, never beyond the cap) and never limits, pads or refuses the result
// (a wrong size field is no fault: the stream decides). Output beyond the
// first block is counted through a small scratch block and not kept, and the
// pass ends as soon as the output passes cap.Most, so a stream that lies about
// its size costs no more than the first block. Throws EDecompressionError ("error") for
// a corrupt, truncated or failing stream, the refusal of RefuseUnpacked for an
// output beyond a named cap (EDecompressionError beyond the unnamed one);
// where names the block for the error report. A stop test, when given, is
// asked between pieces of output; once it answers true the inflating ends with
// EDecompressionError.
TMeasuredBlock MeasureBlock(const uint8_t* input, size_t length, int64_t estimate, const TUnpackCap& cap,
                            const std::string& where = {}, const std::function<bool()>& stop = {});

// The whole output of a measured stream: its first block when that held it,
// else the stream inflated again into a block of its exact size. Throws as
// MeasureBlock, and EDecompressionError when the stream gives another size.
TBytes FinishBlock(TMeasuredBlock&& measured, const uint8_t* input, size_t length, const std::string& where = {},
                   const std::function<bool()>& stop = {});

// The output size of one stream, inflated through a small scratch block and
// never kept: the check of a stream whose content is not needed yet. Throws
// as MeasureBlock.
uint64_t CountBlock(const uint8_t* input, size_t length, const TUnpackCap& cap, const std::string& where = {},
                    const std::function<bool()>& stop = {});

// The whole output of a stream whose output size is known (counted before):
// one pass into a block of exactly that size. Throws as FinishBlock.
TBytes UnpackCounted(const uint8_t* input, size_t length, uint64_t size, const std::string& where = {});

// MeasureBlock then FinishBlock: the whole output of one stream.
TBytes DecompressBlock(const uint8_t* input, size_t length, int64_t estimate, const std::string& where = {},
                       const std::function<bool()>& stop = {}, const TUnpackCap& cap = {});

} // namespace qm
