// The checked reading of a page's PNG picture: the chunks are walked here,
// each checked against its CRC-32, and the image data is unpacked by zlib
// into a buffer of the exact size the header calls for. The picture is then
// rebuilt from the checked parts alone and decoded (png.cpp).
#include "pngread.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>

#include "pages.h"
#include "png.h"

namespace qm {

namespace {

constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;
constexpr uint8_t PaletteType = 3;

// Ends the reading with the line that refuses the picture.
struct TRefusal {
    std::string Text;
};
[[noreturn]] void Refuse(std::string text) { throw TRefusal{std::move(text)}; }
[[noreturn]] void Damaged(const std::string& what) { Refuse("The picture is damaged: " + what + "."); }

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void PutBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(v >> shift));
}

// The CRC-32 continued over n bytes (none: as it was; zlib would start afresh
// on a null pointer).
uint32_t Crc(uint32_t crc, const void* data, size_t n) {
    if (n == 0) return crc;
    return uint32_t(crc32(crc, static_cast<const Bytef*>(data), uInt(n)));
}

unsigned Channels(uint8_t colourType) {
    switch (colourType) {
    case 0: return 1;  // grey
    case 2: return 3;  // red, green, blue
    case 3: return 1;  // palette index
    case 4: return 2;  // grey, alpha
    case 6: return 4;  // red, green, blue, alpha
    default: return 0;
    }
}

bool ValidDepth(uint8_t colourType, uint8_t depth) {
    switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
    }
}

// One chunk's length and name.
struct TChunk {
    uint32_t Length = 0;
    std::array<char, 5> Name{};
    bool Is(const char* name) const { return std::memcmp(Name.data(), name, 4) == 0; }
    std::string Label() const { return Name.data(); }
};

// The file's bytes in order, chunk by chunk, each chunk's CRC-32 computed as
// its data is read.
class TChunkReader {
public:
    explicit TChunkReader(const TByteSource& source) : Source_(source) {}

    // Fills n bytes; false when the file ends first.
    bool Read(uint8_t* dest, size_t n) {
        while (n > 0) {
            const size_t got = Source_(dest, n);
            if (got == 0) return false;
            dest += got;
            n -= got;
        }
        return true;
    }

    // The next chunk's length and name. The file may not end before it:
    // every chunk up to the end chunk is needed.
    TChunk Next(const char* expected) {
        uint8_t head[8];
        if (!Read(head, sizeof head)) Damaged(std::string("the file ends before chunk ") + expected);
        TChunk c;
        c.Length = Be32(head);
        std::memcpy(c.Name.data(), head + 4, 4);
        for (size_t i = 0; i < 4; ++i) {
            const uint8_t letter = uint8_t(head[4 + i] & 0xDF);  // in upper case
            if (letter < 'A' || letter > 'Z') Damaged("a chunk's name is not four letters");
        }
        if (c.Length > MaxChunkLength) Damaged("chunk " + c.Label() + " states a length PNG does not allow");
        Crc_ = Crc(0, head + 4, 4);
        Left_ = c.Length;
        Current_ = c;
        return c;
    }

    // The next n bytes of the current chunk's data.
    void Data(uint8_t* dest, size_t n) {
        if (n > Left_ || !Read(dest, n)) Damaged("the file ends inside chunk " + Current_.Label());
        Crc_ = Crc(Crc_, dest, n);
        Left_ -= uint32_t(n);
    }

    // The rest of the current chunk's data, piece by piece, to `take` (or skipped).
    template <typename Take>
    void Rest(Take take) {
        uint8_t piece[16384];
        while (Left_ > 0) {
            const size_t n = std::min<size_t>(Left_, sizeof piece);
            Data(piece, n);
            take(piece, n);
        }
    }
    void Skip() {
        Rest([](const uint8_t*, size_t) {});
    }

    // Reads what is left of the current chunk's data, then its check sum,
    // which must match.
    void Check() {
        Skip();
        uint8_t stored[4];
        if (!Read(stored, 4)) Damaged("the file ends inside chunk " + Current_.Label());
        if (Be32(stored) != Crc_) Damaged("chunk " + Current_.Label() + " fails its check sum");
    }

private:
    const TByteSource& Source_;
    TChunk Current_;
    uint32_t Left_ = 0;
    uint32_t Crc_ = 0;
};

// The picture's header fields.
struct THeader {
    std::array<uint8_t, 13> Bytes{};
    uint8_t Depth = 0, ColourType = 0;
    bool Interlaced = false;
};

// The image data stream, unpacked as it comes into a buffer of exactly the
// size the header calls for and one byte more: a stream that reaches that
// byte wants more than the picture holds and is refused there.
class TImageData {
public:
    explicit TImageData(size_t expected) : Expected_(expected), Out_(expected + 1) {
        if (inflateInit(&Stream_) != Z_OK) throw std::bad_alloc();
    }
    ~TImageData() { inflateEnd(&Stream_); }
    TImageData(const TImageData&) = delete;
    TImageData& operator=(const TImageData&) = delete;

    // Unpacks the next piece of the stream. Bytes after its end are not
    // looked at; after a problem, nothing more is unpacked.
    void Feed(const uint8_t* data, size_t n) {
        if (Ended_ || !Problem_.empty()) return;
        Stream_.next_in = const_cast<Bytef*>(data);
        Stream_.avail_in = uInt(n);
        while (Stream_.avail_in > 0 && Problem_.empty() && !Ended_) {
            Stream_.next_out = Out_.data() + Stream_.total_out;
            Stream_.avail_out = uInt(Out_.size() - Stream_.total_out);
            const int status = inflate(&Stream_, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR) break;  // no progress: the stream needs the next piece
            if (Stream_.total_out > Expected_) Problem_ = "its image data unpacks to more than a 256 x 256 picture holds";
            else if (status == Z_STREAM_END) Ended_ = true;
            else if (status == Z_MEM_ERROR) throw std::bad_alloc();
            else if (status == Z_DATA_ERROR && Stream_.msg && std::strcmp(Stream_.msg, "incorrect data check") == 0)
                Problem_ = "its image data fails its check sum";
            else if (status != Z_OK) Problem_ = "its image data is not a valid compressed stream";
        }
    }

    // What was wrong with the stream so far, or "".
    const std::string& Problem() const { return Problem_; }

    // The unpacked image data once the whole stream was fed.
    std::vector<uint8_t> Whole() {
        if (!Problem_.empty()) Damaged(Problem_);
        if (!Ended_) Damaged("its image data stops before its compressed stream ends");
        if (Stream_.total_out != Expected_) Damaged("its image data unpacks to less than a 256 x 256 picture holds");
        Out_.resize(Expected_);
        return std::move(Out_);
    }

private:
    z_stream Stream_{};
    size_t Expected_;
    std::vector<uint8_t> Out_;
    bool Ended_ = false;
    std::string Problem_;
};

// The header chunk, first in the file, with its size checked before anything else.
THeader ReadHeader(TChunkReader& in) {
    const TChunk c = in.Next("IHDR");
    if (!c.Is("IHDR")) Damaged("it does not start with chunk IHDR");
    if (c.Length != 13) Damaged("chunk IHDR is not 13 bytes long");
    THeader h;
    in.Data(h.Bytes.data(), h.Bytes.size());
    in.Check();
    const uint32_t width = Be32(&h.Bytes[0]), height = Be32(&h.Bytes[4]);
    if (width == 0 || height == 0 || width > MaxChunkLength || height > MaxChunkLength)
        Damaged("chunk IHDR states a size PNG does not allow");
    if (width != PageSide || height != PageSide)
        Refuse("The picture is " + std::to_string(width) + " x " + std::to_string(height) + " pixels; a page is 256 x 256.");
    h.Depth = h.Bytes[8];
    h.ColourType = h.Bytes[9];
    if (!ValidDepth(h.ColourType, h.Depth) || h.Bytes[10] != 0 || h.Bytes[11] != 0 || h.Bytes[12] > 1)
        Damaged("chunk IHDR states a colour type, bit depth or method PNG does not have");
    h.Interlaced = h.Bytes[12] == 1;
    return h;
}

// What the picture is rebuilt from: the header, the palette and transparency
// that apply to its colour type, and the unpacked image data.
struct TParts {
    THeader Header;
    std::string Palette, Transparency;
    std::vector<uint8_t> ImageData;
};

// A chunk's data kept whole; its length was checked to be small.
std::string Kept(TChunkReader& in, const TChunk& c) {
    std::string data(c.Length, '\0');
    in.Data(reinterpret_cast<uint8_t*>(data.data()), data.size());
    return data;
}

// The palette (colour type 3 only; a suggested palette of other types is not needed).
void ReadPalette(TChunkReader& in, const TChunk& c, TParts& parts, bool afterData) {
    if (parts.Header.ColourType != PaletteType) return;
    if (!parts.Palette.empty()) Damaged("chunk PLTE comes twice");
    if (afterData) Damaged("chunk PLTE comes after the image data");
    if (c.Length == 0 || c.Length > 256 * 3 || c.Length % 3 != 0) Damaged("chunk PLTE is not a palette of 1 to 256 colours");
    parts.Palette = Kept(in, c);
}

// The transparency of palette entries or of one grey or RGB colour; types
// with an alpha channel have none, and one given is not used.
void ReadTransparency(TChunkReader& in, const TChunk& c, TParts& parts, bool afterData) {
    const uint8_t type = parts.Header.ColourType;
    if (type == 4 || type == 6) return;
    if (!parts.Transparency.empty()) Damaged("chunk tRNS comes twice");
    if (afterData) Damaged("chunk tRNS comes after the image data");
    if (type == PaletteType && parts.Palette.empty()) Damaged("chunk tRNS comes before chunk PLTE");
    const size_t allowed = type == PaletteType ? parts.Palette.size() / 3 : type == 0 ? 2 : 6;
    if (type == PaletteType ? c.Length > allowed || c.Length == 0 : c.Length != allowed)
        Damaged("chunk tRNS does not fit the picture's colour type");
    parts.Transparency = Kept(in, c);
}

// Every chunk after the header up to the end chunk.
TParts ReadChunks(TChunkReader& in, const THeader& header) {
    TParts parts;
    parts.Header = header;
    TImageData data(size_t(PngImageBytes(PageSide, PageSide, header.ColourType, header.Depth, header.Interlaced)));
    bool seenData = false;
    for (;;) {
        const TChunk c = in.Next("IEND");
        if (c.Is("IEND")) {
            in.Check();
            break;
        }
        if (c.Is("IDAT")) {
            seenData = true;
            // The chunk is read whole even after a problem in its stream, so
            // that a chunk damaged on the way is told by its check sum.
            in.Rest([&data](const uint8_t* piece, size_t n) { data.Feed(piece, n); });
            in.Check();
            if (!data.Problem().empty()) Damaged(data.Problem());
            continue;
        }
        if (c.Is("IHDR")) Damaged("chunk IHDR comes twice");
        else if (c.Is("PLTE")) ReadPalette(in, c, parts, seenData);
        else if (c.Is("tRNS")) ReadTransparency(in, c, parts, seenData);
        else if (!(c.Name[0] & 0x20)) Refuse("The picture needs chunk " + c.Label() + ", which is not part of PNG.");
        in.Check();
    }
    if (!seenData) Damaged("it has no image data (chunk IDAT)");
    if (header.ColourType == PaletteType && parts.Palette.empty()) Damaged("it has no palette (chunk PLTE)");
    parts.ImageData = data.Whole();
    return parts;
}

void AppendChunk(std::string& png, const char* name, const void* data, size_t n) {
    PutBe32(png, uint32_t(n));
    png.append(name, 4);
    png.append(static_cast<const char*>(data), n);
    PutBe32(png, Crc(Crc(0, name, 4), data, n));
}

// A PNG file of the checked parts alone, for the decoder. The image data is
// packed again without compression: this file is only ever read back at once.
// A palette is filled up to 256 entries with opaque black, so that an index
// past the picture's palette decodes to a defined colour.
std::string Rebuilt(const TParts& parts) {
    std::string png(reinterpret_cast<const char*>(Signature), sizeof Signature);
    AppendChunk(png, "IHDR", parts.Header.Bytes.data(), parts.Header.Bytes.size());
    if (!parts.Palette.empty()) {
        std::string palette = parts.Palette;
        palette.resize(256 * 3, '\0');
        AppendChunk(png, "PLTE", palette.data(), palette.size());
    }
    if (!parts.Transparency.empty()) AppendChunk(png, "tRNS", parts.Transparency.data(), parts.Transparency.size());
    std::vector<uint8_t> stream(compressBound(uLong(parts.ImageData.size())));
    uLongf packed = uLongf(stream.size());
    if (compress2(stream.data(), &packed, parts.ImageData.data(), uLong(parts.ImageData.size()), Z_NO_COMPRESSION) != Z_OK)
        throw std::bad_alloc();
    AppendChunk(png, "IDAT", stream.data(), packed);
    AppendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace

uint64_t PngImageBytes(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth, bool interlaced) {
    if (!ValidDepth(colourType, bitDepth)) return 0;
    const uint64_t bitsPerPixel = uint64_t(Channels(colourType)) * bitDepth;
    const auto passBytes = [&](uint64_t w, uint64_t h) {
        // An empty pass has no scanlines, so not even filter bytes.
        return w == 0 || h == 0 ? 0 : h * (1 + (w * bitsPerPixel + 7) / 8);
    };
    if (!interlaced) return passBytes(width, height);
    // The seven passes: first column and row, then the steps between them.
    static constexpr uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const auto& [x0, y0, dx, dy] : passes)
        total += passBytes((uint64_t(width) + dx - 1 - x0) / dx, (uint64_t(height) + dy - 1 - y0) / dy);
    return total;
}

TPagePicture ReadPagePng(const TByteSource& source) {
    TPagePicture picture;
    try {
        TChunkReader in(source);
        uint8_t signature[8];
        if (!in.Read(signature, sizeof signature) || std::memcmp(signature, Signature, sizeof Signature) != 0)
            Refuse("The picture is not a PNG file.");
        const THeader header = ReadHeader(in);
        const TParts parts = ReadChunks(in, header);
        std::string reason;
        if (!DecodeCheckedPng(Rebuilt(parts), PageSide, picture.Rgba, reason)) Damaged("its pixels cannot be decoded (" + reason + ")");
    } catch (const TRefusal& refusal) {
        picture.Rgba.clear();
        picture.Refusal = refusal.Text;
    }
    return picture;
}

} // namespace qm
