#include "storeys.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "rooms.h"

namespace qm {

namespace {

// Union-find over the distinct spans.
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

int64_t Length(const TRoomSpan& s) { return int64_t(s.Floor) - s.Ceiling; }

// Overlap of at least half the shorter span (in doubled units, exact).
bool OneStorey(const TRoomSpan& a, const TRoomSpan& b) {
    const int64_t overlap = int64_t(std::min(a.Floor, b.Floor)) - std::max(a.Ceiling, b.Ceiling);
    return overlap >= 0 && 2 * overlap >= std::min(Length(a), Length(b));
}

TRoomSpan Ordered(TRoomSpan s) {
    if (s.Ceiling > s.Floor) std::swap(s.Ceiling, s.Floor);
    return s;
}

} // namespace

TStoreys GroupStoreys(const std::vector<TRoomSpan>& spans) {
    // Rooms of the same span are always on one storey: the relation is worked
    // out over the distinct spans only, sorted by ceiling.
    std::map<std::pair<int32_t, int32_t>, size_t> index;
    for (const TRoomSpan& s : spans) index.emplace(std::pair{Ordered(s).Ceiling, Ordered(s).Floor}, 0);
    std::vector<TRoomSpan> distinct;
    for (auto& [key, at] : index) {
        at = distinct.size();
        distinct.push_back({.Ceiling = key.first, .Floor = key.second});
    }
    // A sweep down the ceilings: a span whose floor lies above the current
    // ceiling overlaps no later span and leaves the active list.
    TGroups groups(distinct.size());
    std::vector<size_t> active;
    for (size_t j = 0; j < distinct.size(); ++j) {
        std::erase_if(active, [&](size_t i) { return distinct[i].Floor < distinct[j].Ceiling; });
        for (size_t i : active)
            if (OneStorey(distinct[i], distinct[j])) groups.Join(i, j);
        active.push_back(j);
    }

    // One storey per group, its range from its rooms.
    std::map<size_t, size_t> storeyOfGroup;
    std::vector<TStorey> list;
    std::vector<size_t> groupOfRoom(spans.size());
    for (size_t r = 0; r < spans.size(); ++r) {
        const TRoomSpan s = Ordered(spans[r]);
        const size_t g = groups.Find(index.at({s.Ceiling, s.Floor}));
        const auto [it, added] = storeyOfGroup.emplace(g, list.size());
        if (added) list.push_back({.Low = s.Floor, .High = s.Ceiling});
        TStorey& storey = list[it->second];
        storey.Low = std::max(storey.Low, s.Floor);
        storey.High = std::min(storey.High, s.Ceiling);
        storey.Rooms.push_back(int32_t(r));
        groupOfRoom[r] = it->second;
    }
    // The lowest first: the largest floor, then the largest ceiling, then the
    // first room.
    std::vector<size_t> order(list.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const TStorey &x = list[a], &y = list[b];
        if (x.Low != y.Low) return x.Low > y.Low;
        if (x.High != y.High) return x.High > y.High;
        return x.Rooms.front() < y.Rooms.front();
    });
    TStoreys result;
    std::vector<int32_t> number(list.size());
    for (size_t n = 0; n < order.size(); ++n) {
        number[order[n]] = int32_t(n + 1);
        result.List.push_back(std::move(list[order[n]]));
    }
    result.StoreyOf.resize(spans.size());
    for (size_t r = 0; r < spans.size(); ++r) result.StoreyOf[r] = number[groupOfRoom[r]];
    return result;
}

TStoreys LevelStoreys(const Ttrlevel& L) {
    std::vector<TRoomSpan> spans(L.RoomCount);
    for (size_t i = 0; i < L.RoomCount; ++i) {
        const TRoomFacts f = RoomFacts(L, i);
        spans[i] = {.Ceiling = f.Ceiling, .Floor = f.Floor};
    }
    return GroupStoreys(spans);
}

} // namespace qm
