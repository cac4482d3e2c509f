// SaveLevel and SerializeLevel: the model written back in its own kind, to its
// file or as file content in memory.

#include "errors.h"
#include "kinds.h"
#include "layout.h"
#include "parallel.h"
#include "trlevel.h"
#include "zblocks.h"
#include "zfile.h"

namespace qm {

namespace {

struct TCompressJob {
    const uint8_t* Data;
    size_t Size;
};

// Compresses the four chunks of a TR4-family file. Each is an independent zlib
// stream, so compressing them side by side gives the same bytes as one after
// another.
void DeflateChunks(const TCompressJob (&jobs)[4], TChunkSlot (&slots)[4], int count) {
    std::vector<size_t> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(jobs[i].Size);
    RunJobs(
        LargestFirst(sizes), [&](int i, const auto&) { slots[i].Stream = CompressBlock(jobs[i].Data, jobs[i].Size); },
        WorthThreads(sizes));
}

// The bytes a walk writes, found by walking it once without writing.
template <class Walk>
int64_t CountedSize(Ttrlevel& level, Walk walk) {
    TWriter counter;
    TSaveIO c{counter, level};
    walk(c);
    return counter.Counted();
}

void Reserve(TBytes& block, int64_t bytes) {
    try {
        block.reserve(size_t(bytes));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("composing the level content");
    }
}

// The TR4-family chunks 1 and 2 are written as whole texture pages, as many as
// the page count says. A level whose unpacked chunks hold fewer bytes cannot
// be written; one whose chunks hold more would lose them: both are refused.
void CheckWholePages(const Ttrlevel& L) {
    const uint64_t pages = uint64_t(std::max(L.TexturePageCount, 0));
    struct TRow {
        int Chunk;
        const char* Name;
        size_t Held;
        uint64_t PageBytes;
    };
    const TRow rows[] = {{1, "32-bit texture pages", L.Textiles32.size(), 262144},
                         {2, "16-bit texture pages", L.Textiles16.size(), 131072}};
    for (const TRow& r : rows) {
        const uint64_t need = pages * r.PageBytes;
        const std::string held = "chunk " + std::to_string(r.Chunk) + " unpacks to " + std::to_string(r.Held) + " bytes";
        if (r.Held < need)
            throw ELevelError(std::string("The level's ") + r.Name + " hold fewer bytes than its " + std::to_string(pages) +
                                  " texture pages need; it cannot be saved",
                              held + ", " + std::to_string(need) + " are needed");
        if (r.Held > need)
            throw ELevelError("Saving would lose " + std::to_string(r.Held - need) + " bytes of the level's " + r.Name +
                                  " (chunk " + std::to_string(r.Chunk) + "); it cannot be saved",
                              held + "; its " + std::to_string(pages) + " texture pages take " + std::to_string(need));
    }
}

} // namespace

uint8_t Ttrlevel::SaveLevel(const std::string& fileName, const TStoreKeep& keep) {
    Report(0);
    if (!IsLoaded()) return 1;

    // The level is written in the layout it was read in, whatever the name.
    // A level that cannot be written whole is refused before the file is touched.
    if (KindInfo(LevelVersion).Tr4Family) CheckWholePages(*this);

    TZfile f;
    ZAssign(f, fileName);
    ZRewrite(f, 1);
    // The content goes to the file in pieces, the large ones straight from the
    // model: no second copy of the whole level is made.
    TComposed content;
    Compose(content);
    Report(100);
    std::vector<const void*> parts;
    std::vector<size_t> sizes;
    for (const TComposed::TPiece& p : content.Pieces) parts.push_back(content.Start(p)), sizes.push_back(p.Size);
    if (fileName == StampName) f.Stamp = Stamp;
    f.Keep = keep;
    ZCloseParts(f, parts, sizes);
    StampName = fileName, Stamp = f.Stamp;
    Report(0);
    return 0;
}

std::vector<uint8_t> Ttrlevel::SerializeLevel() {
    TComposed content;
    Compose(content);
    return content.Flatten();
}

void Ttrlevel::Compose(TComposed& content) {
    if (!IsLoaded()) throw ELevelError("There is no level to save");
    const TKindInfo& K = KindInfo(LevelVersion);
    TWriter out(content);
    TSaveIO io{out, *this};
    const bool ng = IsNgLevel();

    if (!K.Tr4Family) {
        Reserve(content.Own, CountedSize(*this, [&](TSaveIO& c) {
            WalkHead(c, *this, K);
            WalkLevelData(c, *this, K, false);
        }));
        WalkHead(io, *this, K);
        WalkLevelData(io, *this, K, false);
        return;
    }

    CheckWholePages(*this);
    // The level data first, in a block of its own, then the file around it.
    TBytes levelData;
    Reserve(levelData, CountedSize(*this, [&](TSaveIO& c) { WalkLevelData(c, *this, K, ng); }));
    TWriter dataOut(levelData);
    TSaveIO dio{dataOut, *this};
    WalkLevelData(dio, *this, K, ng);

    Textiles32Size = Textiles8Size * 4;
    Textiles16Size = Textiles8Size * 2;
    const TCompressJob jobs[4] = {
        {Textiles32.data(), size_t(Textiles32Size)},
        {Textiles16.data(), size_t(Textiles16Size)},
        {TextilesMisc.data(), std::min(TextilesMisc.size(), size_t(std::max(TextilesMiscSize, 0)))},
        {levelData.data(), levelData.size()},
    };
    TChunkSlot slots[4];
    // TR5 keeps its level data uncompressed, with both sizes equal.
    DeflateChunks(jobs, slots, K.RawLevelData ? 3 : 4);
    if (K.RawLevelData) slots[3].Stream = std::move(levelData);
    Textiles32PackedSize = int32_t(slots[0].Stream.size());
    Textiles16PackedSize = int32_t(slots[1].Stream.size());
    TextilesMiscSize = int32_t(jobs[2].Size);
    TextilesMiscPackedSize = int32_t(slots[2].Stream.size());
    int32_t levelSize = int32_t(K.RawLevelData ? slots[3].Stream.size() : levelData.size());
    int32_t levelPacked = int32_t(slots[3].Stream.size());
    Reserve(content.Own, 64);
    WalkTr4Head(io, *this, K, slots, levelSize, levelPacked);
    // The pieces refer to the fresh streams: they stay with the content (a
    // moved vector keeps its block).
    for (TChunkSlot& slot : slots) content.Kept.push_back(std::move(slot.Stream));
}

} // namespace qm
