// TZfile: a whole file held in one memory block, read and written by blocks.
//
// The disk sees one whole-file read when the file is opened (ZReset) and one
// whole-file write when it is closed with flushing (ZClose(f, true)); every block
// read and write in between works on memory only. A file wrapped in the "ZLIB"
// container is unwrapped on opening and wrapped again on a flushing close when it
// was wrapped at opening.
//
// "ZLIB" container layout (little-endian):
//   0  4  magic "ZLIB" (5A 4C 49 42)
//   4  4  packed length, int32
//   8  4  unpacked length, int32 (only an estimate for the reader; a stream
//         that unpacks to more than 256 MiB is refused, whatever this says)
//  12  .. one zlib stream of the content
// A file of 12 bytes or fewer is always plain content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "fileview.h"
#include "platform.h"

namespace qm {

struct TZfile {
    std::string Name;           // the name given to ZAssign
    TDiskFile DiskFile;         // the file on disk while open
    bool Compressed = false;    // set by ZReset when the file was a "ZLIB" container
    TBytes Buffer;              // the content: Buffer.size() == Size, Buffer.capacity() == Capacity
    int32_t Size = 0;           // content bytes in Buffer (the logical file size)
    int32_t Position = 0;       // offset of the next block read or write
    int32_t Capacity = 0;       // allocated bytes of Buffer
    uint16_t RecSize = 1;       // unit of the counts of ZBlockRead and ZBlockWrite
    TFileStamp Stamp;           // the disk file as ZReset found it, or as a flushing close stored it
    TFileView View;             // after ZResetView: a plain file's content, in place of Buffer
    TStoreKeep Keep;            // what a flushing close keeps besides the content (a backup, a note)

    TZfile() = default;
    TZfile(const TZfile&) = delete;
    TZfile& operator=(const TZfile&) = delete;
    // Releases the buffer and closes the disk file; never writes.
    ~TZfile() = default;
};

// Stores the name and clears Compressed. No disk access.
void ZAssign(TZfile& f, const std::string& name);

// Opens the existing file read-only, loads it whole (unwrapping a container),
// records its Stamp and sets Position to 0. Throws EInOutError (missing file,
// access denied, not a regular file, a container whose packed length runs past
// the end: "Read beyond end of file"), EDecompressionError for a corrupt
// container stream, ELevelError for a container content beyond 256 MiB,
// EOutOfMemory.
void ZReset(TZfile& f, uint16_t recSize);

// As ZReset, for reading only: a plain file's content is not read into
// Buffer but read through View, piece by piece as a reader asks for it
// (TFileView::Ensure), so its bytes are never held whole; a "ZLIB" container
// is unwrapped into Buffer as by ZReset. Block writes are refused (EInOutError
// "File access denied").
void ZResetView(TZfile& f, uint16_t recSize);

// The first byte of the content in Buffer: after ZReset, or after ZResetView
// of a "ZLIB" container.
const uint8_t* ZContent(const TZfile& f);

// Opens the file for writing (creating it when missing is deferred to the
// flushing close); the new content starts empty in a 64 KiB block and Stamp is
// cleared. An existing file that cannot be written (read-only, no permission)
// throws EInOutError "File access denied" here, before anything is composed.
void ZRewrite(TZfile& f, uint16_t recSize);

// Copies count*RecSize bytes, clamped to what remains, and advances Position.
// Returns the number of bytes copied. Never an error.
int32_t ZBlockRead(TZfile& f, void* dest, int32_t count);

// Copies count*RecSize bytes into the content at Position, growing the block
// as needed (the content may not exceed what an int32 length can express:
// EOutOfMemory otherwise), and advances Position.
void ZBlockWrite(TZfile& f, const void* src, int32_t count);

// The flushing close of a content given in pieces, in order, instead of the
// Buffer (which stays unused): stored plain, crash-safely, as ZClose(f, true)
// stores a content that was not in the container. The pieces must stay valid
// until it returns.
void ZCloseParts(TZfile& f, const std::vector<const void*>& parts, const std::vector<size_t>& sizes);

// Makes room for a content of bytes in all, so that writing up to that much
// needs no further growth. Throws EOutOfMemory.
void ZReserve(TZfile& f, int64_t bytes);

// Sets Position, clamped to Size.
void ZSeek(TZfile& f, int32_t pos);
int32_t ZFilePos(const TZfile& f);
int32_t ZFileSize(const TZfile& f);

// Cuts the content at Position (Size = Position).
void ZTruncate(TZfile& f);

// With flush: stores the content on disk, wrapped when Compressed, plain
// otherwise, crash-safely (a temporary file beside the target, flushed, then
// renamed over it; the original stays intact on any failure). When Stamp is
// Known, the file on disk must still be the one it describes, else nothing is
// stored (ELevelError); after a store Stamp describes the stored file. Then
// closes the file and releases the buffer. Without flush nothing is written.
void ZClose(TZfile& f, bool flush);

} // namespace qm
