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
    const uint8_t* Data = nullptr;  // null: the chunk keeps the stream it was read with
    size_t Size = 0;
};

// Compresses the chunks of a TR4-family file whose content changed. Each is an
// independent zlib stream, so compressing them side by side gives the same
// bytes as one after another.
void DeflateChunks(const TCompressJob (&jobs)[4], TChunkSlot (&slots)[4]) {
    std::vector<size_t> sizes;
    for (const TCompressJob& job : jobs) sizes.push_back(job.Data ? job.Size : 0);
    std::vector<int> order;
    for (int i : LargestFirst(sizes))
        if (jobs[i].Data) order.push_back(i);
    RunJobs(
        order, [&](int i, const auto&) { slots[i].Stream = CompressBlock(jobs[i].Data, jobs[i].Size); },
        WorthThreads(sizes));
    for (int i : order) {
        slots[i].Packed = slots[i].Stream.data();
        slots[i].PackedSize = int32_t(slots[i].Stream.size());
    }
}

// The slot of a chunk that keeps its stream, or the job that packs it afresh.
void KeepOrPack(const TChunk& chunk, TChunkSlot& slot, TCompressJob& job) {
    if (chunk.HasStream()) {
        slot.Packed = chunk.Stream().data();
        slot.PackedSize = int32_t(chunk.Stream().size());
    } else {
        job = {chunk.Content().data(), chunk.size()};
    }
}

// The four streams of a TR4-family file, given its level data: each chunk
// keeps the stream it was read with while its content is the one read (the
// page chunks as long as nothing changed them, the level data when it is the
// same as read); the others are packed afresh. TR5 stores its level data as
// it is.
void ChunkStreams(Ttrlevel& L, const TKindInfo& K, TBytes& levelData, TChunkSlot (&slots)[4]) {
    TChunk* pages[3] = {&L.Textiles32, &L.Textiles16, &L.TextilesMisc};
    TCompressJob jobs[4];
    for (int i = 0; i < 3; ++i) KeepOrPack(*pages[i], slots[i], jobs[i]);
    if (K.RawLevelData) {
        slots[3].Stream = std::move(levelData);
        slots[3].Packed = slots[3].Stream.data();
        slots[3].PackedSize = int32_t(slots[3].Stream.size());
    } else if (L.LevelDataChunk.HasStream() && levelData == L.LevelDataChunk.Content()) {
        KeepOrPack(L.LevelDataChunk, slots[3], jobs[3]);
    } else {
        jobs[3] = {levelData.data(), levelData.size()};
    }
    DeflateChunks(jobs, slots);
}

// A freshly packed stream packs its chunk's content from now on: it stays with
// the chunk (the pieces written refer to it; a moved vector keeps its block),
// so that another save packs nothing again.
void KeepFreshStreams(Ttrlevel& L, const TKindInfo& K, TBytes& levelData, TChunkSlot (&slots)[4], TComposed& content) {
    TChunk* pages[3] = {&L.Textiles32, &L.Textiles16, &L.TextilesMisc};
    for (int i = 0; i < 3; ++i)
        if (!slots[i].Stream.empty()) pages[i]->Adopt(std::move(slots[i].Stream));
    if (K.RawLevelData) {
        content.Kept.push_back(std::move(slots[3].Stream));
    } else if (!slots[3].Stream.empty()) {
        L.LevelDataChunk.Assign(std::move(levelData));
        L.LevelDataChunk.Adopt(std::move(slots[3].Stream));
    }
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

uint8_t Ttrlevel::SaveLevel(const std::string& fileName) {
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

    int32_t levelSize = int32_t(levelData.size());
    TChunkSlot slots[4];
    ChunkStreams(*this, K, levelData, slots);
    Textiles32Size = Textiles8Size * 4;
    Textiles16Size = Textiles8Size * 2;
    TextilesMiscSize = int32_t(TextilesMisc.size());
    Textiles32PackedSize = slots[0].PackedSize;
    Textiles16PackedSize = slots[1].PackedSize;
    TextilesMiscPackedSize = slots[2].PackedSize;
    int32_t levelPacked = slots[3].PackedSize;
    Reserve(content.Own, 64);
    WalkTr4Head(io, *this, K, slots, levelSize, levelPacked);
    KeepFreshStreams(*this, K, levelData, slots, content);
}

} // namespace qm
