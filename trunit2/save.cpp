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

// What a save does with one chunk of a TR4-family file beside the others: pack
// its content afresh (Data set), count a texture chunk whose size is not known
// yet (Count set: its checks were deferred on loading), or nothing (it keeps
// the stream it was read with, or is stored as it is).
struct TChunkJob {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    const TChunk* Count = nullptr;
    // The job's cost, for the order the jobs are taken in: packing at level 9
    // costs about twenty times as much per byte as inflating, and a stream
    // inflates to about four times its size.
    size_t Work() const { return Data ? Size * 20 : Count ? Count->Stream().size() * 4 : 0; }
};

// Packs and counts the chunks side by side. Each is an independent zlib stream,
// so packing them side by side gives the same bytes as one after another; the
// fault raised is the first in file order.
void RunChunkJobs(const TChunkJob (&jobs)[4], TChunkSlot (&slots)[4]) {
    std::vector<size_t> work;
    for (const TChunkJob& job : jobs) work.push_back(job.Work());
    std::vector<int> order;
    for (int i : LargestFirst(work))
        if (work[size_t(i)]) order.push_back(i);
    RunJobs(
        order,
        [&](int i, const auto& stop) {
            if (jobs[i].Count) jobs[i].Count->Count(stop);
            else slots[i].Stream = CompressBlock(jobs[i].Data, jobs[i].Size);
        },
        WorthThreads(work));
    for (int i : order) {
        if (jobs[i].Count) continue;
        slots[i].Packed = slots[i].Stream.data();
        slots[i].PackedSize = int32_t(slots[i].Stream.size());
    }
}

// The slot of a chunk that keeps its stream (counted first when its checks
// were deferred), or the job that packs it afresh.
void KeepOrPack(const TChunk& chunk, TChunkSlot& slot, TChunkJob& job) {
    if (!chunk.HasStream()) {
        job.Data = chunk.Content().data();
        job.Size = chunk.size();
        return;
    }
    slot.Packed = chunk.Stream().data();
    slot.PackedSize = int32_t(chunk.Stream().size());
    if (!chunk.IsCounted()) job.Count = &chunk;
}

// The four streams of a TR4-family file, given its level data: each chunk
// keeps the stream it was read with while its content is the one read (the
// page chunks as long as nothing changed them, the level data when it is the
// same as read); the others are packed afresh, beside the counting of the
// texture chunks not read yet. TR5 stores its level data as it is. Then the
// chunks' sizes are known: the level is refused when they pass the caps.
void ChunkStreams(Ttrlevel& L, const TKindInfo& K, TBytes& levelData, TChunkSlot (&slots)[4]) {
    const TChunk* pages[3] = {&L.Textiles32, &L.Textiles16, &L.TextilesMisc};
    TChunkJob jobs[4];
    for (int i = 0; i < 3; ++i) KeepOrPack(*pages[i], slots[i], jobs[i]);
    if (K.RawLevelData) {
        slots[3].Stream = std::move(levelData);
        slots[3].Packed = slots[3].Stream.data();
        slots[3].PackedSize = int32_t(slots[3].Stream.size());
    } else if (L.LevelDataChunk.HasStream() && levelData == L.LevelDataChunk.Content()) {
        KeepOrPack(L.LevelDataChunk, slots[3], jobs[3]);
    } else {
        jobs[3].Data = levelData.data();
        jobs[3].Size = levelData.size();
    }
    RunChunkJobs(jobs, slots);
    // Kept or packed, the level data chunk holds levelData (moved away only
    // when stored as it is).
    const uint64_t sizes[4] = {pages[0]->Count(), pages[1]->Count(), pages[2]->Count(),
                               K.RawLevelData ? 0 : levelData.size()};
    CheckChunksTogether(sizes, 4);
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
    const uint64_t pages = uint64_t(L.TexturePageCount());
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
    // A level that cannot be written whole is refused (by composing it) before
    // the file is touched. The content goes to the file in pieces, the large
    // ones straight from the model: no second copy of the whole level is made.
    TComposed content;
    Compose(content);
    TZfile f;
    ZAssign(f, fileName);
    ZRewrite(f, 1);
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

    // The level data first, in a block of its own, then the file around it.
    TBytes levelData;
    Reserve(levelData, CountedSize(*this, [&](TSaveIO& c) { WalkLevelData(c, *this, K, ng); }));
    TWriter dataOut(levelData);
    TSaveIO dio{dataOut, *this};
    WalkLevelData(dio, *this, K, ng);

    TChunkSlot slots[4];
    slots[3].StatedSize = int32_t(levelData.size());
    ChunkStreams(*this, K, levelData, slots);
    // Chunks 1 and 2 hold whole pages, as many as chunk 2 holds (all counted
    // by now, also those whose checks were deferred).
    CheckWholePages(*this);
    const int64_t pages = TexturePageCount();
    slots[0].StatedSize = int32_t(pages * 262144);
    slots[1].StatedSize = int32_t(pages * 131072);
    slots[2].StatedSize = int32_t(TextilesMisc.size());
    Reserve(content.Own, 64);
    WalkTr4Head(io, *this, K, slots);
    KeepFreshStreams(*this, K, levelData, slots, content);
}

} // namespace qm
