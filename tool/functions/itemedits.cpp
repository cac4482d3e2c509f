// The item edits: their arguments, their checks against the level, and the
// change each makes to one item record.
#include <cmath>
#include <cstdlib>

#include "floordata.h"
#include "itemargs.h"
#include "itemnames.h"
#include "items.h"
#include "rooms.h"

namespace qm {

namespace {

constexpr const char* kMissing = "Missing parameter";
constexpr const char* kIndexNumber = "The item index must be a number.";

// An angle in degrees ("90", "-45", "22.5") as the 16-bit angle, a full turn
// being 65536; empty for anything else.
std::optional<uint16_t> AngleArg(const std::string& text) {
    if (text.empty() || text.size() > 24 || text.find_first_not_of("+-.0123456789") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double degrees = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(degrees) || std::fabs(degrees) > 1e9) return std::nullopt;
    const long long steps = std::llround(degrees * 65536.0 / 360.0);
    return uint16_t(((steps % 65536) + 65536) % 65536);
}

// Where an item goes: ROOM X Y Z [ANGLE], arguments 4 to 8. Y may be
// "floor": the height of the floor under the point, found once the point is
// known to lie in a sector of the room.
struct TPlace {
    int32_t Room = 0, X = 0, Y = 0, Z = 0;
    bool OnFloor = false;
    std::optional<uint16_t> Angle;
};

// An x or z coordinate: world units, or a world sector number with "s" ("12s",
// "-3s"): the centre of that sector.
std::optional<int32_t> CoordinateArg(const std::string& text) {
    if (text.size() < 2 || (text.back() != 's' && text.back() != 'S')) return NumberArg(text);
    const std::optional<int32_t> sector = NumberArg(text.substr(0, text.size() - 1));
    if (!sector || *sector < -2000000 || *sector > 2000000) return std::nullopt;
    return *sector * SectorUnits + SectorUnits / 2;
}

bool IsFloorWord(const std::string& text) { return text == "floor" || text == "FLOOR" || text == "Floor"; }

const char* PlaceArgsRefusal(const TArgs& a) {
    static const char* const refusals[] = {"The room must be a number.",
                                           "The x coordinate must be a number or a sector (12s).",
                                           "The y coordinate must be a number or floor.",
                                           "The z coordinate must be a number or a sector (12s)."};
    for (size_t k = 0; k < 4; ++k)
        if (!a.Present(4 + k)) return kMissing;
    if (!NumberArg(a.At(4))) return refusals[0];
    if (!CoordinateArg(a.At(5))) return refusals[1];
    if (!NumberArg(a.At(6)) && !IsFloorWord(a.At(6))) return refusals[2];
    if (!CoordinateArg(a.At(7))) return refusals[3];
    if (a.Present(8) && !AngleArg(a.At(8))) return "The angle must be a number of degrees.";
    return nullptr;
}

TPlace PlaceOf(const TArgs& a) {
    TPlace p;
    p.Room = *NumberArg(a.At(4));
    p.X = *CoordinateArg(a.At(5));
    p.OnFloor = IsFloorWord(a.At(6));
    p.Y = p.OnFloor ? 0 : *NumberArg(a.At(6));
    p.Z = *CoordinateArg(a.At(7));
    if (a.Present(8)) p.Angle = AngleArg(a.At(8));
    return p;
}

// The sector of the room that holds the point's x and z, if the room's grid does.
struct TSectorAt {
    uint32_t X = 0, Z = 0;
    const TRec<8>* Sector = nullptr;  // null beyond what the room holds
};

std::optional<TSectorAt> SectorAt(const Ttrlevel& L, const TPlace& p) {
    const TRoomFacts f = RoomFacts(L, size_t(p.Room));
    const int64_t dx = int64_t(p.X) - f.X, dz = int64_t(p.Z) - f.Z;
    if (dx < 0 || dz < 0 || dx >= int64_t(f.SizeX) * SectorUnits || dz >= int64_t(f.SizeZ) * SectorUnits)
        return std::nullopt;
    TSectorAt s{.X = uint32_t(dx / SectorUnits), .Z = uint32_t(dz / SectorUnits)};
    const RoomRecord& r = L.Rooms[size_t(p.Room)];
    const size_t at = size_t(s.X) * r.SectorCountZ + s.Z;
    if (at < r.Sectors.size()) s.Sector = &r.Sectors[at];
    return s;
}

// A sector's floor and ceiling bytes, in clicks of 256 units (y grows downwards).
int32_t FloorY(const TRec<8>& s) { return int32_t(int8_t(s[5])) * 256; }
int32_t CeilingY(const TRec<8>& s) { return int32_t(int8_t(s[7])) * 256; }

std::string PointText(const TPlace& p) {
    return "(x " + std::to_string(p.X) + ", z " + std::to_string(p.Z) + ")";
}

// "x 0 to 5119, z 4096 to 8191; sectors 0s to 4s, 4s to 7s": a room's grid in
// world units and in world sectors.
std::string RoomSpanText(const TRoomFacts& f) {
    const int64_t x1 = int64_t(f.X) + int64_t(f.SizeX) * SectorUnits - 1, z1 = int64_t(f.Z) + int64_t(f.SizeZ) * SectorUnits - 1;
    const auto sector = [](int64_t world) { return std::to_string(SectorOf(int32_t(world))) + "s"; };
    std::string s = "x " + std::to_string(f.X);
    s.append(" to ").append(std::to_string(x1)).append(", z ").append(std::to_string(f.Z)).append(" to ");
    s.append(std::to_string(z1)).append("; sectors ").append(sector(f.X)).append(" to ").append(sector(x1));
    return s.append(", ").append(sector(f.Z)).append(" to ").append(sector(z1));
}

// The floor under the point, for "floor" as its y.
void PutOnFloor(const Ttrlevel& L, TPlace& p) {
    if (!p.OnFloor) return;
    const TRoomFacts f = RoomFacts(L, size_t(p.Room));
    const std::optional<TSectorAt> s = SectorAt(L, p);
    const int64_t dx = (int64_t(p.X) - f.X) % SectorUnits, dz = (int64_t(p.Z) - f.Z) % SectorUnits;
    p.Y = FloorUnder(L, *s->Sector, int32_t(dx), int32_t(dz));
}

// A point must lie inside its room's sector grid, off the outer ring of wall
// sectors and off any sector whose floor and ceiling meet.
std::string PlaceRefusal(const Ttrlevel& L, const TPlace& p) {
    if (L.RoomCount == 0) return "This level has no rooms.";
    if (p.Room < 0 || p.Room >= L.RoomCount) return OutsideLevel("Room", "rooms", p.Room, L.RoomCount);
    const std::optional<TSectorAt> s = SectorAt(L, p);
    const std::string room = std::to_string(p.Room);
    if (!s)
        return "The point " + PointText(p) + " is outside the sectors of room " + room + " (" +
               RoomSpanText(RoomFacts(L, size_t(p.Room))) + ").";
    const RoomRecord& r = L.Rooms[size_t(p.Room)];
    const bool ring = s->X == 0 || s->Z == 0 || s->X + 1 >= r.SectorCountX || s->Z + 1 >= r.SectorCountZ;
    if (ring || !s->Sector || FloorY(*s->Sector) <= CeilingY(*s->Sector))
        return "The point " + PointText(p) + " lies in a wall sector of room " + room + " (sector " +
               std::to_string(s->X) + ", " + std::to_string(s->Z) + ").";
    return "";
}

// The floor is the one under the point, slopes and triangles included.
std::vector<std::string> PlaceNotes(const Ttrlevel& L, const TPlace& p) {
    std::vector<std::string> notes;
    const TRec<8>& sector = *SectorAt(L, p)->Sector;
    TPlace floor = p;
    floor.OnFloor = true;
    PutOnFloor(L, floor);
    if (p.Y > floor.Y)
        notes.push_back("The point lies below the floor of its sector (y " + std::to_string(p.Y) + ", floor " +
                        std::to_string(floor.Y) + ").");
    if (p.Y < CeilingY(sector))
        notes.push_back("The point lies above the ceiling of its sector (y " + std::to_string(p.Y) + ", ceiling " +
                        std::to_string(CeilingY(sector)) + ").");
    return notes;
}

// A type argument: a number, or a name of the game's table.
std::optional<int32_t> TypeArg(const Ttrlevel& L, const std::string& text) {
    if (const std::optional<int32_t> n = NumberArg(text)) return n;
    return ItemTypeByName(L.LevelVersion, text);
}

std::string TypeRefusal(const Ttrlevel& L, const std::string& text) {
    const std::string game = ItemGameName(L.LevelVersion);
    const std::optional<int32_t> type = TypeArg(L, text);
    if (!type) {
        const std::string unknown = "Unknown object type " + text + " in " + game + " levels.\n";
        const std::vector<std::string> near = NearestTypeNames(L.LevelVersion, text);
        if (near.empty())
            return unknown + "a type is a number or a name /ShowTypes lists (Small_medipack, \"small medipack\")";
        std::string names = "the nearest names: ";
        for (size_t k = 0; k < near.size(); ++k) names.append(k ? ", " : "").append(near[k]);
        return unknown + names;
    }
    const int32_t count = ItemTypeCount(L.LevelVersion);
    if (*type < 0 || *type >= count)
        return "Object type " + std::to_string(*type) + " is outside the " + game + " object types (0 to " +
               std::to_string(count - 1) + ").";
    return "";
}

void NoteModel(const Ttrlevel& L, int32_t type, std::vector<std::string>& notes) {
    if (!HasModel(L, type))
        notes.push_back("This level holds no model or sprite of object type " + std::to_string(type) + " (" +
                        ItemTypeLabel(L.LevelVersion, type) + ").");
}

const char* IndexArgRefusal(const TArgs& a) {
    if (!a.Present(3)) return kMissing;
    return NumberArg(a.At(3)) ? nullptr : kIndexNumber;
}

int32_t IndexOf(const TArgs& a) { return *NumberArg(a.At(3)); }

TItemChange ChangeOf(const Ttrlevel& L, const std::optional<TItem>& before, const TItem& after) {
    TItemChange c;
    c.Version = L.LevelVersion;
    c.Form = ItemFormOf(L);
    c.Before = before;
    c.After = after;
    return c;
}
TItemChange ChangeOf(const Ttrlevel& L, const TItem& before) { return ChangeOf(L, before, before); }

// The flag words of /ItemFlags, from argument 4 on.
struct TFlagEdits {
    std::optional<bool> Invisible, ClearBody;
    std::optional<int32_t> Activation, Ocb;
};

std::string Folded(const std::string& text) {
    std::string s;
    for (char c : text)
        if (c != '_' && c != ' ') s += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return s;
}

const char* ParseFlagEdits(const TArgs& a, TFlagEdits& edits) {
    static const char* const unknown =
        "Unknown item flag.\nthe item flags are invisible=0|1, clearbody=0|1, activation=0-31 and ocb=N (TR4, TR5)";
    for (size_t at = 4; at <= a.Count(); ++at) {
        const std::string& word = a.At(at);
        const size_t equals = word.find('=');
        if (equals == std::string::npos) return unknown;
        const std::string name = Folded(word.substr(0, equals));
        const std::optional<int32_t> v = NumberArg(word.substr(equals + 1));
        if (name == "invisible" || name == "clearbody") {
            if (!v || (*v != 0 && *v != 1)) return "invisible and clearbody take 0 or 1.";
            (name == "invisible" ? edits.Invisible : edits.ClearBody) = *v == 1;
        } else if (name == "activation") {
            if (!v || *v < 0 || *v > 31) return "activation takes 0 to 31.";
            edits.Activation = v;
        } else if (name == "ocb") {
            if (!v || *v < -32768 || *v > 32767) return "ocb takes -32768 to 32767.";
            edits.Ocb = v;
        } else {
            return unknown;
        }
    }
    return nullptr;
}

TFlagEdits FlagEditsOf(const TArgs& a) {
    TFlagEdits edits;
    ParseFlagEdits(a, edits);
    return edits;
}

uint16_t WithBit(uint16_t flags, uint16_t bit, bool on) { return on ? uint16_t(flags | bit) : uint16_t(flags & ~bit); }

} // namespace

// /MoveItem N ROOM X Y Z [ANGLE]

const char* MoveItemArgsRefusal(const TArgs& a) {
    if (const char* refusal = IndexArgRefusal(a)) return refusal;
    return PlaceArgsRefusal(a);
}

std::string MoveItemRefusal(const Ttrlevel& L, const TArgs& a) {
    if (std::string refusal = ItemIndexRefusal(L, IndexOf(a)); !refusal.empty()) return refusal;
    return PlaceRefusal(L, PlaceOf(a));
}

TItemChange MoveItem(Ttrlevel& L, const TArgs& a) {
    TItemChange c = ChangeOf(L, ReadItem(L, IndexOf(a)));
    TPlace p = PlaceOf(a);
    PutOnFloor(L, p);
    c.After.Room = int16_t(p.Room);
    c.After.X = p.X, c.After.Y = p.Y, c.After.Z = p.Z;
    if (p.Angle) c.After.Angle = *p.Angle;
    WriteItem(L, c.After);
    c.Notes = PlaceNotes(L, p);
    return c;
}

// /SetItem N TYPE

const char* SetItemArgsRefusal(const TArgs& a) {
    if (const char* refusal = IndexArgRefusal(a)) return refusal;
    return a.Present(4) ? nullptr : kMissing;
}

std::string SetItemRefusal(const Ttrlevel& L, const TArgs& a) {
    if (std::string refusal = ItemIndexRefusal(L, IndexOf(a)); !refusal.empty()) return refusal;
    return TypeRefusal(L, a.At(4));
}

TItemChange SetItem(Ttrlevel& L, const TArgs& a) {
    TItemChange c = ChangeOf(L, ReadItem(L, IndexOf(a)));
    const int32_t type = *TypeArg(L, a.At(4));
    c.After.Type = uint16_t(type);
    WriteItem(L, c.After);
    NoteModel(L, type, c.Notes);
    return c;
}

// /ItemFlags N [invisible=0|1] [clearbody=0|1] [activation=0-31] [ocb=N]

const char* ItemFlagsArgsRefusal(const TArgs& a) {
    if (const char* refusal = IndexArgRefusal(a)) return refusal;
    if (!a.Present(4)) return kMissing;
    TFlagEdits edits;
    return ParseFlagEdits(a, edits);
}

std::string ItemFlagsRefusal(const Ttrlevel& L, const TArgs& a) {
    if (std::string refusal = ItemIndexRefusal(L, IndexOf(a)); !refusal.empty()) return refusal;
    if (FlagEditsOf(a).Ocb && ItemFormOf(L) != TItemForm::Tr4) return "The OCB is in TR4 and TR5 levels only.";
    return "";
}

TItemChange SetItemFlags(Ttrlevel& L, const TArgs& a) {
    TItemChange c = ChangeOf(L, ReadItem(L, IndexOf(a)));
    const TFlagEdits e = FlagEditsOf(a);
    TItem& it = c.After;
    if (e.Invisible) it.Flags = WithBit(it.Flags, InvisibleBit, *e.Invisible);
    if (e.ClearBody) it.Flags = WithBit(it.Flags, ClearBodyBit, *e.ClearBody);
    if (e.Activation) it.Flags = uint16_t((it.Flags & ~ActivationBits) | (*e.Activation << ActivationShift));
    if (e.Ocb) it.Second = int16_t(*e.Ocb);
    WriteItem(L, it);
    return c;
}

// /AddItem TYPE ROOM X Y Z [ANGLE]

const char* AddItemArgsRefusal(const TArgs& a) {
    if (!a.Present(3)) return kMissing;
    return PlaceArgsRefusal(a);
}

std::string AddItemRefusal(const Ttrlevel& L, const TArgs& a) {
    if (std::string refusal = TypeRefusal(L, a.At(3)); !refusal.empty()) return refusal;
    if (L.ItemCount >= ItemLimit(L.LevelVersion))
        return "This level has " + std::to_string(L.ItemCount) + " items, as many as " +
               ItemGameName(L.LevelVersion) + " levels can hold.";
    return PlaceRefusal(L, PlaceOf(a));
}

TItemChange AddItem(Ttrlevel& L, const TArgs& a) {
    TPlace p = PlaceOf(a);
    PutOnFloor(L, p);
    TItem it;
    it.Index = L.ItemCount;
    it.Type = uint16_t(*TypeArg(L, a.At(3)));
    it.Room = int16_t(p.Room);
    it.X = p.X, it.Y = p.Y, it.Z = p.Z;
    it.Angle = p.Angle.value_or(0);
    // Lit by its room (intensities of -1, as the games' own levels hold them),
    // visible, not yet activated, OCB 0.
    it.Intensity = -1;
    if (ItemFormOf(L) == TItemForm::Tr2) it.Second = -1;
    L.SetItemCount(L.ItemCount + 1);
    WriteItem(L, it);
    TItemChange c = ChangeOf(L, std::nullopt, it);
    NoteModel(L, it.Type, c.Notes);
    const std::vector<std::string> placeNotes = PlaceNotes(L, p);
    c.Notes.insert(c.Notes.end(), placeNotes.begin(), placeNotes.end());
    return c;
}

} // namespace qm
