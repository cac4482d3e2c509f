// The text and JSON forms of "/ShowWater", "/Flood" and "/Drain".
#include "waterout.h"

#include <cstdio>

#include "jsonvalue.h"

namespace qm {

namespace {

std::string Pad(std::string text, size_t width, bool left) {
    if (text.size() < width) text.insert(left ? text.size() : 0, width - text.size(), ' ');
    return text;
}

// "8,9", or "-" for none.
std::string RoomList(const std::vector<int32_t>& rooms) {
    std::string text;
    for (int32_t room : rooms) {
        if (!text.empty()) text += ',';
        text += std::to_string(room);
    }
    return text.empty() ? "-" : text;
}

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(v));
    return text;
}

} // namespace

void WriteWaterView(const TWaterView& view, TConsole& out) {
    out.Line("Showing WATER of this level:");
    out.Line("");
    out.Line(" Room Water Surface 0x2000 0x4000 0x8000 Scheme Reverb Above      Below");
    for (const TWaterRoom& w : view.Rooms) {
        const auto count = [&w](size_t n) { return Pad(w.HasAttributes ? std::to_string(n) : "-", 6, false); };
        const auto byte = [&w](uint8_t b) { return Pad(w.HasScheme ? std::to_string(b) : "-", 6, false); };
        out.Line(Pad(std::to_string(w.Room), 5, false) + " " + Pad(w.Water ? "yes" : "no", 5, true) + " " +
                 Pad(w.Surface ? "yes" : "no", 7, true) + " " + count(w.Movement) + " " + count(w.Glow) + " " +
                 count(w.NoWibble) + " " + byte(w.Scheme) + " " + byte(w.Reverb) + " " +
                 Pad(RoomList(w.Above), 10, true) + " " + RoomList(w.Below));
    }
}

TJson WaterViewJson(const TWaterView& view) {
    TJson list = TJson::array();
    for (const TWaterRoom& w : view.Rooms) {
        TJson room{{"room", w.Room}, {"water", w.Water}, {"above", w.Above}, {"below", w.Below}, {"surface", w.Surface}};
        if (w.HasAttributes) room["vertices"] = {{"movement", w.Movement}, {"glow", w.Glow}, {"noWibble", w.NoWibble}};
        if (w.HasScheme) room["waterScheme"] = w.Scheme, room["reverb"] = w.Reverb;
        list.push_back(room);
    }
    return list;
}

void WriteWaterNotes(const TWaterEdit& edit, TConsole& out) {
    for (const std::string& note : edit.Notes) out.Line(note);
}

void WriteWaterChanges(const TWaterEdit& edit, TConsole& out) {
    size_t vertices = 0;
    for (const TWaterChange& c : edit.Changes) {
        std::string line = "Room " + std::to_string(c.Room) + ":";
        if (c.FlagsBefore != c.FlagsAfter) line += " flags " + Hex4(c.FlagsBefore) + " -> " + Hex4(c.FlagsAfter);
        if (c.Vertices) line += std::string(c.FlagsBefore != c.FlagsAfter ? "," : "") + " " + Count(c.Vertices, "vertex", "vertices");
        out.Line(line);
        vertices += c.Vertices;
    }
    if (edit.Changes.empty()) return out.Line("No room would change; nothing was saved.");
    out.Line(Count(edit.Changes.size(), "room", "rooms") + " would change (" + Count(vertices, "vertex", "vertices") +
             "); nothing was saved.");
}

void AddWaterEdit(const TWaterEdit& edit, bool saved, TJson& entry) {
    entry["notes"] = edit.Notes;
    TJson rooms = TJson::array();
    size_t vertices = 0;
    for (const TWaterChange& c : edit.Changes) {
        TJson room{{"room", c.Room}};
        if (c.FlagsBefore != c.FlagsAfter) room["flags"] = {{"old", c.FlagsBefore}, {"new", c.FlagsAfter}};
        room["vertices"] = c.Vertices;
        rooms.push_back(room);
        vertices += c.Vertices;
    }
    entry["changes"] = {{"rooms", rooms}, {"totals", {{"rooms", edit.Changes.size()}, {"vertices", vertices}}},
                        {"saved", saved}};
}

} // namespace qm
