// The file layout of every level kind, written once and walked in both
// directions. A walk is a template over an IO direction (TLoadIO or TSaveIO,
// walkio.h, which lists the verbs a walk uses). The differences between the
// kinds come from the TKindInfo row.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "errors.h"
#include "kinds.h"
#include "reader.h"
#include "trlevel.h"
#include "walkio.h"
#include "xela.h"

namespace qm {

// A counted level array: the count, then its elements. On load, once the
// count has been checked, the array is sized without filling (its elements
// are read at once) and the resizing operation sets the count (and
// zero-fills the other form, where it sizes two).
template <class IO, class T>
void CountedArray(IO& io, Ttrlevel& L, const char* section, int32_t held, int width, TArray<T>& v,
                  void (Ttrlevel::*resize)(int32_t), uint64_t elementSize = sizeof(T)) {
    io.At(section);
    int64_t n = io.Count(held, width, elementSize);
    if constexpr (IO::Loading) {
        SizeToFill(v, n);
        (L.*resize)(int32_t(n));
    }
    io.Elements(v, n);
}

// A counted array inside a room: a 16-bit count, then its elements. On load
// the count is checked against the bytes that remain before the array is sized.
template <class IO, class T>
void RoomArray(IO& io, int room, uint16_t& count, const char* noun, TArray<T>& v) {
    io.At("room", room, noun);
    if constexpr (IO::Loading) {
        const uint16_t n = io.R.U16();
        io.Need(uint64_t(n) * sizeof(T));
        count = n;
        SizeToFill(v, n);
    } else {
        io.Count(count, 2, sizeof(T));
    }
    io.Elements(v, count);
}

// Copies one item into the other form: the first 20 bytes, then the flags.
template <size_t From, size_t To>
void CopyItem(const TRec<From>& from, size_t fromFlags, TRec<To>& to, size_t toFlags) {
    std::memcpy(to.data(), from.data(), 20);
    std::memcpy(to.data() + toFlags, from.data() + fromFlags, 2);
}

// The smallest room a kind's file can hold: every count 0 and no sectors.
inline uint64_t MinimalRoomSize(const TKindInfo& K) {
    if (K.XelaRooms) return xela::DataArea;
    return 20 + 7 * 2 + 2 + (K.HasAmbient2 ? 2 : 0) + (K.HasLightMode ? 2 : 0) + 2 + 2 + 2 + 2 +
           (K.HasRoomTail ? 3 : 0);
}

inline uint32_t RoomDataWords(const RoomRecord& r, const TKindInfo& K) {
    uint32_t bytes = uint32_t(r.VertexCount) * uint32_t(K.VertexSize) + uint32_t(r.RectangleCount) * 10u +
                     uint32_t(r.TriangleCount) * 8u + uint32_t(r.SpriteCount) * 4u + 8u;
    return bytes >> 1;
}

template <class IO>
void WalkRoom(IO& io, RoomRecord& r, int i, const TKindInfo& K) {
    io.At("room", i, "room info");
    io.Raw(r.RoomInfo.Head);
    io.Computed(r.RoomInfo.DataWords, [&] { return RoomDataWords(r, K); });

    if (K.VertexSize == 8) {
        RoomArray(io, i, r.VertexCount, "vertices", r.Vertices8);
        if constexpr (IO::Loading) {
            // The other vertex form: the same position and first light value,
            // with the attribute and second light value the 12-byte form starts with.
            r.Vertices12.resize(r.VertexCount);
            const auto* from = reinterpret_cast<const uint8_t*>(r.Vertices8.data());
            auto* to = reinterpret_cast<uint8_t*>(r.Vertices12.data());
            for (size_t v = 0; v < r.VertexCount; ++v, from += 8, to += 12) {
                std::memcpy(to, from, 8);
                const uint8_t tail[4] = {0x10, 0x00, 0xEF, 0x3D};
                std::memcpy(to + 8, tail, 4);
            }
        }
    } else {
        RoomArray(io, i, r.VertexCount, "vertices", r.Vertices12);
        if constexpr (IO::Loading) {
            r.Vertices8.resize(r.VertexCount);
            const auto* from = reinterpret_cast<const uint8_t*>(r.Vertices12.data());
            auto* to = reinterpret_cast<uint8_t*>(r.Vertices8.data());
            for (size_t v = 0; v < r.VertexCount; ++v, from += 12, to += 8) std::memcpy(to, from, 8);
        }
    }
    RoomArray(io, i, r.RectangleCount, "rectangles", r.Rectangles);
    RoomArray(io, i, r.TriangleCount, "triangles", r.Triangles);
    RoomArray(io, i, r.SpriteCount, "sprites", r.Sprites);
    RoomArray(io, i, r.PortalCount, "portals", r.Portals);

    io.At("room", i, "sectors");
    io.Field(r.SectorCountZ);
    io.Field(r.SectorCountX);
    int64_t sectors = int64_t(r.SectorCountZ) * r.SectorCountX;
    if constexpr (IO::Loading) {
        io.Need(uint64_t(sectors) * 8);
        SizeToFill(r.Sectors, sectors);
    }
    io.Elements(r.Sectors, sectors);

    io.At("room", i, "ambient light");
    io.Field(r.AmbientIntensity[0]);
    io.Field(r.AmbientIntensity[1]);
    if (K.HasAmbient2) io.Field(r.AmbientIntensity2);
    if (K.HasLightMode) io.Field(r.LightMode);

    switch (K.LightSize) {
    case 18: RoomArray(io, i, r.LightCount, "lights", r.Lights18); break;
    case 24: RoomArray(io, i, r.LightCount, "lights", r.Lights24); break;
    default: RoomArray(io, i, r.LightCount, "lights", r.Lights46); break;
    }
    if (K.StaticSize == 18) RoomArray(io, i, r.StaticCount, "static meshes", r.Statics18);
    else RoomArray(io, i, r.StaticCount, "static meshes", r.Statics20);

    io.At("room", i, "flags");
    io.Field(r.AlternateRoom);
    io.Field(r.RoomFlags[0]);
    io.Field(r.RoomFlags[1]);
    if (K.HasRoomTail) {
        io.Field(r.WaterScheme);
        io.Field(r.ReverbInfo);
        io.Field(r.RoomFiller);
    }
}

// Head of TR1, TR2 and TR3 files: signature, palettes, texture pages.
template <class IO>
void WalkHead(IO& io, Ttrlevel& L, const TKindInfo& K) {
    io.At("head", -1, "signature");
    io.Field(L.FileSignature);
    if (K.HeadPalettes) {
        io.At("head", -1, "palettes");
        io.Raw(L.Palette8);
        io.Raw(L.Palette16);
    }
    io.At("head", -1, "texture pages");
    // Each page block is checked on its own, as it is read: two blocks that
    // together pass 2 GiB while each alone does not make a file that ends early.
    const int64_t pages = io.Count(IO::Loading ? 0 : L.TexturePageCount(), 4, 65536);
    io.Report(30);
    io.Block(L.Textiles8, pages * 65536);
    if (K.Head16BitPages) io.Block(L.Textiles16, pages * 131072);
    io.Report(50);
}

// Head of TR4-family files: signature, page counts and the four chunks (in
// TR5, three chunks, its own fields and the raw level data); the raw tail
// follows the level data.
template <class IO>
void WalkTr4Head(IO& io, Ttrlevel& L, const TKindInfo& K, TChunkSlot (&slots)[4]) {
    io.At("head", -1, "signature");
    io.Field(L.FileSignature);
    io.At("head", -1, "page counts");
    for (auto& c : L.Tr4TextileCounts) io.Field(c);
    io.At("chunk 1 (32-bit texture pages)");
    io.Chunk(slots[0]);
    io.At("chunk 2 (16-bit texture pages)");
    io.Chunk(slots[1]);
    io.At("chunk 3 (misc texture pages)");
    io.Chunk(slots[2]);
    if (K.RawLevelData) {
        // TR5: its own fields, then the level data stored as it is, under the
        // same size pair (both sizes equal).
        io.At("TR5 fields");
        io.Raw(L.Tr5Fields);
        io.At("level data");
    } else {
        io.At("chunk 4 (level data)");
    }
    io.Chunk(slots[3]);
    io.At("tail");
    io.Rest(L.SampleData);
    if constexpr (IO::Loading) L.SampleDataSize = int32_t(L.SampleData.size());
}

template <class IO>
void WalkObjectTextures(IO& io, Ttrlevel& L, const TKindInfo& K) {
    io.At("object textures");
    int64_t n = io.Count(L.ObjectTextureCount, 4, uint64_t(K.ObjectTextureSize));
    if constexpr (IO::Loading) L.SetObjectTextureCount(int32_t(n));
    else TSaveIO::CheckHeld(L.ObjectTextures.size(), n);
    for (int64_t i = 0; i < n; ++i) {
        ObjectTextureRecord& t = L.ObjectTextures[size_t(i)];
        io.Field(t.Attribute);
        if (K.ObjectTextureSize >= 38) {
            io.Field(t.TileAndFlags);
            if constexpr (IO::Loading) t.Tile = uint16_t(t.TileAndFlags);
        } else {
            io.Field(t.Tile);
            if constexpr (IO::Loading) t.TileAndFlags = t.Tile;
        }
        io.Raw(t.Corners);
        if (K.ObjectTextureSize >= 38)
            for (auto& e : t.Tr4Extra) io.Field(e);
        if (K.ObjectTextureSize == 40) io.Field(t.Tr5Closing);
    }
}

// The bytes of an NG level's sound map, from the demo data count field that
// stands for its entries: 0 means the kind's standard map.
inline int64_t NgSoundMapBytes(int64_t count, const TKindInfo& K) { return count != 0 ? count * 2 : K.SoundMapSize; }

// The level data: reserved word, rooms, and everything after the rooms, up to
// the sample indices and whatever bytes follow them.
template <class IO>
void WalkLevelData(IO& io, Ttrlevel& L, const TKindInfo& K, bool ngSoundMap) {
    using T = Ttrlevel;
    io.At("level data", -1, "reserved word");
    io.Raw(L.LevelReservedWord);
    io.At("level data", -1, "room count");
    const int64_t rooms = io.Count(L.RoomCount, K.RoomCountWidth, MinimalRoomSize(K));
    if constexpr (IO::Loading) {
        if (rooms > UINT16_MAX) throw ERangeError(io.R.Where());
        L.SetRoomCount(uint16_t(rooms));
    }
    for (int i = 0; i < int(L.RoomCount); ++i) {
        if (K.XelaRooms) WalkXelaRoom(io, L.Rooms[size_t(i)], i);
        else WalkRoom(io, L.Rooms[size_t(i)], i, K);
    }
    io.Report(80);

    CountedArray(io, L, "floor data", L.FloorDataCount, 4, L.FloorData, &T::SetFloorDataCount);
    CountedArray(io, L, "mesh data", L.MeshDataCount, 4, L.MeshData, &T::SetMeshDataCount);
    CountedArray(io, L, "mesh pointers", L.MeshPointerCount, 4, L.MeshPointers, &T::SetMeshPointerCount);
    if (K.AnimationSize == 40) CountedArray(io, L, "animations", L.AnimationCount, 4, L.Animations40, &T::SetAnimationCount);
    else CountedArray(io, L, "animations", L.AnimationCount, 4, L.Animations32, &T::SetAnimationCount);
    CountedArray(io, L, "state changes", L.StateChangeCount, 4, L.StateChanges, &T::SetStateChangeCount);
    CountedArray(io, L, "animation dispatches", L.AnimDispatchCount, 4, L.AnimDispatches, &T::SetAnimDispatchCount);
    CountedArray(io, L, "animation commands", L.AnimCommandCount, 4, L.AnimCommands, &T::SetAnimCommandCount);
    CountedArray(io, L, "mesh trees", L.MeshTreeCount, 4, L.MeshTrees, &T::SetMeshTreeCount);
    CountedArray(io, L, "frames", L.FrameCount, 4, L.Frames, &T::SetFrameCount);
    if (K.MoveableSize == 20) CountedArray(io, L, "moveables", L.MoveableCount, 4, L.Moveables20, &T::SetMoveableCount);
    else CountedArray(io, L, "moveables", L.MoveableCount, 4, L.Moveables, &T::SetMoveableCount);
    CountedArray(io, L, "static meshes", L.StaticMeshCount, 4, L.StaticMeshes, &T::SetStaticMeshCount);
    if (K.EarlyObjectTextures) WalkObjectTextures(io, L, K);
    if (K.SpriteMarkerSize) {
        io.At("sprite marker");
        io.Raw(L.SpriteMarker, size_t(K.SpriteMarkerSize));
    }
    CountedArray(io, L, "sprite textures", L.SpriteTextureCount, 4, L.SpriteTextures, &T::SetSpriteTextureCount);
    CountedArray(io, L, "sprite sequences", L.SpriteSequenceCount, 4, L.SpriteSequences, &T::SetSpriteSequenceCount);
    if (K.PaletteAfterSprites) {
        io.At("palette");
        io.Raw(L.Palette8);
    }
    CountedArray(io, L, "cameras", L.CameraCount, 4, L.Cameras, &T::SetCameraCount);
    if (K.HasFlybyCameras) {
        CountedArray(io, L, "flyby cameras", L.FlybyCameraCount, 4, L.FlybyCameras, &T::SetFlybyCameraCount);
    }
    CountedArray(io, L, "sound sources", L.SoundSourceCount, 4, L.SoundSources, &T::SetSoundSourceCount);
    if (K.BoxSize == 20) CountedArray(io, L, "boxes", L.BoxCount, 4, L.Boxes20, &T::SetBoxCount);
    else CountedArray(io, L, "boxes", L.BoxCount, 4, L.Boxes8, &T::SetBoxCount);
    CountedArray(io, L, "overlaps", L.OverlapCount, 4, L.Overlaps, &T::SetOverlapCount);
    io.At("zones");
    if constexpr (IO::Loading) {
        io.Need(uint64_t(L.BoxCount) * 2 * uint64_t(K.ZoneArrays));
        L.SetZoneCount(L.BoxCount);
    }
    for (int z = 0; z < K.ZoneArrays; ++z)
        io.Elements(L.Zones[size_t(K.ZoneArrays == 6 ? ZoneOrder6[z] : z)], L.ZoneCount);
    CountedArray(io, L, "animated textures", L.AnimatedTextureCount, 4, L.AnimatedTextures, &T::SetAnimatedTextureCount);
    io.Report(85);
    if (K.TexMarkerSize) {
        io.At("texture marker");
        io.Raw(L.TexMarker, size_t(K.TexMarkerSize));
    }
    if (!K.EarlyObjectTextures) WalkObjectTextures(io, L, K);
    io.Report(90);
    // Items are read in the kind's form and copied into the other one: the same
    // fields, with the flags at bytes 20-21 of the short form and 22-23 of the
    // long form (which has the second intensity before them).
    if (K.ItemSize == 22) {
        CountedArray(io, L, "items", L.ItemCount, 4, L.Items22, &T::SetItemCount);
        if constexpr (IO::Loading)
            for (int32_t i = 0; i < L.ItemCount; ++i) CopyItem(L.Items22[size_t(i)], 20, L.Items24[size_t(i)], 22);
    } else {
        CountedArray(io, L, "items", L.ItemCount, 4, L.Items24, &T::SetItemCount);
        if constexpr (IO::Loading)
            for (int32_t i = 0; i < L.ItemCount; ++i) CopyItem(L.Items24[size_t(i)], 22, L.Items22[size_t(i)], 20);
    }
    if (K.HasLightMap) {
        io.At("light map");
        io.Raw(L.LightMap);
    }
    if (K.PaletteAfterLightMap) {
        io.At("palette");
        io.Raw(L.Palette8);
    }
    if (K.HasAIObjects) {
        CountedArray(io, L, "AI objects", L.CinematicFrameCount, 4, L.AIObjects, &T::SetCinematicFrameCount);
    } else {
        CountedArray(io, L, "cinematic frames", L.CinematicFrameCount, 2, L.CinematicFrames, &T::SetCinematicFrameCount);
    }
    if (ngSoundMap) {
        // NG levels have no demo data: the demo data count field holds the
        // number of 2-byte sound map entries, or 0 for the kind's standard map
        // (older builds write that). The count is kept as read, so a saved
        // level writes the same field and map.
        io.At("sound map");
        const int64_t count = io.Count(L.DemoDataCount, 2, 2);
        if constexpr (IO::Loading) {
            L.SetDemoDataCount(0);
            L.DemoDataCount = int32_t(count);
        }
        io.Block(L.SoundMap, NgSoundMapBytes(count, K));
    } else {
        CountedArray(io, L, "demo data", L.DemoDataCount, 2, L.DemoData, &T::SetDemoDataCount);
        io.At("sound map");
        io.Block(L.SoundMap, K.SoundMapSize);
    }
    CountedArray(io, L, "sound details", L.SoundDetailCount, 4, L.SoundDetails, &T::SetSoundDetailCount);
    if (K.HasSampleBlock) {
        io.At("samples");
        int64_t n = io.Count(L.SampleDataSize, 4, 1);
        if constexpr (IO::Loading) L.SampleDataSize = int32_t(n);
        io.Block(L.SampleData, n);
    }
    CountedArray(io, L, "sample indices", L.SampleIndexCount, 4, L.SampleIndices, &T::SetSampleIndexCount);
    io.At("after the sample indices");
    io.Rest(L.TrailingBytes);
}

} // namespace qm
