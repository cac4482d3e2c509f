#include "dryrun.h"

#include <cstdio>
#include <string>

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

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(v));
    return text;
}

std::string Count(size_t n, const char* one, const char* many) {
    std::string text = std::to_string(n);
    return text.append(" ").append(n == 1 ? one : many);
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

void PrintRoomChanges(const std::vector<TRoomChange>& changes, TConsole& out) {
    size_t sectors = 0, faces = 0;
    for (const TRoomChange& c : changes) {
        // Built by appending: each part after "Room N:" is ", "-separated.
        std::string line = "Room " + std::to_string(c.Room) + ":";
        const char* separator = " ";
        auto part = [&](const std::string& text) {
            line.append(separator).append(text);
            separator = ", ";
        };
        if (c.FlagsBefore != c.FlagsAfter) part("flags " + Hex4(c.FlagsBefore) + " -> " + Hex4(c.FlagsAfter));
        if (c.LightBefore != c.LightAfter) part("light " + Hex4(c.LightBefore) + " -> " + Hex4(c.LightAfter));
        if (c.ColourChanged) part("colour " + ColourText(c.ColourBefore) + " -> " + ColourText(c.ColourAfter));
        if (c.Sectors) part(Count(c.Sectors, "sector", "sectors"));
        if (c.Faces) part(Count(c.Faces, "face", "faces"));
        out.Line(line);
        sectors += c.Sectors, faces += c.Faces;
    }
    if (changes.empty()) {
        out.Line("No room would change; nothing was saved.");
        return;
    }
    std::string totals = Count(changes.size(), "room", "rooms");
    totals.append(" would change (").append(Count(sectors, "sector", "sectors")).append(", ");
    totals.append(Count(faces, "face", "faces")).append("); nothing was saved.");
    out.Line(totals);
}

} // namespace qm
