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

// Refuses the level when the chunks before `upTo`, taken in file order, unpack
// to more than the cap of all chunks together, naming the chunk that passes it.
void CheckChunksTogether(const TChunkSlot (&slots)[4], const TMeasuredBlock (&measured)[4], int upTo) {
    uint64_t total = 0;
    for (int i = 0; i < upTo; ++i) {
        total += measured[i].Size;
        if (total > LevelChunksCap)
            throw ELevelError("The chunks of this level unpack to more than " + std::to_string(LevelChunksCap >> 20) +
                                  " MiB together; the level is refused",
                              std::string("in the ") + slots[i].Name);
    }
}

// Inflates the first `count` chunks of a TR4-family file, several at a time when
// the machine has the cores for it (each chunk is an independent zlib stream).
// Each chunk is first measured (its output kept when small, else only counted),
// and only once all are known to fit the caps are the larger ones inflated
// into blocks of their size. The fault raised is the first in file order, as
// one-after-another reading would find it.
void InflateChunks(TChunkSlot (&slots)[4], TBytes (&out)[4], int count = 4) {
    TMeasuredBlock measured[4];
    int failed = count;  // the first chunk in file order whose measuring failed
    std::mutex failing;
    auto measure = [&](int i, const auto& stop) {
        const TChunkSlot& s = slots[i];
        try {
            measured[i] = MeasureBlock(s.Packed, size_t(s.PackedSize), s.StatedSize, TUnpackCap{ChunkCap, s.Name},
                                       std::string("in the ") + s.Name, stop);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failing);
            failed = std::min(failed, i);
            throw;
        }
    };
    auto finish = [&](int i, const auto& stop) {
        const TChunkSlot& s = slots[i];
        out[i] = FinishBlock(std::move(measured[i]), s.Packed, size_t(s.PackedSize), std::string("in the ") + s.Name,
                             stop);
    };
    std::vector<size_t> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(size_t(std::max(slots[i].StatedSize, slots[i].PackedSize)));
    try {
        RunJobs(LargestFirst(sizes), measure, WorthThreads(sizes));
    } catch (...) {
        // The chunks before the failed one were all measured: together they
        // may already pass the cap, which reading them in order finds first.
        CheckChunksTogether(slots, measured, failed);
        throw;
    }
    CheckChunksTogether(slots, measured, count);
    for (int i = 0; i < count; ++i) sizes[size_t(i)] = measured[i].Complete ? 0 : size_t(measured[i].Size);
    RunJobs(LargestFirst(sizes), finish, WorthThreads(sizes));
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
    slots[0].Name = "32-bit texture pages chunk";
    slots[1].Name = "16-bit texture pages chunk";
    slots[2].Name = "misc texture pages chunk";
    slots[3].Name = "level data chunk";
    // TR5 stores its level data as it is: only the page chunks are inflated.
    const int packedChunks = K.RawLevelData ? 3 : 4;
    int32_t levelSize = 0, levelPacked = 0;
    TBytes unpacked[4];
    try {
        WalkTr4Head(headIO, *this, K, slots, levelSize, levelPacked);
    } catch (const EQuillError&) {
        // Read one after another, the chunks before the damaged place would
        // have been inflated first: a fault in one of them comes first.
        int located = 0;
        while (located < packedChunks && slots[located].Packed) ++located;
        InflateChunks(slots, unpacked, located);
        throw;
    }
    InflateChunks(slots, unpacked, packedChunks);
    // Everything of the file but a TR5 level's raw level data has been used:
    // the chunks are inflated and the tail is copied.
    if (view && !K.RawLevelData) view->ReleaseBefore(size);
    Textiles32 = std::move(unpacked[0]);
    Textiles16 = std::move(unpacked[1]);
    TextilesMisc = std::move(unpacked[2]);
    Textiles32Size = int32_t(Textiles32.size());
    Textiles16Size = int32_t(Textiles16.size());
    TextilesMiscSize = int32_t(TextilesMisc.size());
    TexturePageCount = Textiles16Size / 131072;
    Textiles8Size = TexturePageCount * 65536;
    Report(50);

    // The level data is read from its own unpacked block, so no read can run
    // on into bytes that are not part of it.
    const TBytes& levelData = unpacked[3];
    TReader levelReader = K.RawLevelData ? TReader(slots[3].Packed, size_t(slots[3].PackedSize), "level data")
                                         : TReader(levelData.data(), levelData.size(), "level data chunk");
    TLoadIO levelIO{levelReader, *this};
    WalkLevelData(levelIO, *this, K, IsNgLevel());
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
