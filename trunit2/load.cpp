// LoadLevel and ParseLevel: read one level of any kind into the model, from its
// file or from its content in memory.

#include <mutex>

#include "errors.h"
#include "kinds.h"
#include "layout.h"
#include "parallel.h"
#include "platform.h"
#include "trlevel.h"
#include "zblocks.h"
#include "zfile.h"

namespace qm {

namespace {

// Reads the first `count` chunks of a TR4-family file, several at a time when
// the machine has the cores for it (each chunk is an independent zlib stream):
// the texture chunks (0-2) are inflated only to count their content, which
// stays packed until something reads it, and not even that when deferred
// (`from` 3); the level data chunk (3) is unpacked. It is first measured (its
// output kept when small, else only counted), and only once all chunks are
// known to fit the caps is it inflated into a block of its size. The fault
// raised is the first in file order, as one-after-another reading would find
// it: when the level data fails, deferred texture chunks are counted first.
void ReadChunks(const TChunkSlot (&slots)[4], uint64_t (&sizes)[4], TBytes& levelData, int count, int from = 0) {
    TMeasuredBlock measured[4];
    int failed = count;  // the first chunk in file order whose measuring failed
    std::mutex failing;
    auto measure = [&](int i, const auto& stop) {
        const TChunkSlot& s = slots[i];
        const TUnpackCap cap{ChunkCap, s.Name};
        const std::string where = std::string("in the ") + s.Name;
        try {
            if (i < 3) measured[i].Size = CountBlock(s.Packed, size_t(s.PackedSize), cap, where, stop);
            else measured[i] = MeasureBlock(s.Packed, size_t(s.PackedSize), s.StatedSize, cap, where, stop);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failing);
            failed = std::min(failed, i);
            throw;
        }
    };
    std::vector<size_t> work;
    for (int i = 0; i < count; ++i) work.push_back(i < from ? 0 : size_t(std::max(slots[i].StatedSize, slots[i].PackedSize)));
    std::vector<int> order;
    for (int i : LargestFirst(work))
        if (i >= from) order.push_back(i);
    try {
        RunJobs(order, measure, WorthThreads(work));
    } catch (...) {
        // The chunks before the failed one were all measured (the deferred
        // ones now, whose own faults come first): together they may already
        // pass the cap, which reading them in order finds first.
        if (from > 0) ReadChunks(slots, sizes, levelData, from);
        for (int i = from; i < count; ++i) sizes[i] = measured[i].Size;
        CheckChunksTogether(sizes, failed);
        throw;
    }
    for (int i = from; i < count; ++i) sizes[i] = measured[i].Size;
    CheckChunksTogether(sizes, count);
    if (count == 4) {
        const TChunkSlot& s = slots[3];
        levelData = FinishBlock(std::move(measured[3]), s.Packed, size_t(s.PackedSize), std::string("in the ") + s.Name);
    }
}

} // namespace

// Runs a load step; a level that did not load completely must never be used or
// saved, and an earlier level whose blocks were released is gone too.
template <class Step>
uint8_t Ttrlevel::Guarded(Step step) {
    Report(0);
    const bool released = IsLoaded();
    if (released) {
        ReleaseBlocks();
        Report(10);
    }
    uint8_t result;
    try {
        result = step();
    } catch (...) {
        Loaded.clear();
        ReleaseBlocks();
        throw;
    }
    if (result != 0 && released) Loaded.clear();
    Report(0);
    return result;
}

uint8_t Ttrlevel::LoadLevel(const std::string& fileName) {
    return Guarded([&]() -> uint8_t {
        if (!FileExists(fileName)) return 1;
        TZfile f;
        ZAssign(f, fileName);
        ZResetView(f, 1);
        StampName = fileName, Stamp = f.Stamp;
        // A plain file is read through a window sliding along it, so that its
        // bytes are not held twice; a container's content is unwrapped whole.
        const uint8_t result = ParseContent(f.Compressed ? ZContent(f) : nullptr, size_t(f.Size), fileName,
                                            f.Compressed ? "unpacked level inside the ZLIB container" : "file",
                                            f.Compressed ? nullptr : &f.View);
        ZClose(f, false);
        return result;
    });
}

uint8_t Ttrlevel::ParseLevel(const uint8_t* data, size_t size, const std::string& name) {
    return Guarded([&] { return ParseContent(data, size, name, "file"); });
}

namespace {

// Reads a TR1-TR3 file, head and level data, into L (whose LevelVersion is
// set): from content in memory, or through view when content is null.
void ReadUnchunked(Ttrlevel& L, const uint8_t* content, size_t size, const char* area, TFileView* view) {
    const TKindInfo& K = KindInfo(L.LevelVersion);
    TReader reader(content, size, area);
    reader.ReadThrough(view);
    TLoadIO io{reader, L};
    WalkHead(io, L, K);
    WalkLevelData(io, L, K, false);
}

} // namespace

bool Ttrlevel::ReadsWholeAs(int32_t kind, const uint8_t* content, size_t size, const char* area, TFileView* view) {
    // Nothing of the failed first attempt is used again: the retry fills a
    // fresh model, which becomes this level only when it reads the content
    // whole. The first attempt is given back before the retry takes memory.
    Ttrlevel retry = FreshForLoading();
    retry.LevelVersion = kind;
    *this = FreshForLoading();
    try {
        ReadUnchunked(retry, content, size, area, view);
    } catch (const EQuillError&) {
        return false;
    }
    if (!retry.TrailingBytes.empty()) return false;
    *this = std::move(retry);
    return true;
}

void Ttrlevel::ParseTr1To3(const uint8_t* content, size_t size, const char* area, TFileView* view) {
    // The level holds every byte of the file, and a little more: its memory
    // can be readied in one go.
    if (view) PrepareHeap(size);
    try {
        ReadUnchunked(*this, content, size, area, view);
    } catch (const EQuillError&) {
        // TR1 files do not always follow their name: one that does not read in
        // its name's layout is the other layout only when that reads the whole
        // content to its last byte. Otherwise the first report stands.
        const int32_t other = KindInfo(LevelVersion).OtherLayout;
        if (!other || !ReadsWholeAs(other, content, size, area, view)) throw;
    }
}

void Ttrlevel::ParseTr4Family(const uint8_t* whole, size_t size, const char* area, TFileView* view) {
    const TKindInfo& K = KindInfo(LevelVersion);
    TReader headReader(whole, size, area);
    TLoadIO headIO{headReader, *this};
    TChunkSlot slots[4];
    for (int i = 0; i < 4; ++i) slots[i].Name = ChunkNames[i];
    // TR5 stores its level data as it is: only the page chunks are inflated.
    const int packedChunks = K.RawLevelData ? 3 : 4;
    uint64_t sizes[4] = {0, 0, 0, 0};
    TBytes levelData;
    try {
        WalkTr4Head(headIO, *this, K, slots);
    } catch (const EQuillError&) {
        // Read one after another, the chunks before the damaged place would
        // have been inflated first: a fault in one of them comes first.
        int located = 0;
        while (located < packedChunks && slots[located].Packed) ++located;
        ReadChunks(slots, sizes, levelData, located);
        throw;
    }
    // Deferred, the texture chunks are counted when first asked for (a TR5
    // level has no level data chunk to read now).
    const bool deferred = DeferPageChecks && !K.RawLevelData;
    ReadChunks(slots, sizes, levelData, packedChunks, deferred ? 3 : 0);
    // The chunks keep their streams as read; once they are copied, everything
    // of the file but a TR5 level's raw level data has been used.
    TChunk* chunks[4] = {&Textiles32, &Textiles16, &TextilesMisc, &LevelDataChunk};
    for (int i = 0; i < packedChunks; ++i) {
        chunks[i]->KeepPacked(slots[i].Packed, size_t(slots[i].PackedSize), slots[i].Name);
        if (!deferred || i == 3) chunks[i]->SetCounted(sizes[i]);
    }
    if (view && !K.RawLevelData) view->ReleaseBefore(size);
    Report(50);

    // The level data is read from its own unpacked block, so no read can run
    // on into bytes that are not part of it.
    TReader levelReader = K.RawLevelData ? TReader(slots[3].Packed, size_t(slots[3].PackedSize), "level data")
                                         : TReader(levelData.data(), levelData.size(), "level data chunk");
    TLoadIO levelIO{levelReader, *this};
    try {
        WalkLevelData(levelIO, *this, K, IsNgLevel());
    } catch (const EQuillError&) {
        // A fault of a deferred texture chunk comes before one in the level data.
        if (deferred) {
            for (int i = 0; i < 3; ++i) sizes[i] = chunks[i]->Count();
            CheckChunksTogether(sizes, 3);
        }
        throw;
    }
    // Kept to tell, on saving, whether the level data written is the one read.
    if (!K.RawLevelData) LevelDataChunk.GiveContent(std::move(levelData));
}

uint8_t Ttrlevel::ParseContent(const uint8_t* content, size_t size, const std::string& fileName, const char* area,
                               TFileView* view) {
    // content is the whole content in memory, or null when it is read
    // through view.
    const uint8_t* signatureBytes = view ? view->Ensure(0, std::min<size_t>(size, 4)) : content;
    const uint32_t signature = size >= 4 ? GetU32(signatureBytes) : 0;
    if (!IsLevelSignature(signature)) {
        FileSignature = 0;
        return 2;
    }
    FileSignature = signature;
    Loaded = LoadedTag;
    LevelVersion = KindFromSignature(signature, fileName);
    if (KindInfo(LevelVersion).Tr4Family) {
        // A TR4-family file is used whole: its chunks are inflated from it.
        // Real TR5 levels share the TR4 signature and name; their content tells.
        const uint8_t* whole = view ? view->Ensure(0, size) : content;
        if (HasTr5Layout(whole, size)) LevelVersion = KindTR5;
        ParseTr4Family(whole, size, area, view);
    } else {
        ParseTr1To3(content, size, area, view);
    }
    Report(100);
    return 0;
}

} // namespace qm
