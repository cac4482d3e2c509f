// TZfile: the whole file in memory, with the "ZLIB" container unwrapped on
// opening and wrapped again on a flushing close.
#include "zfile.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <new>

#include "errors.h"
#include "zblocks.h"

namespace qm {
namespace {

constexpr int32_t FirstCapacity = 65536;   // the block ZRewrite starts with
constexpr int32_t GrowthHeadroom = 65536;  // room left after the bytes of a growing write
constexpr int64_t ContainerHeader = 12;    // magic, packed length, unpacked length
constexpr std::array<uint8_t, 4> Magic = {'Z', 'L', 'I', 'B'};

int32_t ReadInt32LE(const uint8_t* p) {
    const uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

void WriteInt32LE(uint8_t* p, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Leaves the record closed: no disk file, no buffer, nothing held.
void ReleaseAll(TZfile& f) noexcept {
    f.DiskFile.Close();
    f.View.Close();
    TBytes().swap(f.Buffer);
    f.Size = 0;
    f.Position = 0;
    f.Capacity = 0;
}

// Runs ReleaseAll when the scope is left, by return or by exception.
class TReleaseOnExit {
public:
    explicit TReleaseOnExit(TZfile& f) : F_(f) {}
    TReleaseOnExit(const TReleaseOnExit&) = delete;
    TReleaseOnExit& operator=(const TReleaseOnExit&) = delete;
    ~TReleaseOnExit() {
        if (Armed)
            ReleaseAll(F_);
    }
    bool Armed = true;

private:
    TZfile& F_;
};

TBytes Allocate(int64_t length, const std::string& where) {
    try {
        return TBytes(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(where);
    }
}

// The byte count of count records; negative when count is.
int64_t ByteCount(const TZfile& f, int32_t count) { return int64_t{count} * f.RecSize; }

} // namespace

void ZAssign(TZfile& f, const std::string& name) {
    f.Name = name;
    f.Compressed = false;
}

namespace {

// Opens the disk file for ZReset and ZResetView; returns its length.
int64_t OpenForReading(TZfile& f, uint16_t recSize) {
    f.RecSize = recSize;
    f.Compressed = false;
    f.DiskFile.OpenRead(f.Name);
    f.Stamp = f.DiskFile.Stamp();
    const int64_t length = f.Stamp.Size;
    if (length > INT32_MAX)
        throw EOutOfMemory(f.Name + ": the file is larger than 2 GiB");
    return length;
}

// The content of a "ZLIB" container of length bytes at raw, unpacked into
// Buffer; false (nothing done) for a plain file.
bool Unwrap(TZfile& f, const uint8_t* raw, int64_t length) {
    if (length <= ContainerHeader || !std::equal(Magic.begin(), Magic.end(), raw))
        return false;
    const int32_t packed = ReadInt32LE(raw + 4);
    const int32_t unpacked = ReadInt32LE(raw + 8);
    if (packed < 0 || packed > length - ContainerHeader)
        throw EInOutError(EInOutError::ReadBeyondEnd, "ZLIB container");
    // The unpacked length is only an estimate; the stream decides, up to the
    // cap.
    const std::string where = "ZLIB container";
    f.Buffer = DecompressBlock(raw + ContainerHeader, static_cast<size_t>(packed), unpacked, where, {},
                               TUnpackCap{ChunkCap, where});
    return true;
}

void Opened(TZfile& f, bool wrapped, int64_t size) {
    f.Compressed = wrapped;
    f.Size = static_cast<int32_t>(size);
    f.Capacity = static_cast<int32_t>(f.Buffer.size());
    f.Position = 0;
}

} // namespace

void ZReset(TZfile& f, uint16_t recSize) {
    ReleaseAll(f);
    TReleaseOnExit onError(f);
    const int64_t length = OpenForReading(f, recSize);
    // One read brings the whole file in; the container, if any, is unpacked
    // straight from this block.
    TBytes raw = Allocate(length, "loading " + f.Name);
    if (length > 0)
        f.DiskFile.ReadAt(0, raw.data(), length);
    const bool wrapped = Unwrap(f, raw.data(), length);
    if (!wrapped)
        f.Buffer = std::move(raw);
    Opened(f, wrapped, static_cast<int64_t>(f.Buffer.size()));
    onError.Armed = false;
}

void ZResetView(TZfile& f, uint16_t recSize) {
    ReleaseAll(f);
    TReleaseOnExit onError(f);
    const int64_t length = OpenForReading(f, recSize);
    f.View.Open(f.DiskFile, static_cast<size_t>(length));
    // Only a container is read whole here; a plain file's bytes are read as
    // they are asked for.
    const uint8_t* head = f.View.Ensure(0, std::min<size_t>(static_cast<size_t>(length), ContainerHeader));
    const bool wrapped = length > ContainerHeader && std::equal(Magic.begin(), Magic.end(), head);
    if (wrapped)
        Unwrap(f, f.View.Ensure(0, static_cast<size_t>(length)), length);
    if (wrapped)
        f.View.Close();
    Opened(f, wrapped, wrapped ? static_cast<int64_t>(f.Buffer.size()) : length);
    onError.Armed = false;
}

const uint8_t* ZContent(const TZfile& f) { return f.Buffer.data(); }

void ZRewrite(TZfile& f, uint16_t recSize) {
    ReleaseAll(f);
    // Nothing on disk changes before the flushing close, but a file that may
    // not be replaced is refused now, before the caller composes its content.
    CheckReplaceable(f.Name);
    f.Stamp = {};
    f.RecSize = recSize;
    f.Size = 0;
    f.Position = 0;
    ZReserve(f, FirstCapacity);
}

int32_t ZBlockRead(TZfile& f, void* dest, int32_t count) {
    const int64_t wanted = std::max<int64_t>(ByteCount(f, count), 0);
    const auto n = static_cast<int32_t>(std::min<int64_t>(wanted, int64_t{f.Size} - f.Position));
    if (n > 0) {
        const auto from = static_cast<size_t>(f.Position);
        const uint8_t* p = f.View.IsOpen() ? f.View.Ensure(from, from + static_cast<size_t>(n)) : f.Buffer.data() + from;
        std::memcpy(dest, p, static_cast<size_t>(n));
        f.Position += n;
    }
    return std::max(n, 0);
}

void ZBlockWrite(TZfile& f, const void* src, int32_t count) {
    if (f.View.IsOpen())
        throw EInOutError(EInOutError::AccessDenied, f.Name + ": opened for reading only");
    const int64_t n = ByteCount(f, count);
    if (n < 0)
        throw ERangeError("a block write of " + std::to_string(count) + " records");
    if (n == 0)
        return;
    const int64_t end = int64_t{f.Position} + n;
    if (end > INT32_MAX)
        throw EOutOfMemory(f.Name + ": the content would exceed 2 GiB");
    if (end > f.Capacity) {
        // Geometric growth keeps a long series of small writes linear; the
        // headroom keeps the first growths from coming too often.
        ZReserve(f, std::max<int64_t>(end + GrowthHeadroom, int64_t{f.Capacity} * 2));
    }
    // Bytes inside the content are overwritten; the rest is appended, so no
    // byte of the block is written twice (nothing is zero-filled first).
    const auto* bytes = static_cast<const uint8_t*>(src);
    const size_t inside = static_cast<size_t>(std::min<int64_t>(n, int64_t{f.Size} - f.Position));
    std::memcpy(f.Buffer.data() + f.Position, bytes, inside);
    f.Buffer.insert(f.Buffer.end(), bytes + inside, bytes + n);
    f.Position = static_cast<int32_t>(end);
    f.Size = static_cast<int32_t>(f.Buffer.size());
}

void ZReserve(TZfile& f, int64_t bytes) {
    if (bytes <= f.Capacity)
        return;
    const auto capacity = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
    try {
        f.Buffer.reserve(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(f.Name + ": growing the content to " + std::to_string(capacity) + " bytes");
    }
    f.Capacity = static_cast<int32_t>(std::min<size_t>(f.Buffer.capacity(), INT32_MAX));
}

void ZSeek(TZfile& f, int32_t pos) { f.Position = std::clamp(pos, 0, f.Size); }

int32_t ZFilePos(const TZfile& f) { return f.Position; }

int32_t ZFileSize(const TZfile& f) { return f.Size; }

void ZTruncate(TZfile& f) {
    f.Buffer.resize(static_cast<size_t>(f.Position));
    f.Size = f.Position;
}

void ZCloseParts(TZfile& f, const std::vector<const void*>& parts, const std::vector<size_t>& sizes) {
    TReleaseOnExit release(f);
    f.DiskFile.Close();
    f.Stamp = StoreFileReplacing(f.Name, parts, sizes, f.Stamp, f.Keep);
}

void ZClose(TZfile& f, bool flush) {
    TReleaseOnExit release(f);
    // The replacing store renames over the file, which must not be held open.
    f.DiskFile.Close();
    if (!flush)
        return;
    const uint8_t* content = f.Buffer.data();
    const auto size = static_cast<size_t>(f.Size);
    if (!f.Compressed) {
        f.Stamp = StoreFileReplacing(f.Name, {content}, {size}, f.Stamp, f.Keep);
        return;
    }
    const TBytes packed = CompressBlock(content, size);
    std::array<uint8_t, ContainerHeader> header{};
    std::copy(Magic.begin(), Magic.end(), header.begin());
    WriteInt32LE(header.data() + 4, static_cast<int32_t>(packed.size()));
    WriteInt32LE(header.data() + 8, f.Size);
    f.Stamp = StoreFileReplacing(f.Name, {header.data(), packed.data()}, {header.size(), packed.size()}, f.Stamp,
                                 f.Keep);
}

} // namespace qm
