#include "dryrun.h"

#include "functions.h"
#include "rooms.h"

namespace qm {

namespace {

std::vector<uint16_t> FaceWords(const RoomRecord& r) {
    std::vector<uint16_t> words;
    words.reserve(r.Rectangles.size() + r.Triangles.size());
    for (const TRec<10>& face : r.Rectangles) words.push_back(GetU16(face.data() + 8));
    for (const TRec<8>& face : r.Triangles) words.push_back(GetU16(face.data() + 6));
    return words;
}

std::vector<uint16_t> SectorWords(const RoomRecord& r) {
    std::vector<uint16_t> words;
    words.reserve(r.Sectors.size());
    for (const TRec<8>& sector : r.Sectors) words.push_back(GetU16(sector.data() + 2));
    return words;
}

size_t Differences(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += a[i] != b[i];
    return n;
}

} // namespace

std::vector<TRoomBefore> RoomsBefore(const Ttrlevel& L, const std::vector<int32_t>& rooms) {
    std::vector<TRoomBefore> before;
    for (int32_t i : rooms) {
        const RoomRecord& r = L.Rooms[size_t(i)];
        before.push_back({GetU16(r.RoomFlags), GetU16(r.AmbientIntensity), r.AmbientIntensity2, SectorWords(r), FaceWords(r)});
    }
    return before;
}

std::vector<TRoomChange> RoomChanges(const std::vector<TRoomBefore>& before, const Ttrlevel& L,
                                     const std::vector<int32_t>& rooms) {
    std::vector<TRoomChange> changes;
    for (size_t k = 0; k < before.size() && k < rooms.size(); ++k) {
        const int32_t room = rooms[k];
        const RoomRecord& r = L.Rooms[size_t(room)];
        const uint16_t light = before[k].Light, light2 = before[k].Light2;
        const TRoomChange c{.Room = room, .FlagsBefore = before[k].Flags, .FlagsAfter = GetU16(r.RoomFlags),
                            .LightBefore = light, .LightAfter = GetU16(r.AmbientIntensity),
                            .ColourChanged = light2 != r.AmbientIntensity2,
                            .ColourBefore = uint32_t(light2 & 0xFF) << 16 | light, .ColourAfter = RoomColour(r),
                            .Sectors = Differences(before[k].SectorWords, SectorWords(r)),
                            .Faces = Differences(before[k].FaceWords, FaceWords(r))};
        if (c.Changed()) changes.push_back(c);
    }
    return changes;
}

} // namespace qm
