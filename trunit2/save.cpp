// SaveLevel: writes the model back to a file in its own kind.

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
void DeflateChunks(const TCompressJob (&jobs)[4], TChunkSlot (&slots)[4]) {
    std::vector<size_t> sizes;
    for (const TCompressJob& j : jobs) sizes.push_back(j.Size);
    RunJobs(LargestFirst(sizes), [&](int i) { slots[i].Stream = CompressBlock(jobs[i].Data, jobs[i].Size); });
}

// The bytes a walk writes, found by walking it once without writing.
template <class Walk>
int64_t CountedSize(Ttrlevel& level, Walk walk) {
    TWriter counter;
    TSaveIO c{counter, level};
    walk(c);
    return counter.Counted();
}

} // namespace

uint8_t Ttrlevel::SaveLevel(const std::string& fileName) {
    Report(0);
    if (!IsLoaded()) return 1;

    // The level is written in the layout it was read in, whatever the name.
    const TKindInfo& K = KindInfo(LevelVersion);

    if (K.Tr4Family) {
        // The chunk sizes follow the page count; pages the file did not hold
        // cannot be written.
        const uint64_t pages = uint64_t(TexturePageCount);
        if (Textiles32.size() < pages * 262144 || Textiles16.size() < pages * 131072)
            throw ELevelError("The level's 32-bit texture pages hold fewer bytes than its " +
                                  std::to_string(pages) + " texture pages need; it cannot be saved",
                              "chunk 1 unpacks to " + std::to_string(Textiles32.size()) + " bytes, " +
                                  std::to_string(pages * 262144) + " are needed");
    }

    TZfile f;
    ZAssign(f, fileName);
    ZRewrite(f, 1);
    TWriter out(f);
    TSaveIO io{out, *this};
    const bool ng = IsNgLevel();

    if (!K.Tr4Family) {
        ZReserve(f, CountedSize(*this, [&](TSaveIO& c) {
            WalkHead(c, *this, K);
            WalkLevelData(c, *this, K, false);
        }));
        WalkHead(io, *this, K);
        WalkLevelData(io, *this, K, false);
    } else {
        // The level data first, in a block of its own, then the file around it.
        TZfile levelData;
        ZReserve(levelData, CountedSize(*this, [&](TSaveIO& c) { WalkLevelData(c, *this, K, ng); }));
        TWriter dataOut(levelData);
        TSaveIO dio{dataOut, *this};
        WalkLevelData(dio, *this, K, ng);

        Textiles32Size = Textiles8Size * 4;
        Textiles16Size = Textiles8Size * 2;
        const TCompressJob jobs[4] = {
            {Textiles32.data(), size_t(Textiles32Size)},
            {Textiles16.data(), size_t(Textiles16Size)},
            {TextilesMisc.data(), std::min(TextilesMisc.size(), size_t(std::max(TextilesMiscSize, 0)))},
            {levelData.Buffer.data(), size_t(levelData.Size)},
        };
        TChunkSlot slots[4];
        DeflateChunks(jobs, slots);
        Textiles32PackedSize = int32_t(slots[0].Stream.size());
        Textiles16PackedSize = int32_t(slots[1].Stream.size());
        TextilesMiscSize = int32_t(jobs[2].Size);
        TextilesMiscPackedSize = int32_t(slots[2].Stream.size());
        int32_t levelSize = levelData.Size;
        int32_t levelPacked = int32_t(slots[3].Stream.size());
        ZReserve(f, CountedSize(*this, [&](TSaveIO& c) { WalkTr4Head(c, *this, slots, levelSize, levelPacked); }));
        WalkTr4Head(io, *this, slots, levelSize, levelPacked);
    }
    Report(100);
    ZClose(f, true);
    Report(0);
    return 0;
}

} // namespace qm
