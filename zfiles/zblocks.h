// Whole-buffer zlib steps shared by the "ZLIB" container and the TR4-family chunks.
#pragma once

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

// Inflates one zlib stream (bytes after the stream's end are ignored). estimate
// is the expected output size (0 when unknown); it only sizes the first output
// block (up to 14 MiB plus the input's length) and never limits or pads the
// result. A larger output is counted first and then inflated again into a block
// of its exact size, so a stream that would pass 2 GiB is refused holding no
// more than that first block. Throws EDecompressionError
// ("error") for a corrupt, truncated or failing stream, and also when the output
// would exceed what an int32 length can express; where names the block for the
// error report. A stop test, when given, is asked between pieces of output;
// once it answers true the inflating ends with EDecompressionError.
TBytes DecompressBlock(const uint8_t* input, size_t length, int64_t estimate, const std::string& where = {},
                      const std::function<bool()>& stop = {});

} // namespace qm
