// The tables of the floor data functions, trigger types and trigger actions
// follow the floor data chapter of the public level format description of the
// TR games (the community's "TRosettaStone" reference, TR1 to TR5): the games
// add functions, types and actions; a number keeps its meaning in the later
// games that have it, except functions 20 and 21, which TR3 uses for the mine
// cart and TR4 and TR5 for other things. TR4 levels built with the NG editor
// keep the TR4 layout; what that editor adds is carried in the parameters and
// shown as numbers.
#include "floordata.h"

#include <iterator>

namespace qm {

namespace {

// One row per function and the games that have it; Words is the number of
// data words after the setup word (a trigger reads its own).
struct TFunctionRow {
    uint8_t Number;
    const char* Name;
    int32_t First, Last;
    int Words;
};

constexpr int TriggerWords = -1;

constexpr TFunctionRow Functions[] = {
    {1, "Portal", KindTR1, KindTR5, 1},
    {2, "FloorSlope", KindTR1, KindTR5, 1},
    {3, "CeilingSlope", KindTR1, KindTR5, 1},
    {4, "Trigger", KindTR1, KindTR5, TriggerWords},
    {5, "Kill", KindTR1, KindTR5, 0},
    {6, "ClimbWalls", KindTR2, KindTR5, 0},
    {7, "FloorTriangleNW", KindTR3, KindTR5, 1},
    {8, "FloorTriangleNE", KindTR3, KindTR5, 1},
    {9, "CeilingTriangleNW", KindTR3, KindTR5, 1},
    {10, "CeilingTriangleNE", KindTR3, KindTR5, 1},
    {11, "FloorTriangleNWPortalSE", KindTR3, KindTR5, 1},
    {12, "FloorTriangleNWPortalNW", KindTR3, KindTR5, 1},
    {13, "FloorTriangleNEPortalSW", KindTR3, KindTR5, 1},
    {14, "FloorTriangleNEPortalNE", KindTR3, KindTR5, 1},
    {15, "CeilingTriangleNWPortalSE", KindTR3, KindTR5, 1},
    {16, "CeilingTriangleNWPortalNW", KindTR3, KindTR5, 1},
    {17, "CeilingTriangleNEPortalSW", KindTR3, KindTR5, 1},
    {18, "CeilingTriangleNEPortalNE", KindTR3, KindTR5, 1},
    {19, "MonkeySwing", KindTR3, KindTR5, 0},
    {20, "MinecartLeft", KindTR3, KindTR3, 0},
    {21, "MinecartRight", KindTR3, KindTR3, 0},
    {20, "TriggerTriggerer", KindTR4, KindTR5, 0},
    {21, "MechanicalBeetle", KindTR4, KindTR5, 0},
};

struct TNamedRow {
    uint8_t Number;
    const char* Name;
    int32_t First;
};

constexpr TNamedRow TriggerTypes[] = {
    {0, "Trigger", KindTR1},       {1, "Pad", KindTR1},          {2, "Switch", KindTR1},
    {3, "Key", KindTR1},           {4, "Pickup", KindTR1},       {5, "HeavyTrigger", KindTR1},
    {6, "Antipad", KindTR1},       {7, "Combat", KindTR1},       {8, "Dummy", KindTR1},
    {9, "Antitrigger", KindTR2},   {10, "HeavySwitch", KindTR4}, {11, "HeavyAntitrigger", KindTR4},
    {12, "Monkey", KindTR4},       {13, "Skeleton", KindTR4},    {14, "Tightrope", KindTR4},
    {15, "Crawl", KindTR4},        {16, "Climb", KindTR4},
};

struct TActionRow {
    uint8_t Number;
    int32_t First;
    TActionInfo Info;
};

constexpr TActionRow Actions[] = {
    {0, KindTR1, {"Object", "item", false, true}},
    {1, KindTR1, {"Camera", "camera", true, false}},
    {2, KindTR1, {"Sink", "sink", false, false}},
    {3, KindTR1, {"FlipMap", "flipMap", false, false}},
    {4, KindTR1, {"FlipOn", "flipMap", false, false}},
    {5, KindTR1, {"FlipOff", "flipMap", false, false}},
    {6, KindTR1, {"LookAt", "item", false, true}},
    {7, KindTR1, {"EndLevel", "level", false, false}},
    {8, KindTR1, {"Soundtrack", "track", false, false}},
    {9, KindTR1, {"FlipEffect", "effect", false, false}},
    {10, KindTR1, {"Secret", "secret", false, false}},
    {11, KindTR2, {"ClearBodies", "value", false, false}},
    {12, KindTR4, {"Flyby", "flyby", true, false}},
    {13, KindTR4, {"Cutscene", "cutscene", false, false}},
};

const TFunctionRow* FunctionRow(int32_t version, uint8_t function) {
    for (const TFunctionRow& row : Functions)
        if (row.Number == function && version >= row.First && version <= row.Last) return &row;
    return nullptr;
}

// Reads the words of one sector's entries, each read checked against the
// array's end; the first fault ends the reading and is kept as the damage.
class TFloorReader {
public:
    TFloorReader(const Ttrlevel& L, uint32_t at, TSectorFloor& into) : L_(L), At_(at), Floor_(into) {}

    void Read() {
        const uint32_t first = At_;
        for (;;) {
            uint16_t setup = 0;
            if (!Next(setup)) return Fail("the entries from word " + std::to_string(first) +
                                          " run past the end of the floor data without an end bit");
            TFloorEntry e;
            e.Function = uint8_t(setup & 0x1F);
            e.Sub = uint8_t((setup >> 8) & 0x7F);
            e.Setup = setup;
            e.At = At_ - 1;
            const TFunctionRow* row = FunctionRow(L_.LevelVersion, e.Function);
            if (!row)
                return Fail("unknown floor data function " + std::to_string(e.Function) + " at word " +
                            std::to_string(e.At));
            if (row->Words == 1 && !Next(e.Data)) return Cut(e);
            if (row->Words == TriggerWords && !ReadTrigger(e)) return Cut(e);
            Floor_.Entries.push_back(std::move(e));
            if (setup & 0x8000) return;
        }
    }

private:
    bool Next(uint16_t& word) {
        if (At_ >= L_.FloorData.size() || At_ >= uint32_t(L_.FloorDataCount)) return false;
        word = L_.FloorData[At_++];
        return true;
    }

    bool ReadTrigger(TFloorEntry& e) {
        uint16_t word = 0;
        if (!Next(word)) return false;
        TTrigger t{.Type = e.Sub, .Timer = uint8_t(word & 0xFF), .Once = (word & 0x100) != 0,
                   .Mask = uint8_t((word >> 9) & 0x1F), .Actions = {}};
        for (bool last = false; !last;) {
            TTriggerAction a;
            a.At = At_;
            if (!Next(word)) return false;
            a.Action = uint8_t((word >> 10) & 0x1F);
            a.Param = uint16_t(word & 0x3FF);
            last = (word & 0x8000) != 0;
            if (ActionInfoOf(L_.LevelVersion, a.Action).Extra) {
                if (!Next(a.Extra)) return false;
                a.HasExtra = true;
                last = (a.Extra & 0x8000) != 0;
            }
            t.Actions.push_back(a);
        }
        e.Trigger = std::move(t);
        return true;
    }

    void Fail(std::string why) { Floor_.Damage = std::move(why); }
    void Cut(const TFloorEntry& e) {
        Fail(std::string("the ") + FunctionRow(L_.LevelVersion, e.Function)->Name + " entry at word " +
                    std::to_string(e.At) + " runs past the end of the floor data");
    }

    const Ttrlevel& L_;
    uint32_t At_;
    TSectorFloor& Floor_;
};

} // namespace

void ReadSectorFloor(const Ttrlevel& L, uint16_t index, TSectorFloor& into) {
    into.Entries.clear();
    into.Damage.clear();
    if (index == 0) return;
    if (index >= L.FloorDataCount || index >= L.FloorData.size()) {
        into.Damage = "the floor data index " + std::to_string(index) + " is outside the floor data (" +
                      std::to_string(L.FloorDataCount) + " words)";
        return;
    }
    TFloorReader(L, index, into).Read();
}

TSectorFloor ReadSectorFloor(const Ttrlevel& L, uint16_t index) {
    TSectorFloor floor;
    ReadSectorFloor(L, index, floor);
    return floor;
}

const char* FloorFunctionName(int32_t version, uint8_t function) {
    const TFunctionRow* row = FunctionRow(version, function);
    return row ? row->Name : nullptr;
}

const char* TriggerTypeName(int32_t version, uint8_t type) {
    for (const TNamedRow& row : TriggerTypes)
        if (row.Number == type && version >= row.First) return row.Name;
    return nullptr;
}

TActionInfo ActionInfoOf(int32_t version, uint8_t action) {
    for (const TActionRow& row : Actions)
        if (row.Number == action && version >= row.First) return row.Info;
    return {};
}

} // namespace qm

namespace qm {

namespace {

// A slope's share of the height at (dx, dz): `along` the tilt along x, `across`
// the tilt along z, each a signed number of quarter units per unit.
int32_t Tilt(int32_t along, int32_t across, int32_t dx, int32_t dz) {
    int32_t h = 0;
    h += across < 0 ? -((across * dz) >> 2) : (across * (1023 - dz)) >> 2;
    h += along < 0 ? -((along * dx) >> 2) : (along * (1023 - dx)) >> 2;
    return h;
}

// A five-bit signed height step, in clicks of 256 units.
int32_t Step(uint16_t setup, int shift) {
    int32_t v = (setup >> shift) & 0x1F;
    return (v & 0x10 ? v - 32 : v) * 256;
}

bool IsFloorTriangle(uint8_t function) { return function == 7 || function == 8 || (function >= 11 && function <= 14); }

// The triangle's share: which half holds the point depends on the split
// (7, 11, 12 from the north-west corner; 8, 13, 14 from the north-east), and
// each half has its step and its slopes from the corner heights t0-t3.
int32_t Triangle(const TFloorEntry& e, int32_t dx, int32_t dz) {
    const int32_t t0 = e.Data & 15, t1 = (e.Data >> 4) & 15, t2 = (e.Data >> 8) & 15, t3 = (e.Data >> 12) & 15;
    const bool northWest = e.Function == 7 || e.Function == 11 || e.Function == 12;
    const bool first = northWest ? dx <= 1024 - dz : dx <= dz;
    int32_t across = 0, along = 0;
    if (northWest) {
        across = first ? t2 - t1 : t3 - t0;
        along = first ? t0 - t1 : t3 - t2;
    } else {
        across = first ? t2 - t1 : t3 - t0;
        along = first ? t3 - t2 : t0 - t1;
    }
    return Step(e.Setup, first ? 10 : 5) + Tilt(along, across, dx, dz);
}

} // namespace

int32_t FloorUnder(const Ttrlevel& L, const TRec<8>& sector, int32_t dx, int32_t dz) {
    int32_t h = int32_t(int8_t(sector[5])) * 256;
    for (const TFloorEntry& e : ReadSectorFloor(L, FloorIndexOf(sector)).Entries) {
        if (e.Function == FdFloorSlope) h += Tilt(int8_t(e.Data & 0xFF), int8_t(e.Data >> 8), dx, dz);
        else if (L.LevelVersion >= KindTR3 && IsFloorTriangle(e.Function)) h += Triangle(e, dx, dz);
    }
    return h;
}

} // namespace qm
