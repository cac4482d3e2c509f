#include "storeys.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "rooms.h"

namespace qm {

namespace {

// Union-find over the rooms: a room and its flip rooms are one group.
struct TGroups {
    std::vector<size_t> Parent;
    explicit TGroups(size_t n) : Parent(n) { std::iota(Parent.begin(), Parent.end(), size_t(0)); }
    size_t Find(size_t i) {
        while (Parent[i] != i) i = Parent[i] = Parent[Parent[i]];
        return i;
    }
    void Join(size_t a, size_t b) {
        a = Find(a), b = Find(b);
        if (a != b) Parent[std::max(a, b)] = std::min(a, b);
    }
};

// A run of storeys first..last that hold a room over one cell.
struct TRun {
    int32_t First, Last;
};
using TRuns = std::vector<TRun>;  // sorted, apart (never touching: touching runs are merged)

// The first storey from s on that holds no room over the cell.
int32_t FirstFreeFrom(const TRuns& runs, int32_t s) {
    auto after = std::upper_bound(runs.begin(), runs.end(), s, [](int32_t v, const TRun& r) { return v < r.First; });
    if (after == runs.begin()) return s;
    const TRun& before = *(after - 1);
    return before.Last >= s ? before.Last + 1 : s;
}

// Storey s (free over the cell) now holds a room over it.
void Take(TRuns& runs, int32_t s) {
    auto after = std::upper_bound(runs.begin(), runs.end(), s, [](int32_t v, const TRun& r) { return v < r.First; });
    const bool joinsBefore = after != runs.begin() && (after - 1)->Last + 1 == s;
    const bool joinsAfter = after != runs.end() && after->First == s + 1;
    if (joinsBefore && joinsAfter) {
        (after - 1)->Last = after->Last;
        runs.erase(after);
    } else if (joinsBefore) {
        (after - 1)->Last = s;
    } else if (joinsAfter) {
        after->First = s;
    } else {
        runs.insert(after, {s, s});
    }
}

uint64_t KeyOf(const TCell& c) { return uint64_t(uint32_t(c.X)) << 32 | uint32_t(c.Z); }

TStoreyRoom Ordered(TStoreyRoom r) {
    if (r.Ceiling > r.Floor) std::swap(r.Ceiling, r.Floor);
    return r;
}

// The rooms' groups of flip partners, each listed in room order.
std::vector<std::vector<int32_t>> FlipGroups(const std::vector<TStoreyRoom>& rooms) {
    TGroups groups(rooms.size());
    for (size_t i = 0; i < rooms.size(); ++i)
        if (rooms[i].Flip >= 0 && size_t(rooms[i].Flip) < rooms.size()) groups.Join(i, size_t(rooms[i].Flip));
    std::vector<std::vector<int32_t>> members(rooms.size());
    for (size_t i = 0; i < rooms.size(); ++i) members[groups.Find(i)].push_back(int32_t(i));
    return members;
}

// The order rooms are taken in: the lowest floor first, then the lowest
// ceiling, then the room number.
std::vector<int32_t> LowestFirst(const std::vector<TStoreyRoom>& rooms) {
    std::vector<int32_t> order(rooms.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const TStoreyRoom &x = rooms[size_t(a)], &y = rooms[size_t(b)];
        if (x.Floor != y.Floor) return x.Floor > y.Floor;
        return x.Ceiling > y.Ceiling;
    });
    return order;
}

} // namespace

TStoreys AssignStoreys(const std::vector<TStoreyRoom>& given) {
    std::vector<TStoreyRoom> rooms;
    rooms.reserve(given.size());
    for (const TStoreyRoom& r : given) rooms.push_back(Ordered({.Floor = r.Floor, .Ceiling = r.Ceiling}));
    const std::vector<std::vector<int32_t>> groupOf = FlipGroups(given);
    std::vector<size_t> groupIndex(given.size());
    for (size_t g = 0; g < groupOf.size(); ++g)
        for (int32_t i : groupOf[g]) groupIndex[size_t(i)] = g;

    // Per cell, the storeys that hold a room over it. Node-based: a pointer
    // to a cell's runs stays valid while other cells are added.
    std::unordered_map<uint64_t, TRuns> taken;
    taken.reserve(given.size());
    TStoreys result;
    result.StoreyOf.assign(given.size(), 0);
    std::vector<uint64_t> keys;
    std::vector<TRuns*> cells;
    for (int32_t first : LowestFirst(rooms)) {
        if (result.StoreyOf[size_t(first)] != 0) continue;  // placed with its flip partner
        const std::vector<int32_t>& group = groupOf[groupIndex[size_t(first)]];
        keys.clear();
        for (int32_t i : group)
            for (const TCell& c : given[size_t(i)].Cells) keys.push_back(KeyOf(c));
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        cells.clear();
        for (uint64_t k : keys) cells.push_back(&taken[k]);
        // The first storey free over every cell: raised until a whole pass
        // over the cells leaves it as it is.
        int32_t s = 1;
        for (bool raised = true; raised;) {
            raised = false;
            for (const TRuns* runs : cells) {
                const int32_t free = FirstFreeFrom(*runs, s);
                if (free != s) s = free, raised = true;
            }
        }
        for (TRuns* runs : cells) Take(*runs, s);
        if (size_t(s) > result.List.size()) result.List.resize(size_t(s));
        for (int32_t i : group) result.StoreyOf[size_t(i)] = s;
    }
    // Each storey's rooms in room order, its range from them.
    std::vector<bool> seen(result.List.size(), false);
    for (size_t i = 0; i < rooms.size(); ++i) {
        const size_t n = size_t(result.StoreyOf[i] - 1);
        TStorey& storey = result.List[n];
        storey.Low = seen[n] ? std::max(storey.Low, rooms[i].Floor) : rooms[i].Floor;
        storey.High = seen[n] ? std::min(storey.High, rooms[i].Ceiling) : rooms[i].Ceiling;
        seen[n] = true;
        storey.Rooms.push_back(int32_t(i));
    }
    return result;
}

std::vector<TCell> FloorCells(const Ttrlevel& L, size_t i) {
    const RoomRecord& r = L.Rooms[i];
    const TRoomFacts f = RoomFacts(L, i);
    std::vector<TCell> cells;
    const int32_t x0 = SectorOf(f.X), z0 = SectorOf(f.Z);
    // The outer ring left out: columns and rows 1 .. size - 2.
    for (uint32_t x = 1; x + 1 < f.SizeX; ++x)
        for (uint32_t z = 1; z + 1 < f.SizeZ; ++z) {
            const size_t at = size_t(x) * f.SizeZ + z;
            if (at >= r.Sectors.size()) continue;
            const bool wall = int8_t(r.Sectors[at][5]) == -127 && int8_t(r.Sectors[at][7]) == -127;
            if (!wall) cells.push_back({.X = x0 + int32_t(x), .Z = z0 + int32_t(z)});
        }
    return cells;
}

TStoreys LevelStoreys(const Ttrlevel& L) {
    std::vector<TStoreyRoom> rooms(L.RoomCount);
    for (size_t i = 0; i < L.RoomCount; ++i) {
        const TRoomFacts f = RoomFacts(L, i);
        rooms[i] = {.Floor = f.Floor, .Ceiling = f.Ceiling, .Cells = FloorCells(L, i), .Flip = f.Alternate};
    }
    return AssignStoreys(rooms);
}

} // namespace qm
