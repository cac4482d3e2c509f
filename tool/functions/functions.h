// The tool's functions on a loaded level: the report, the listings and the room
// edits (their text and JSON forms are in output/). The run flow (run.cpp) checks arguments, loads and saves around them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trlevel.h"

namespace qm {

// The numbers of the level report.
struct TReport {
    std::string Version;  // "TR1" .. "TR5", or "unknown"
    int64_t Rooms = 0, TexturePages = 0, Textures = 0, AnimatedTextures = 0, Items = 0, Cameras = 0, Boxes = 0,
            Overlaps = 0, Statics = 0, Lights = 0, MaxVertices = 0, MaxRectangles = 0, MaxTriangles = 0;
    int64_t StartRoom = -1;  // the room of the last item of object id 0; -1 when there is none
};
TReport ReportOf(const Ttrlevel& L);

// The ids the listings show: the distinct item object ids below 512 in
// increasing order, the static mesh ids in table order, the texture ids of
// each animated texture group.
std::vector<int32_t> ItemIds(const Ttrlevel& L);
std::vector<int32_t> StaticIds(const Ttrlevel& L);
std::vector<std::vector<int32_t>> AnimatedTextureGroups(const Ttrlevel& L);

// Room edits over rooms from..to inclusive; the caller keeps the range inside
// the level (0 <= from <= to < RoomCount).
uint16_t MapFloorSound(uint16_t value);
void EditStepSound(Ttrlevel& L, uint16_t value, int32_t from, int32_t to);
void EditLaraLight(Ttrlevel& L, uint16_t light, int32_t from, int32_t to);
// Sets (on) or clears the mask's bits of the 16-bit flags word, keeping the
// others. mask: 0x01 water, 0x08 sky, QuickSandFlag() quicksand, or any bits
// of the flag table (roomflags.h).
void EditRoomFlag(Ttrlevel& L, uint16_t mask, bool on, int32_t from, int32_t to);
// TR4 family and TR5: the room colour's red, green and blue bytes (the ambient
// bytes and the low byte of the second ambient value); alpha is kept.
void EditRoomColour(Ttrlevel& L, uint8_t red, uint8_t green, uint8_t blue, int32_t from, int32_t to);
// The room colour of a TR4-family or TR5 room as 0xRRGGBB.
uint32_t RoomColour(const RoomRecord& r);
// The quicksand bit of the low room flags byte: 0x80 up to TR3; 0x04 in the TR4
// family and TR5, where 0x80 means "no lens flare".
uint8_t QuickSandFlag(const Ttrlevel& L);
void EditTextures(Ttrlevel& L, int32_t oldId, uint16_t newId, int32_t from, int32_t to);
// "" when a face may take the texture word newWord: its object texture index
// (the index bits of the level kind's face word) names a texture of the level.
// Otherwise the one-line message that refuses the edit.
std::string TextureRefusal(const Ttrlevel& L, uint16_t newWord);

// "/Map": drawn in tool/map (mapforms.h).
// nullptr when the map may be stored under mapName; otherwise the one-line
// message that refuses it (a name that ends in none of the forms'
// extensions, or the level file itself under any of its names).
const char* MapTargetRefusal(const std::string& mapName, const std::string& levelName);
// Stores the map crash-safely. Throws EInOutError, EOutOfMemory.
void StoreMap(const std::string& mapName, const std::string& svg);

} // namespace qm
