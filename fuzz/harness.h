// What every fuzz target does with one input, shared with the regression test
// that replays the inputs that once broke it. Each function returns an empty
// text when the input was handled soundly and a description of the fault
// otherwise; an exception other than qm::EQuillError escapes on purpose.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "args.h"
#include "console.h"
#include "errors.h"
#include "functions.h"
#include "textout.h"
#include "trlevel.h"
#include "zblocks.h"
#include "zfile.h"

namespace qmtest {

namespace fs = std::filesystem;
using FuzzBytes = std::vector<uint8_t>;

// A block of the library's kind as a plain byte vector.
inline FuzzBytes Plain(const qm::TBytes& b) { return FuzzBytes(b.begin(), b.end()); }

// One directory per process, under $TMPDIR when set, else memory-backed where
// the system has it (each save flushes to disk); every run reuses its paths.
// It is removed at a normal exit; libFuzzer ends with _Exit, so its runner
// points TMPDIR at a directory of its own and removes that.
inline std::string FuzzPath(const std::string& name) {
    static const fs::path dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        fs::path base = tmp && *tmp ? fs::path(tmp)
                        : fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string templ = (base / "qmfuzz-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        std::atexit([] { std::error_code ec; fs::remove_all(dir, ec); });
        return fs::path(templ);
    }();
    return (dir / name).string();
}

inline std::string WriteFuzzFile(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = FuzzPath(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return path;
}

inline FuzzBytes ReadFuzzFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return FuzzBytes(std::istreambuf_iterator<char>(in), {});
}

// The first byte picks the name's extension, and with it the kind among those
// sharing a signature (TR3 comes from its own signature under ".tr2").
inline std::string ExtensionFor(uint8_t selector) {
    static const char* const names[6] = {".phd", ".tub", ".tr2", ".trg", ".tr4", ".trc"};
    return names[selector % 6];
}

inline void PutU32(FuzzBytes& out, size_t v) {
    for (int b = 0; b < 32; b += 8) out.push_back(uint8_t(v >> b));
}
inline uint32_t GetU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The level content of an input: the selector byte, then the file. With the
// top bit of the selector set, a TR4-family input is the level data alone, put
// here into chunk 4 of a file without pages, so that mutations reach the level
// data walk instead of breaking the zlib stream; from 192 on, it is real TR5
// level data, put raw after the TR5 fields of such a file. A file in the "ZLIB" container
// is unwrapped as the buffered file would (magic, packed length, unpacked
// length, stream). False when there is no content to parse.
inline bool LevelContent(const uint8_t* data, size_t size, FuzzBytes& content) {
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    if (data[0] >= 128 && data[0] % 6 >= 4) {
        const bool tr5 = data[0] >= 192;
        const FuzzBytes none = Plain(qm::CompressBlock(nullptr, 0));
        content = {'T', 'R', '4', 0, 0, 0, 0, 0, 0, 0};
        auto chunk = [&](const FuzzBytes& stream, size_t unpacked) {
            PutU32(content, unpacked), PutU32(content, stream.size());
            content.insert(content.end(), stream.begin(), stream.end());
        };
        for (int i = 0; i < 3; ++i) chunk(none, 0);
        if (tr5) {
            content.resize(content.size() + 32, 0);  // Lara type, weather, padding
            chunk(FuzzBytes(body, body + length), length);
            PutU32(content, 0);  // no samples
        } else {
            chunk(Plain(qm::CompressBlock(body, length)), length);
        }
        return true;
    }
    if (length > 12 && std::memcmp(body, "ZLIB", 4) == 0) {
        const int32_t packed = int32_t(GetU32(body + 4));
        if (packed < 0 || size_t(packed) > length - 12) return false;
        try {
            content = Plain(qm::DecompressBlock(body + 12, size_t(packed), int32_t(GetU32(body + 8))));
        } catch (const qm::EQuillError&) {
            return false;
        }
        return true;
    }
    content.assign(body, body + length);
    return true;
}

inline std::string FuzzLoad(const uint8_t* data, size_t size) {
    FuzzBytes content;
    if (size == 0 || !LevelContent(data, size, content)) return {};
    qm::Ttrlevel level;
    try {
        const uint8_t result = level.ParseLevel(content.data(), content.size(), "in" + ExtensionFor(data[0]));
        if (level.IsLoaded() != (result == 0)) return "the loaded state disagrees with the result";
        if (result != 0) return {};
        // The tool's report and listings must cope with whatever a level holds.
        qm::TStringConsole out;
        qm::WriteReport(qm::ReportOf(level), out);
        qm::WriteIdList({qm::TIdList::TKind::Items, qm::ItemIds(level)}, out);
        qm::WriteIdList({qm::TIdList::TKind::Statics, qm::StaticIds(level)}, out);
        qm::WriteAnimatedTextures({qm::AnimatedTextureGroups(level)}, out);
    } catch (const qm::EQuillError&) {
        if (level.IsLoaded()) return "a failed load left a level loaded";
    }
    return {};
}

// A TR4-family file split into its head (signature, page counts), the unpacked
// content of its four chunks (TR5: three) and its tail (TR5: everything after
// the third chunk). False when it does not split.
struct FuzzTr4Parts {
    FuzzBytes Head, Chunks[4], Tail;
};
inline bool SplitTr4(const FuzzBytes& file, FuzzTr4Parts& parts, int chunks) {
    if (file.size() < 10) return false;
    parts.Head.assign(file.begin(), file.begin() + 10);
    size_t pos = 10;
    for (int c = 0; c < chunks; ++c) {
        FuzzBytes& chunk = parts.Chunks[c];
        if (file.size() - pos < 8) return false;
        const size_t packed = GetU32(&file[pos + 4]);
        pos += 8;
        if (packed > file.size() - pos) return false;
        try {
            chunk = Plain(qm::DecompressBlock(file.data() + pos, packed, 0));
        } catch (const qm::EQuillError&) {
            return false;
        }
        pos += packed;
    }
    parts.Tail.assign(file.begin() + long(pos), file.end());
    return true;
}

// The level data as saved equals the level data as loaded, but for the room
// geometry sizes the saver computes: where a room held another value, only
// those bytes (4 per such room) may differ.
inline std::string SameLevelData(const FuzzBytes& loaded, const FuzzBytes& saved, size_t recomputedRooms, const char* what) {
    if (loaded.size() != saved.size())
        return std::string(what) + ": " + std::to_string(loaded.size()) + " bytes loaded, " + std::to_string(saved.size()) + " saved";
    size_t differ = 0;
    for (size_t i = 0; i < loaded.size(); ++i) differ += loaded[i] != saved[i];
    if (differ > 4 * recomputedRooms)
        return std::string(what) + ": " + std::to_string(differ) + " bytes differ, " + std::to_string(recomputedRooms) +
               " room sizes were recomputed";
    return {};
}

// An unedited save gives back the level it loaded: kinds 1-5 byte for byte, the
// TR4 family the same head, unpacked chunks and tail (the chunks are compressed
// afresh, so their packed bytes and size fields may differ); TR5 everything
// after its page chunks byte for byte.
inline std::string SameLevel(const FuzzBytes& loaded, const FuzzBytes& saved, bool tr4Family, bool tr5,
                             size_t recomputedRooms) {
    if (!tr4Family) return SameLevelData(loaded, saved, recomputedRooms, "the saved file");
    FuzzTr4Parts a, b;
    const int chunks = tr5 ? 3 : 4;
    if (!SplitTr4(loaded, a, chunks)) return "the loaded TR4-family file does not split into its chunks";
    if (!SplitTr4(saved, b, chunks)) return "the saved TR4-family file does not split into its chunks";
    if (a.Head != b.Head) return "the head changed";
    for (int i = 0; i < 3; ++i)
        if (a.Chunks[i] != b.Chunks[i]) return "chunk " + std::to_string(i + 1) + " unpacks to other bytes";
    if (a.Tail != b.Tail) return "the tail changed";
    if (tr5) return {};
    return SameLevelData(a.Chunks[3], b.Chunks[3], recomputedRooms, "the level data chunk");
}

// Load, (edit,) save, load again. An unedited save must give back the level it
// loaded; the saved level must load and save to the same bytes again.
inline std::string FuzzRoundtrip(const uint8_t* data, size_t size) {
    FuzzBytes content;
    if (size == 0 || !LevelContent(data, size, content)) return {};
    const std::string name = "in" + ExtensionFor(data[0]);
    qm::Ttrlevel first;
    try {
        if (first.ParseLevel(content.data(), content.size(), name) != 0) return {};
    } catch (const qm::EQuillError&) {
        return {};
    }
    const bool tr4Family = first.LevelVersion >= qm::KindTR4;
    // An odd last byte (kept as trailing bytes or tail) runs the room edits
    // over all rooms before saving.
    const bool edited = first.RoomCount > 0 && data[size - 1] % 2 == 1;
    if (edited) {
        const int32_t last = first.RoomCount - 1;
        qm::EditStepSound(first, data[0], 0, last);
        qm::EditLaraLight(first, uint16_t(data[0] * 257), 0, last);
        qm::EditRoomFlag(first, 0x88, data[0] & 1, 0, last);
        qm::EditTextures(first, 0, data[0], 0, last);
    }
    std::vector<uint32_t> stored;
    for (const qm::RoomRecord& r : first.Rooms) stored.push_back(r.RoomInfo.DataWords);
    FuzzBytes saved;
    try {
        saved = first.SerializeLevel();
    } catch (const qm::ELevelError& e) {
        // The one refusal by design: TR4-family chunks that are not whole pages
        // of the page count, which a save would have to cut or pad.
        const size_t pages = size_t(first.TexturePageCount());
        if (tr4Family && (first.Textiles32.size() != pages * 262144 || first.Textiles16.size() != pages * 131072)) return {};
        return std::string("a loaded level was refused: ") + e.what();
    }
    if (!edited) {
        size_t recomputed = 0;
        for (size_t i = 0; i < stored.size(); ++i) recomputed += stored[i] != first.Rooms[i].RoomInfo.DataWords;
        const std::string fault = SameLevel(content, saved, tr4Family, first.LevelVersion == qm::KindTR5, recomputed);
        if (!fault.empty()) return "an unedited save lost or changed content: " + fault;
    }
    if (tr4Family && first.SerializeLevel() != saved) return "a second save of the same model wrote other bytes";
    qm::Ttrlevel second;
    try {
        if (second.ParseLevel(saved.data(), saved.size(), name) != 0) return "the saved level does not load";
    } catch (const qm::EQuillError& e) {
        return std::string("the saved level does not load: ") + e.what() + " (" + e.Where + ")";
    }
    if (second.SerializeLevel() != saved) return "saving the reloaded level gave other bytes";
    return {};
}

// The container through the buffered file: open, read in odd-sized blocks,
// close without writing.
inline std::string FuzzContainer(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzFile("container.bin", data, size);
    qm::TZfile f;
    qm::ZAssign(f, path);
    try {
        qm::ZReset(f, 1);
    } catch (const qm::EQuillError&) {
        if (!f.Buffer.empty() || f.Size != 0) return "a failed open kept its buffer";
        return {};
    }
    FuzzBytes content;
    uint8_t block[97];
    for (int32_t n; (n = qm::ZBlockRead(f, block, int32_t(sizeof block))) > 0;) content.insert(content.end(), block, block + n);
    const bool wrapped = size > 12 && std::memcmp(data, "ZLIB", 4) == 0;
    std::string fault;
    if (content.size() != size_t(qm::ZFileSize(f))) fault = "the block reads do not add up to the size";
    else if (f.Compressed != wrapped) fault = "the container was not recognised as such";
    else if (!wrapped && content != FuzzBytes(data, data + size)) fault = "a plain file was not read as it is";
    qm::ZClose(f, false);
    return fault;
}

// An independent reading of the number rule: leading spaces, then a signed
// decimal within int32, or a hexadecimal 32-bit pattern after $, x, X, 0x, 0X
// with at most eight significant digits.
inline bool ModelNumber(const std::string& text, int32_t& value) {
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) return false;
    std::string digits;
    int base = 10;
    bool negative = false;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) base = 16, i += 2;
    else if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') base = 16, i += 1;
    else if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    digits = text.substr(i);
    const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) return false;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits.size() > (base == 16 ? 8u : 10u)) return false;
    const int64_t magnitude = std::stoll(digits, nullptr, base);
    if (base == 16) return value = int32_t(uint32_t(magnitude)), true;
    const int64_t v = negative ? -magnitude : magnitude;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    return value = int32_t(v), true;
}

inline std::string FuzzNumber(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t expected = 0;
    const bool valid = ModelNumber(text, expected);
    try {
        const int32_t got = qm::StrToInt(text);
        if (!valid) return "accepted a bad number as " + std::to_string(got);
        if (got != expected) return "read " + std::to_string(got) + ", expected " + std::to_string(expected);
    } catch (const qm::EConvertError&) {
        if (valid) return "refused a number worth " + std::to_string(expected);
    }
    return {};
}

} // namespace qmtest

// The body of a fuzz target: any fault found aborts with its description.
#define QM_FUZZ_TARGET(run)                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        const std::string fault = run(data, size);                          \
        if (!fault.empty()) {                                               \
            std::fprintf(stderr, "%s: %s\n", #run, fault.c_str());          \
            std::abort();                                                   \
        }                                                                   \
        return 0;                                                           \
    }
