#include "water.h"

#include <algorithm>
#include <map>
#include <set>

#include "kinds.h"
#include "rooms.h"
#include "xela.h"

namespace qm {

namespace {

constexpr uint8_t WaterFlag = 0x01;
constexpr uint8_t NoRoom = 255;
constexpr size_t RoomBelowByte = 4, RoomAboveByte = 6, CeilingByte = 7;
constexpr size_t AttributesAt = 8;  // in a 12-byte room vertex
constexpr int32_t HeightUnits = 256;

int32_t RoomsIn(const Ttrlevel& L) { return int32_t(std::min<size_t>(L.Rooms.size(), L.RoomCount)); }

bool IsWater(const Ttrlevel& L, int32_t room) { return (L.Rooms[size_t(room)].RoomFlags[0] & WaterFlag) != 0; }

// The kinds whose room vertices carry the water effects: TR3 and the TR4 family.
// TR1, TR2 and TR5 draw the shimmer of a water room themselves.
bool VertexEffects(int32_t version) { return version == KindTR3 || version == KindTR4 || version == KindTRC; }

// The distinct rooms of the level that a room's sectors name at byte at.
std::vector<int32_t> LinkedRooms(const Ttrlevel& L, int32_t room, size_t at) {
    std::set<int32_t> linked;
    for (const TRec<8>& sector : L.Rooms[size_t(room)].Sectors)
        if (sector[at] != NoRoom && sector[at] < RoomsIn(L)) linked.insert(sector[at]);
    return {linked.begin(), linked.end()};
}

// The rooms that show instead of each room once the level flips, or that it
// shows instead of: its own flip room and the rooms whose flip room it is.
// Made once for the level, so that notes on many rooms stay linear.
class TFlipPartners {
public:
    explicit TFlipPartners(const Ttrlevel& L) : Partners_(size_t(RoomsIn(L))) {
        const int32_t count = RoomsIn(L);
        for (int32_t i = 0; i < count; ++i) {
            const int32_t own = L.Rooms[size_t(i)].AlternateRoom;
            if (own < 0 || own >= count || own == i) continue;
            Partners_[size_t(i)].push_back(own);
            Partners_[size_t(own)].push_back(i);
        }
        for (std::vector<int32_t>& partners : Partners_) {
            std::sort(partners.begin(), partners.end());
            partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
        }
    }
    const std::vector<int32_t>& Of(int32_t room) const { return Partners_[size_t(room)]; }

private:
    std::vector<std::vector<int32_t>> Partners_;
};

// TR5 keeps the reverb and water scheme bytes in the room's XELA block, at
// these offsets from its mark.
constexpr size_t XelaReverb = 60, XelaWaterScheme = 62;

uint16_t Attributes(const TRec<12>& v) { return GetU16(v.data() + AttributesAt); }

// The edit's bookkeeping: each touched room's flags before and the number of
// its vertices whose attribute word changed.
class TWaterWork {
public:
    explicit TWaterWork(Ttrlevel& L) : L_(L) {}

    void SetWater(int32_t room, bool on) {
        uint8_t& low = L_.Rooms[size_t(room)].RoomFlags[0];
        Touch(room);
        low = on ? uint8_t(low | WaterFlag) : uint8_t(low & ~WaterFlag);
    }
    // Sets the bits set of every vertex for which keep() holds and clears the bits clear.
    template <class Keep>
    void Vertices(int32_t room, uint16_t set, uint16_t clear, Keep keep) {
        Touch(room);
        for (TRec<12>& v : L_.Rooms[size_t(room)].Vertices12) {
            const uint16_t before = Attributes(v), after = uint16_t((before | set) & ~clear);
            if (after == before || !keep(v)) continue;
            SetU16(v.data() + AttributesAt, after);
            ++Changes_[room].Vertices;
        }
    }
    void Vertices(int32_t room, uint16_t set, uint16_t clear) {
        Vertices(room, set, clear, [](const TRec<12>&) { return true; });
    }
    std::vector<TWaterChange> Changes() const {
        std::vector<TWaterChange> changes;
        for (auto [room, c] : Changes_) {
            c.FlagsAfter = GetU16(L_.Rooms[size_t(room)].RoomFlags);
            if (c.FlagsBefore != c.FlagsAfter || c.Vertices) changes.push_back(c);
        }
        return changes;
    }

private:
    void Touch(int32_t room) {
        if (!Changes_.count(room)) Changes_[room] = {room, GetU16(L_.Rooms[size_t(room)].RoomFlags), 0, 0};
    }
    Ttrlevel& L_;
    std::map<int32_t, TWaterChange> Changes_;
};

// Whether a vertex of room `above` lies on the old surface of room `room`:
// inside (or on the edge of) a sector of `room` whose room above is `above`,
// at that sector's ceiling height.
// dx, dz: the position of room above less that of room (vertices are stored
// relative to their room's position, heights are absolute).
bool OnSurface(const RoomRecord& r, int32_t above, int64_t dx, int64_t dz, const TRec<12>& v) {
    const int64_t x = dx + int16_t(GetU16(v.data()));
    const int64_t y = int16_t(GetU16(v.data() + 2));
    const int64_t z = dz + int16_t(GetU16(v.data() + 4));
    if (x < 0 || z < 0) return false;
    // A vertex on a sector edge belongs to the sectors on both sides of it.
    for (int64_t sx = x / SectorUnits; sx >= 0 && sx * SectorUnits + SectorUnits >= x; --sx)
        for (int64_t sz = z / SectorUnits; sz >= 0 && sz * SectorUnits + SectorUnits >= z; --sz) {
            if (sx >= r.SectorCountX || sz >= r.SectorCountZ) continue;
            const size_t at = size_t(sx) * r.SectorCountZ + size_t(sz);
            if (at >= r.Sectors.size()) continue;
            const TRec<8>& sector = r.Sectors[at];
            if (sector[RoomAboveByte] == above && int8_t(sector[CeilingByte]) * HeightUnits == y) return true;
        }
    return false;
}

void Note(std::vector<std::string>& notes, int32_t room, const std::string& text) {
    notes.push_back("Room " + std::to_string(room) + text);
}

// The flip rooms of the changed rooms that now differ from them in water.
void FlipNotes(const Ttrlevel& L, const TFlipPartners& flips, int32_t room, std::vector<std::string>& notes) {
    const bool water = IsWater(L, room);
    for (int32_t partner : flips.Of(room))
        if (IsWater(L, partner) != water)
            Note(notes, room, std::string(water ? " is now water" : " is now dry") + "; its flip room " +
                                  std::to_string(partner) + (water ? " is dry." : " is water."));
}

std::vector<int32_t> FlagChanged(const std::vector<TWaterChange>& changes) {
    std::vector<int32_t> rooms;
    for (const TWaterChange& c : changes)
        if ((c.FlagsBefore ^ c.FlagsAfter) & WaterFlag) rooms.push_back(c.Room);
    return rooms;
}

std::vector<std::string> FloodNotes(const Ttrlevel& L, const std::vector<int32_t>& flooded) {
    std::vector<std::string> notes;
    const TFlipPartners flips(L);
    for (int32_t room : flooded) {
        const std::vector<int32_t> above = LinkedRooms(L, room, RoomAboveByte);
        if (above.empty()) Note(notes, room, ": no room above it; there is no surface to come up at.");
        for (int32_t a : above)
            if (a != room && IsWater(L, a)) Note(notes, room, " joins water room " + std::to_string(a) + " above it.");
        for (int32_t b : LinkedRooms(L, room, RoomBelowByte))
            if (b != room && IsWater(L, b)) Note(notes, room, " joins water room " + std::to_string(b) + " below it.");
        FlipNotes(L, flips, room, notes);
    }
    return notes;
}

std::vector<std::string> DrainNotes(const Ttrlevel& L, const std::vector<int32_t>& drained) {
    std::vector<std::string> notes;
    const TFlipPartners flips(L);
    for (int32_t room : drained) {
        for (int32_t a : LinkedRooms(L, room, RoomAboveByte))
            if (a != room && IsWater(L, a))
                Note(notes, room, " lies under water room " + std::to_string(a) + ": its ceiling is a water surface.");
        FlipNotes(L, flips, room, notes);
    }
    return notes;
}

} // namespace

std::vector<TWaterRoom> WaterRooms(const Ttrlevel& L, int32_t from, int32_t to) {
    std::vector<TWaterRoom> rows;
    const int32_t version = L.LevelVersion;
    for (int32_t i = from; i <= to; ++i) {
        const RoomRecord& r = L.Rooms[size_t(i)];
        TWaterRoom w{.Room = i, .Water = IsWater(L, i), .Above = LinkedRooms(L, i, RoomAboveByte),
                     .Below = LinkedRooms(L, i, RoomBelowByte)};
        for (int32_t a : w.Above) w.Surface |= w.Water && a != i && !IsWater(L, a);
        for (int32_t b : w.Below) w.Surface |= !w.Water && b != i && IsWater(L, b);
        w.HasAttributes = version >= KindTR2 && version <= KindTRC;
        if (w.HasAttributes)
            for (const TRec<12>& v : r.Vertices12) {
                w.Movement += (Attributes(v) & VertexMovement) != 0;
                w.Glow += (Attributes(v) & VertexGlow) != 0;
                w.NoWibble += (Attributes(v) & VertexNoWibble) != 0;
            }
        w.HasScheme = version >= KindTR3;
        const bool xela = version == KindTR5 && r.XelaBlock.size() >= xela::DataArea;
        w.Scheme = xela ? r.XelaBlock[XelaWaterScheme] : r.WaterScheme;
        w.Reverb = xela ? r.XelaBlock[XelaReverb] : r.ReverbInfo;
        rows.push_back(std::move(w));
    }
    return rows;
}

TWaterEdit Flood(Ttrlevel& L, const std::vector<int32_t>& rooms) {
    TWaterWork work(L);
    for (int32_t room : rooms) {
        if (IsWater(L, room)) continue;
        work.SetWater(room, true);
        if (VertexEffects(L.LevelVersion)) work.Vertices(room, VertexGlow, 0);
    }
    std::vector<TWaterChange> changes = work.Changes();
    std::vector<std::string> notes = FloodNotes(L, FlagChanged(changes));
    return {std::move(changes), std::move(notes)};
}

TWaterEdit Drain(Ttrlevel& L, const std::vector<int32_t>& rooms) {
    TWaterWork work(L);
    std::vector<int32_t> drained;
    for (int32_t room : rooms) {
        if (!IsWater(L, room)) continue;
        work.SetWater(room, false);
        drained.push_back(room);
    }
    if (VertexEffects(L.LevelVersion))
        for (int32_t room : drained) {
            work.Vertices(room, 0, VertexMovement | VertexGlow);
            // The wave of the old surface sits in the dry rooms above it.
            const TRoomFacts lower = RoomFacts(L, size_t(room));
            for (int32_t above : LinkedRooms(L, room, RoomAboveByte)) {
                if (above == room || IsWater(L, above)) continue;
                const TRoomFacts upper = RoomFacts(L, size_t(above));
                const int64_t dx = int64_t(upper.X) - lower.X, dz = int64_t(upper.Z) - lower.Z;
                const RoomRecord& r = L.Rooms[size_t(room)];
                work.Vertices(above, 0, VertexMovement,
                              [&](const TRec<12>& v) { return OnSurface(r, above, dx, dz, v); });
            }
        }
    std::vector<TWaterChange> changes = work.Changes();
    std::vector<std::string> notes = DrainNotes(L, FlagChanged(changes));
    return {std::move(changes), std::move(notes)};
}

} // namespace qm
