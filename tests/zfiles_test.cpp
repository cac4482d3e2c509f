// Tests of the buffered file, the "ZLIB" container and the zlib steps (the
// crash-safe store below them is tested in store_test.cpp).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "errors.h"
#include "platform.h"
#include "zblocks.h"
#include "zfile.h"

namespace qmtest {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const qm::TBytes& b) { return Bytes(b.begin(), b.end()); }
namespace fs = std::filesystem;

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/qm-zfiles-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path_, ec);
    }
    const std::string& Path() const { return Path_; }

private:
    std::string Path_;
};

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// Data that compresses well but not trivially.
Bytes Compressible(size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(n);
    const std::string words[] = {"room ", "vertex ", "sector ", "portal ", "light ", "mesh "};
    while (out.size() < n) {
        const std::string& w = words[rng() % 6];
        for (char c : w)
            if (out.size() < n)
                out.push_back(static_cast<uint8_t>(c));
        if (out.size() < n)
            out.push_back(static_cast<uint8_t>(rng() % 10));
    }
    return out;
}

Bytes Incompressible(size_t n, unsigned seed = 2) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

// One zlib stream made straight with zlib, as the reference for CompressBlock.
Bytes ReferenceDeflate(const Bytes& input, const Bytes& dictionary = {}) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    if (!dictionary.empty()) {
        EXPECT_EQ(deflateSetDictionary(&s, dictionary.data(), static_cast<uInt>(dictionary.size())), Z_OK);
    }
    Bytes out(deflateBound(&s, input.size()));
    s.next_in = const_cast<Bytef*>(input.data());
    s.avail_in = static_cast<uInt>(input.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

void PutInt32(Bytes& out, int32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

int32_t GetInt32(const Bytes& in, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t{in.at(at + i)} << (8 * i);
    return static_cast<int32_t>(v);
}

// A "ZLIB" container around stream, with its two length fields as given.
Bytes Container(const Bytes& stream, int32_t packedField, int32_t unpackedField, const Bytes& tail = {}) {
    Bytes out = {'Z', 'L', 'I', 'B'};
    PutInt32(out, packedField);
    PutInt32(out, unpackedField);
    out.insert(out.end(), stream.begin(), stream.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

class ZfileTest : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return Dir.Path() + "/" + name; }

    // Writes bytes to a file and opens it with ZReset.
    void Open(qm::TZfile& f, const Bytes& bytes, uint16_t recSize = 1, const std::string& name = "level.bin") {
        WriteBytes(PathOf(name), bytes);
        qm::ZAssign(f, PathOf(name));
        qm::ZReset(f, recSize);
    }

    TempDir Dir;
};

Bytes Iota(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i);
    return b;
}

TEST_F(ZfileTest, BlockReadsCopyOnlyWhatRemains) {
    struct Case {
        int32_t start;
        uint16_t recSize;
        int32_t count;
        int32_t copied;
    };
    const Case cases[] = {
        {0, 1, 5, 5},   {15, 1, 10, 5},  {20, 1, 1, 0},          {0, 4, 3, 12},
        {16, 4, 3, 4},  {0, 1, 0, 0},    {3, 1, -2, 0},          {0, 2, INT32_MAX, 20},
        {0, 4, 5, 20},  {1, 4, 5, 19},   {0, 65535, 1, 20},
    };
    const Bytes content = Iota(20);
    for (const Case& c : cases) {
        SCOPED_TRACE("start " + std::to_string(c.start) + " recSize " + std::to_string(c.recSize) +
                     " count " + std::to_string(c.count));
        qm::TZfile f;
        Open(f, content, c.recSize);
        qm::ZSeek(f, c.start);
        Bytes dest(64, 0xEE);
        EXPECT_EQ(qm::ZBlockRead(f, dest.data(), c.count), c.copied);
        EXPECT_EQ(qm::ZFilePos(f), c.start + c.copied);
        for (int32_t i = 0; i < 64; ++i)
            EXPECT_EQ(dest[i], i < c.copied ? content[c.start + i] : 0xEE) << "byte " << i;
    }
}

TEST_F(ZfileTest, EmptyFileOpensEmptyAndReadsNothing) {
    qm::TZfile f;
    Open(f, {});
    EXPECT_EQ(qm::ZFileSize(f), 0);
    EXPECT_FALSE(f.Compressed);
    uint8_t dest[4] = {1, 2, 3, 4};
    EXPECT_EQ(qm::ZBlockRead(f, dest, 4), 0);
    EXPECT_EQ(dest[0], 1);
    EXPECT_EQ(dest[3], 4);
    EXPECT_EQ(qm::ZFilePos(f), 0);
}

TEST_F(ZfileTest, SeekIsClampedToTheContent) {
    const std::pair<int32_t, int32_t> cases[] = {{0, 0},  {7, 7},         {20, 20},
                                                 {21, 20}, {INT32_MAX, 20}, {-1, 0}};
    qm::TZfile f;
    Open(f, Iota(20));
    for (auto [pos, expected] : cases) {
        qm::ZSeek(f, pos);
        EXPECT_EQ(qm::ZFilePos(f), expected) << "seek to " << pos;
    }
}

TEST_F(ZfileTest, BlockWritesOverwriteInsideAndExtendPastTheEnd) {
    struct Case {
        int32_t pos;
        int32_t n;
        int32_t size;
    };
    const Case cases[] = {{4, 10, 20}, {4, 30, 34}, {20, 5, 25}, {0, 20, 20}, {19, 2, 21}, {0, 0, 20}};
    const Bytes content = Iota(20);
    for (const Case& c : cases) {
        SCOPED_TRACE("write " + std::to_string(c.n) + " at " + std::to_string(c.pos));
        // A file opened for reading, as the loader uses it: its block is exactly
        // as long as the content, so any extension must grow it.
        qm::TZfile f;
        Open(f, content);
        EXPECT_EQ(f.Capacity, 20);
        const Bytes src(static_cast<size_t>(c.n), 0xA5);
        qm::ZSeek(f, c.pos);
        qm::ZBlockWrite(f, src.data(), c.n);
        EXPECT_EQ(qm::ZFileSize(f), c.size);
        EXPECT_EQ(qm::ZFilePos(f), c.pos + c.n);
        EXPECT_GE(f.Capacity, f.Size);
        EXPECT_EQ(f.Buffer.capacity(), static_cast<size_t>(f.Capacity));
        for (int32_t i = 0; i < c.size; ++i) {
            const bool written = i >= c.pos && i < c.pos + c.n;
            EXPECT_EQ(f.Buffer[i], written ? 0xA5 : content[i]) << "byte " << i;
        }
    }
}

TEST_F(ZfileTest, GrowthLeavesHeadroomAndThenDoubles) {
    qm::TZfile f;
    qm::ZAssign(f, PathOf("new.bin"));
    qm::ZRewrite(f, 1);
    EXPECT_EQ(f.Capacity, 65536);
    EXPECT_EQ(qm::ZFileSize(f), 0);

    const Bytes block = Compressible(65537);
    qm::ZBlockWrite(f, block.data(), 65536);
    EXPECT_EQ(f.Capacity, 65536) << "a write that fits exactly must not grow the block";
    qm::ZBlockWrite(f, block.data() + 65536, 1);
    EXPECT_EQ(f.Capacity, 65536 + 1 + 65536);
    // The next growth doubles rather than adding another 64 KiB.
    qm::ZBlockWrite(f, block.data(), 65537);
    EXPECT_EQ(f.Capacity, 2 * (65536 + 1 + 65536));
    EXPECT_EQ(qm::ZFileSize(f), 2 * 65537);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), f.Buffer.begin()));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), f.Buffer.begin() + 65537));
    qm::ZClose(f, false);
    EXPECT_FALSE(qm::FileExists(PathOf("new.bin"))) << "a new file appears only when flushed";
}

TEST_F(ZfileTest, WritesBeyondTwoGibibytesAreRefusedBeforeAllocating) {
    struct Case {
        uint16_t recSize;
        int32_t count;
        int32_t startSize;
    };
    // The byte count is count * RecSize, which must not wrap in 32 bits.
    const Case cases[] = {{4, INT32_MAX, 0}, {2, 0x40000000, 0}, {1, INT32_MAX, 1}, {65535, 65537, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("recSize " + std::to_string(c.recSize) + " count " + std::to_string(c.count));
        qm::TZfile f;
        qm::ZAssign(f, PathOf("big.bin"));
        qm::ZRewrite(f, 1);
        const uint8_t one = 7;
        if (c.startSize > 0)
            qm::ZBlockWrite(f, &one, 1);
        f.RecSize = c.recSize;
        EXPECT_THROW(qm::ZBlockWrite(f, &one, c.count), qm::EOutOfMemory);
        EXPECT_EQ(f.Size, c.startSize);
        EXPECT_EQ(f.Position, c.startSize);
        EXPECT_EQ(f.Capacity, 65536);
    }
    qm::TZfile f;
    qm::ZAssign(f, PathOf("big.bin"));
    qm::ZRewrite(f, 1);
    const uint8_t one = 7;
    EXPECT_THROW(qm::ZBlockWrite(f, &one, -1), qm::ERangeError);
    EXPECT_EQ(f.Size, 0);
}

TEST_F(ZfileTest, OnlyFilesLongerThanTwelveBytesCanBeContainers) {
    enum Outcome { Plain, CorruptContainer };
    struct Case {
        const char* what;
        Bytes bytes;
        Outcome outcome;
    };
    const Case cases[] = {
        {"12 bytes with the magic", Container({}, 1, 1), Plain},
        {"13 bytes with the magic", Container({0x78}, 1, 1), CorruptContainer},
        {"13 bytes, other magic", {'Z', 'L', 'I', 'X', 1, 0, 0, 0, 1, 0, 0, 0, 0x78}, Plain},
        {"lower-case magic", {'z', 'l', 'i', 'b', 8, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, Plain},
        {"4 bytes of magic only", {'Z', 'L', 'I', 'B'}, Plain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qm::TZfile f;
        if (c.outcome == Plain) {
            Open(f, c.bytes);
            EXPECT_FALSE(f.Compressed);
            EXPECT_EQ(AsBytes(f.Buffer), c.bytes);
            EXPECT_EQ(f.Capacity, static_cast<int32_t>(c.bytes.size()));
        } else {
            EXPECT_THROW(Open(f, c.bytes), qm::EDecompressionError);
        }
    }
}

TEST_F(ZfileTest, ContainerOpensToTheStreamWhateverItsUnpackedLengthSays) {
    const Bytes content = Compressible(100000);
    const Bytes stream = ReferenceDeflate(content);
    const int32_t fields[] = {100000, 99999, 100001, 1, 0, -1, INT32_MIN, 10000000, INT32_MAX};
    for (int32_t unpacked : fields) {
        SCOPED_TRACE("unpacked length field " + std::to_string(unpacked));
        qm::TZfile f;
        Open(f, Container(stream, static_cast<int32_t>(stream.size()), unpacked));
        EXPECT_TRUE(f.Compressed);
        EXPECT_EQ(f.Size, 100000);
        EXPECT_EQ(f.Capacity, f.Size);
        EXPECT_EQ(f.Position, 0);
        EXPECT_EQ(AsBytes(f.Buffer), content);
    }
}

TEST_F(ZfileTest, ContainerPackedLengthMustLieInsideTheFile) {
    const Bytes content = Compressible(5000);
    const Bytes stream = ReferenceDeflate(content);
    const auto n = static_cast<int32_t>(stream.size());
    const Bytes junk = {1, 2, 3, 4, 5};
    enum Outcome { Opens, BeyondEnd, Corrupt };
    struct Case {
        const char* what;
        int32_t packed;
        Bytes tail;
        Outcome outcome;
    };
    const Case cases[] = {
        {"exact", n, {}, Opens},
        {"bytes after the stream are ignored", n + 5, junk, Opens},
        {"packed length shorter than the bytes that follow", n, junk, Opens},
        {"one byte too long", n + 1, {}, BeyondEnd},
        {"far too long", INT32_MAX, {}, BeyondEnd},
        {"negative", -1, {}, BeyondEnd},
        {"most negative", INT32_MIN, {}, BeyondEnd},
        {"cuts the stream short", n - 1, {}, Corrupt},
        {"zero", 0, {}, Corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qm::TZfile f;
        const Bytes file = Container(stream, c.packed, 5000, c.tail);
        switch (c.outcome) {
        case Opens:
            Open(f, file);
            EXPECT_EQ(AsBytes(f.Buffer), content);
            break;
        case BeyondEnd:
            try {
                Open(f, file);
                ADD_FAILURE() << "opened";
            } catch (const qm::EInOutError& e) {
                EXPECT_EQ(e.Code, qm::EInOutError::ReadBeyondEnd);
                EXPECT_STREQ(e.what(), "Read beyond end of file");
                EXPECT_EQ(e.Where, "ZLIB container");
            }
            break;
        case Corrupt:
            EXPECT_THROW(Open(f, file), qm::EDecompressionError);
            break;
        }
        if (c.outcome != Opens) {
            // A failed open leaves nothing held.
            EXPECT_FALSE(f.DiskFile.IsOpen());
            EXPECT_EQ(f.Buffer.capacity(), 0u);
            EXPECT_EQ(f.Size, 0);
            EXPECT_EQ(f.Capacity, 0);
        }
    }
}

TEST_F(ZfileTest, CorruptContainerStreamIsADecompressionError) {
    const Bytes stream = ReferenceDeflate(Compressible(3000));
    struct Case {
        const char* what;
        size_t at;
        uint8_t xorMask;
    };
    const Case cases[] = {{"stream header", 0, 0x01},
                          {"deflate data", stream.size() / 2, 0xFF},
                          {"Adler-32 check", stream.size() - 1, 0x01}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = stream;
        bad[c.at] ^= c.xorMask;
        qm::TZfile f;
        try {
            Open(f, Container(bad, static_cast<int32_t>(bad.size()), 3000));
            ADD_FAILURE() << "opened";
        } catch (const qm::EDecompressionError& e) {
            EXPECT_STREQ(e.what(), "error");
            EXPECT_EQ(e.Where.rfind("ZLIB container", 0), 0u) << e.Where;
        }
    }
}

TEST_F(ZfileTest, OpeningMissingFileOrDirectoryFails) {
    const std::pair<std::string, int> cases[] = {
        {PathOf("missing.bin"), qm::EInOutError::FileNotFound},
        {Dir.Path(), qm::EInOutError::AccessDenied},
        {"", qm::EInOutError::FileNotFound},
    };
    for (const auto& [name, code] : cases) {
        qm::TZfile f;
        qm::ZAssign(f, name);
        try {
            qm::ZReset(f, 1);
            ADD_FAILURE() << name << " opened";
        } catch (const qm::EInOutError& e) {
            EXPECT_EQ(e.Code, code) << name;
        }
        EXPECT_FALSE(f.DiskFile.IsOpen());
    }
}

TEST_F(ZfileTest, FilesBeyondTwoGibibytesAreRefusedBeforeReading) {
    // Sparse files: no disk space is used, and the refusal must come before
    // the whole length is allocated or read.
    for (const Bytes& head : {Bytes{1, 2, 3}, Container(ReferenceDeflate({}), 8, 0)}) {
        const std::string path = PathOf("huge.bin");
        WriteBytes(path, head);
        ASSERT_EQ(::truncate(path.c_str(), off_t{INT32_MAX} + 1), 0);
        qm::TZfile f;
        qm::ZAssign(f, path);
        EXPECT_THROW(qm::ZReset(f, 1), qm::EOutOfMemory);
        EXPECT_FALSE(f.DiskFile.IsOpen());
        EXPECT_EQ(f.Buffer.capacity(), 0u);
    }
}

TEST_F(ZfileTest, FlushingAReopenedContainerWrapsItAgain) {
    const Bytes content = Compressible(20000);
    const Bytes stream = ReferenceDeflate(content);
    const std::string path = PathOf("level.bin");
    qm::TZfile f;
    Open(f, Container(stream, static_cast<int32_t>(stream.size()), 0));
    const Bytes extra = Incompressible(777);
    qm::ZSeek(f, qm::ZFileSize(f));
    qm::ZBlockWrite(f, extra.data(), static_cast<int32_t>(extra.size()));
    qm::ZClose(f, true);
    EXPECT_EQ(f.Size, 0);
    EXPECT_EQ(f.Capacity, 0);
    EXPECT_EQ(f.Buffer.capacity(), 0u);

    Bytes expected = content;
    expected.insert(expected.end(), extra.begin(), extra.end());
    const Bytes file = ReadBytes(path);
    ASSERT_GT(file.size(), 12u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'Z', 'L', 'I', 'B'}));
    EXPECT_EQ(GetInt32(file, 4), static_cast<int32_t>(file.size() - 12));
    EXPECT_EQ(GetInt32(file, 8), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Bytes(file.begin() + 12, file.end()), ReferenceDeflate(expected));

    qm::ZAssign(f, path);
    qm::ZReset(f, 1);
    EXPECT_TRUE(f.Compressed);
    EXPECT_EQ(AsBytes(f.Buffer), expected);
}

TEST_F(ZfileTest, ClosingWithoutFlushWritesNothing) {
    const Bytes stream = ReferenceDeflate(Compressible(4000));
    const Bytes original = Container(stream, static_cast<int32_t>(stream.size()), 4000);
    qm::TZfile f;
    Open(f, original);
    const uint8_t b = 0x55;
    qm::ZBlockWrite(f, &b, 1);
    qm::ZClose(f, false);
    EXPECT_EQ(ReadBytes(PathOf("level.bin")), original);
    EXPECT_EQ(f.Buffer.capacity(), 0u);
    EXPECT_FALSE(f.DiskFile.IsOpen());
    EXPECT_TRUE(f.Compressed) << "closing keeps the flag";
}

TEST_F(ZfileTest, AssignThenRewriteStoresPlainAndTruncates) {
    const Bytes stream = ReferenceDeflate(Compressible(4000));
    qm::TZfile f;
    Open(f, Container(stream, static_cast<int32_t>(stream.size()), 4000));
    ASSERT_TRUE(f.Compressed);
    qm::ZClose(f, false);

    qm::ZAssign(f, PathOf("level.bin"));
    EXPECT_FALSE(f.Compressed);
    qm::ZRewrite(f, 2);
    const Bytes content = Iota(10);
    qm::ZBlockWrite(f, content.data(), 5); // 5 records of 2 bytes
    qm::ZSeek(f, 4);
    qm::ZTruncate(f);
    EXPECT_EQ(qm::ZFileSize(f), 4);
    qm::ZClose(f, true);
    EXPECT_EQ(ReadBytes(PathOf("level.bin")), Iota(4));
}

TEST_F(ZfileTest, EmptyContentStoresAsAnEmptyContainer) {
    qm::TZfile f;
    const Bytes stream = ReferenceDeflate(Compressible(100));
    Open(f, Container(stream, static_cast<int32_t>(stream.size()), 100));
    qm::ZTruncate(f); // Position is 0
    qm::ZClose(f, true);
    const Bytes file = ReadBytes(PathOf("level.bin"));
    EXPECT_EQ(file, Container(ReferenceDeflate({}), static_cast<int32_t>(ReferenceDeflate({}).size()), 0));
    qm::ZAssign(f, PathOf("level.bin"));
    qm::ZReset(f, 1);
    EXPECT_TRUE(f.Compressed);
    EXPECT_EQ(f.Size, 0);
}

// ---- zlib steps ----

struct BlockCase {
    const char* what;
    Bytes input;
};

std::vector<BlockCase> BlockCases() {
    return {
        {"empty", {}},
        {"one byte", {42}},
        {"short text", Compressible(300)},
        {"incompressible", Incompressible(200000)},
        {"compressible, 1 MiB", Compressible(1 << 20)},
        {"all zero, 3 MiB", Bytes(3 << 20, 0)},
    };
}

TEST(ZBlocks, CompressMatchesZlibAtLevel9AndRoundTrips) {
    for (const BlockCase& c : BlockCases()) {
        SCOPED_TRACE(c.what);
        const Bytes packed = AsBytes(qm::CompressBlock(c.input.data(), c.input.size()));
        EXPECT_EQ(packed, ReferenceDeflate(c.input));
        const auto exact = static_cast<int64_t>(c.input.size());
        // The estimate sizes the first block only; none may change the result.
        const int64_t estimates[] = {exact, 0, 1, exact - 1, exact + 1, -7, int64_t{1} << 40, INT64_MAX};
        for (int64_t estimate : estimates) {
            const Bytes out = AsBytes(qm::DecompressBlock(packed.data(), packed.size(), estimate, "test block"));
            EXPECT_EQ(out, c.input) << "estimate " << estimate;
        }
    }
}

TEST(ZBlocks, BrokenStreamsAreDecompressionErrors) {
    const Bytes content = Compressible(2000);
    const Bytes stream = ReferenceDeflate(content);
    std::vector<std::pair<std::string, Bytes>> cases;
    // Every cut of the stream short of its last byte.
    for (size_t cut = 0; cut < stream.size(); ++cut)
        cases.emplace_back("cut at " + std::to_string(cut), Bytes(stream.begin(), stream.begin() + cut));
    Bytes adler = stream;
    adler.back() ^= 0x80;
    cases.emplace_back("wrong Adler-32", adler);
    cases.emplace_back("raw deflate without header", Bytes(stream.begin() + 2, stream.end() - 4));
    cases.emplace_back("needs a dictionary", ReferenceDeflate(content, Bytes{'r', 'o', 'o', 'm'}));
    cases.emplace_back("garbage", Incompressible(100));
    for (const auto& [what, input] : cases) {
        try {
            (void)qm::DecompressBlock(input.data(), input.size(), 2000, "chunk 3");
            ADD_FAILURE() << what << ": no error";
        } catch (const qm::EDecompressionError& e) {
            EXPECT_STREQ(e.what(), "error") << what;
            EXPECT_EQ(e.Where.rfind("chunk 3", 0), 0u) << what << ": " << e.Where;
        }
    }
}

TEST(ZBlocks, BytesAfterTheStreamAreIgnored) {
    const Bytes content = Compressible(10000);
    Bytes input = ReferenceDeflate(content);
    const Bytes junk = Incompressible(500);
    input.insert(input.end(), junk.begin(), junk.end());
    for (int64_t estimate : {int64_t{0}, int64_t{10000}, int64_t{5}})
        EXPECT_EQ(AsBytes(qm::DecompressBlock(input.data(), input.size(), estimate)), content) << estimate;
}

// A size field that lies must not make the first output block huge: with the
// address space limited to 1 GiB more than in use, a block sized by the
// estimate alone (2 GiB) cannot be had, one sized by the input can.
TEST(ZBlocks, LyingEstimateDoesNotSizeTheFirstBlock) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#else
    const Bytes content = Compressible(1000);
    const Bytes packed = ReferenceDeflate(content);
    auto decompressUnderLimit = [&] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (rlim_t{1} << 30);
        const rlimit rl{limit, limit};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &rl) != 0)
            std::_Exit(2);
        for (int64_t estimate : {int64_t{INT32_MAX}, int64_t{1} << 40}) {
            if (AsBytes(qm::DecompressBlock(packed.data(), packed.size(), estimate)) != content)
                std::_Exit(3);
        }
        std::_Exit(0);
    };
    EXPECT_EXIT(decompressUnderLimit(), ::testing::ExitedWithCode(0), "");
#endif
}

} // namespace qmtest
