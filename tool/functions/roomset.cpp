#include "roomset.h"

#include <algorithm>

namespace qm {

std::vector<int32_t> RoomSet(const Ttrlevel& L, int32_t from, int32_t to, bool alternates) {
    std::vector<int32_t> rooms;
    for (int32_t i = from; i <= to; ++i) rooms.push_back(i);
    if (!alternates) return rooms;
    const int32_t count = int32_t(std::min<size_t>(L.Rooms.size(), L.RoomCount));
    for (int32_t i = 0; i < count; ++i) {
        // -1 means no flip room; any other value outside the level names none either.
        const int32_t alternate = L.Rooms[size_t(i)].AlternateRoom;
        if (alternate < 0 || alternate >= count) continue;
        // Both ways: a room of the range brings its flip room, and a range that
        // names a flip room brings the room that flips to it.
        if (i >= from && i <= to) rooms.push_back(alternate);
        if (alternate >= from && alternate <= to) rooms.push_back(i);
    }
    std::sort(rooms.begin(), rooms.end());
    rooms.erase(std::unique(rooms.begin(), rooms.end()), rooms.end());
    return rooms;
}

std::vector<std::pair<int32_t, int32_t>> RoomSpans(const std::vector<int32_t>& rooms) {
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (int32_t room : rooms) {
        if (!spans.empty() && spans.back().second + 1 == room) spans.back().second = room;
        else spans.emplace_back(room, room);
    }
    return spans;
}

} // namespace qm
