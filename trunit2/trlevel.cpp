#include "trlevel.h"

#include <new>

#include "errors.h"
#include "kinds.h"
#include "reader.h"

namespace qm {

namespace {

// Resizes v to n elements after checking that n is a possible count; the
// elements it adds are zero.
template <class T, class A>
void Resize(std::vector<T, A>& v, int32_t n) {
    if (n < 0 || uint64_t(n) * sizeof(T) > uint64_t(INT32_MAX)) throw ERangeError();
    try {
        if (n == 0) std::vector<T, A>().swap(v);
        else v.resize(size_t(n), T{});
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

} // namespace

std::string DescribePlace(const TPlace& p, const char* area, int64_t offset) {
    std::string s = "at byte ";
    s.append(std::to_string(offset)).append(" of the ").append(area).append(": ").append(p.Section);
    if (p.Index >= 0) s.append(" ").append(std::to_string(p.Index));
    if (p.Field && *p.Field) s.append(", ").append(p.Field);
    return s;
}

void Ttrlevel::SetRoomCount(uint16_t n) {
    try {
        Rooms.clear();
        Rooms.resize(n);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    RoomCount = n;
}

#define QM_RESIZER(Name, Count, Array) \
    void Ttrlevel::Name(int32_t n) {   \
        Resize(Array, n);              \
        Count = n;                     \
    }

QM_RESIZER(SetFloorDataCount, FloorDataCount, FloorData)
QM_RESIZER(SetMeshDataCount, MeshDataCount, MeshData)
QM_RESIZER(SetMeshPointerCount, MeshPointerCount, MeshPointers)
QM_RESIZER(SetStateChangeCount, StateChangeCount, StateChanges)
QM_RESIZER(SetAnimDispatchCount, AnimDispatchCount, AnimDispatches)
QM_RESIZER(SetAnimCommandCount, AnimCommandCount, AnimCommands)
QM_RESIZER(SetMeshTreeCount, MeshTreeCount, MeshTrees)
QM_RESIZER(SetFrameCount, FrameCount, Frames)
QM_RESIZER(SetStaticMeshCount, StaticMeshCount, StaticMeshes)
QM_RESIZER(SetObjectTextureCount, ObjectTextureCount, ObjectTextures)
QM_RESIZER(SetSpriteTextureCount, SpriteTextureCount, SpriteTextures)
QM_RESIZER(SetSpriteSequenceCount, SpriteSequenceCount, SpriteSequences)
QM_RESIZER(SetCameraCount, CameraCount, Cameras)
QM_RESIZER(SetFlybyCameraCount, FlybyCameraCount, FlybyCameras)
QM_RESIZER(SetSoundSourceCount, SoundSourceCount, SoundSources)
QM_RESIZER(SetOverlapCount, OverlapCount, Overlaps)
QM_RESIZER(SetAnimatedTextureCount, AnimatedTextureCount, AnimatedTextures)
QM_RESIZER(SetDemoDataCount, DemoDataCount, DemoData)
QM_RESIZER(SetSoundDetailCount, SoundDetailCount, SoundDetails)
QM_RESIZER(SetSampleIndexCount, SampleIndexCount, SampleIndices)
#undef QM_RESIZER

void Ttrlevel::SetAnimationCount(int32_t n) {
    if (LevelVersion >= KindTR4) Resize(Animations40, n);
    else Resize(Animations32, n);
    AnimationCount = n;
}

void Ttrlevel::SetMoveableCount(int32_t n) {
    if (KindInfo(LevelVersion).MoveableSize == 20) Resize(Moveables20, n);
    else Resize(Moveables, n);
    MoveableCount = n;
}

void Ttrlevel::SetBoxCount(int32_t n) {
    Resize(Boxes20, n);
    Resize(Boxes8, n);
    BoxCount = n;
}

void Ttrlevel::SetZoneCount(int32_t n) {
    for (auto& z : Zones) Resize(z, n);
    ZoneCount = n;
}

void Ttrlevel::SetItemCount(int32_t n) {
    Resize(Items22, n);
    Resize(Items24, n);
    ItemCount = n;
}

void Ttrlevel::SetCinematicFrameCount(int32_t n) {
    if (LevelVersion >= KindTR4) Resize(AIObjects, n);
    else Resize(CinematicFrames, n);
    CinematicFrameCount = n;
}

void Ttrlevel::ReleaseBlocks() {
    TBytes().swap(Textiles8);
    Textiles16.Release();
    Textiles32.Release();
    TextilesMisc.Release();
    LevelDataChunk.Release();
    TBytes().swap(SampleData);
    TBytes().swap(TrailingBytes);
    SampleDataSize = 0;
}

Ttrlevel Ttrlevel::FreshForLoading() const {
    Ttrlevel fresh;
    fresh.Loaded = Loaded;
    fresh.FileSignature = FileSignature;
    fresh.LevelVersion = LevelVersion;
    fresh.StampName = StampName;
    fresh.Stamp = Stamp;
    fresh.ProgressSink = ProgressSink;
    fresh.DeferPageChecks = DeferPageChecks;
    return fresh;
}

int32_t Ttrlevel::TexturePageCount() const {
    if (KindInfo(LevelVersion).Tr4Family) return int32_t(Textiles16.size() / 131072);
    return int32_t(Textiles8.size() / 65536);
}

bool Ttrlevel::IsNgLevel() const {
    if (!KindInfo(LevelVersion).Tr4Family || KindInfo(LevelVersion).RawLevelData) return false;
    const size_t n = SampleData.size();
    if (n < 8) return false;
    const uint8_t* end = SampleData.data() + n;
    if (end[-8] != 'N' || end[-7] != 'G' || end[-6] != 'L' || end[-5] != 'E') return false;
    uint32_t len = GetU32(end - 4);
    if (len < 8 || len > n) return false;
    const uint8_t* start = end - len;
    return start[0] == 'N' && start[1] == 'G';
}

} // namespace qm
