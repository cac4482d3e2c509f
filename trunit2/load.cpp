// LoadLevel: reads one level file of any kind into the model.

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

// Inflates the four chunks of a TR4-family file, several at a time when the
// machine has the cores for it (each chunk is an independent zlib stream).
void InflateChunks(TChunkSlot (&slots)[4], std::vector<uint8_t> (&out)[4]) {
    auto inflate = [&](int i) {
        const TChunkSlot& s = slots[i];
        std::string where = std::string("in the ") + s.Name;
        try {
            out[i] = DecompressBlock(s.Packed, size_t(s.PackedSize), s.StatedSize, where);
        } catch (const EDecompressionError&) {
            // A level data chunk stored as it is, not as a zlib stream, is the
            // mark of a TR5-layout level.
            if (i == 3 && s.StatedSize == s.PackedSize)
                throw EDecompressionError(
                    "the level data chunk is stored uncompressed, as in TR5-layout levels, which are not supported");
            throw;
        }
    };
    std::vector<size_t> sizes;
    for (const TChunkSlot& s : slots) sizes.push_back(size_t(std::max(s.StatedSize, s.PackedSize)));
    RunJobs(LargestFirst(sizes), inflate);
}

} // namespace

uint8_t Ttrlevel::LoadLevel(const std::string& fileName) {
    Report(0);
    const bool released = IsLoaded();
    if (released) {
        ReleaseBlocks();
        Report(10);
    }
    uint8_t result;
    try {
        result = LoadFrom(fileName);
    } catch (...) {
        // A level that did not load completely must never be used or saved.
        Loaded.clear();
        ReleaseBlocks();
        throw;
    }
    // The earlier level lost its blocks above; it must not be used any more.
    if (result != 0 && released) Loaded.clear();
    Report(0);
    return result;
}

bool Ttrlevel::ReadsWholeAs(int32_t kind, const TZfile& f) {
    const int32_t tried = LevelVersion;
    LevelVersion = kind;
    try {
        TReader file(f.Buffer.data(), size_t(f.Size), "file");
        TLoadIO io{file, *this};
        WalkHead(io, *this, KindInfo(kind));
        WalkLevelData(io, *this, KindInfo(kind), false);
        if (TrailingBytes.empty()) return true;
    } catch (const EQuillError&) {
    }
    LevelVersion = tried;
    return false;
}

uint8_t Ttrlevel::LoadFrom(const std::string& fileName) {
    if (!FileExists(fileName)) return 1;
    TZfile f;
    ZAssign(f, fileName);
    ZReset(f, 1);

    const uint32_t signature = f.Size >= 4 ? GetU32(f.Buffer.data()) : 0;
    if (!IsLevelSignature(signature)) {
        ZClose(f, false);
        FileSignature = 0;
        return 2;
    }
    FileSignature = signature;
    LevelVersion = 0;
    Loaded = LoadedTag;
    LevelVersion = KindFromSignature(signature, fileName);
    const TKindInfo& K = KindInfo(LevelVersion);

    TReader file(f.Buffer.data(), size_t(f.Size), "file");
    TLoadIO io{file, *this};
    if (!K.Tr4Family) {
        try {
            WalkHead(io, *this, K);
            WalkLevelData(io, *this, K, false);
        } catch (const EQuillError&) {
            // TR1 files do not always follow their name: one that does not read
            // in its name's layout is the other layout only when that reads the
            // whole file to its last byte. Otherwise the first report stands.
            if (!K.OtherLayout || !ReadsWholeAs(K.OtherLayout, f)) throw;
        }
    } else {
        TChunkSlot slots[4];
        slots[0].Name = "32-bit texture pages chunk";
        slots[1].Name = "16-bit texture pages chunk";
        slots[2].Name = "misc texture pages chunk";
        slots[3].Name = "level data chunk";
        int32_t levelSize = 0, levelPacked = 0;
        WalkTr4Head(io, *this, slots, levelSize, levelPacked);

        std::vector<uint8_t> unpacked[4];
        InflateChunks(slots, unpacked);
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
        const std::vector<uint8_t>& data = unpacked[3];
        TReader level(data.data(), data.size(), "level data chunk");
        TLoadIO lio{level, *this};
        WalkLevelData(lio, *this, K, IsNgLevel());
    }
    Report(100);
    ZClose(f, false);
    return 0;
}

} // namespace qm
