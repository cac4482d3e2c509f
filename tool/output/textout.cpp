// The text form of results: the report, the listings, what an edit changed or
// wrote, and why a level was not done.
#include "textout.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "itemsout.h"
#include "triggersout.h"
#include "waterout.h"

namespace qm {

namespace {

// The number right-aligned in a field of the given width, in full when longer.
std::string Padded(int64_t value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%*lld", width, static_cast<long long>(value));
    return buf;
}

void Count(TConsole& out, const char* label, int64_t value) { out.Line(label + std::to_string(value)); }

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(v));
    return text;
}

std::string Counted(size_t n, const char* one, const char* many) {
    std::string text = std::to_string(n);
    return text.append(" ").append(n == 1 ? one : many);
}

} // namespace

namespace {

// Whether the result's lines close with "Done." when it is a level's last: a
// listing does, and so does a file written (a dry run wrote none).
bool ClosesWithDone(const TResult& result) {
    if (const TWritten* written = std::get_if<TWritten>(&result)) return !written->DryRun;
    return !std::holds_alternative<TFailure>(result);
}

} // namespace

void WriteText(const TResult& result, TConsole& out) {
    WriteStep(result, out);
    if (ClosesWithDone(result)) out.Line("Done.");
}

void WriteStep(const TResult& result, TConsole& out) {
    // Every kind of result has its rendering: a kind without one does not compile.
    std::visit(TOverloaded{[&](const TReport& r) { WriteReport(r, out); },
                           [&](const TIdList& r) { WriteIdList(r, out); },
                           [&](const TAnimatedTextures& r) { WriteAnimatedTextures(r, out); },
                           [&](const TRoomTable& r) { WriteRoomTable(r, out); },
                           [&](const TRoomUses& r) { WriteRoomUses(r, out); },
                           [&](const TEntityTable& r) { WriteEntityTable(r, out); },
                           [&](const TTypeList& r) { WriteTypeList(r, out); },
                           [&](const TWaterView& r) { WriteWaterView(r, out); },
                           [&](const TTriggerTable& r) { WriteTriggerTable(r, out); },
                           [&](const TWritten& r) { WriteWritten(r, out); },
                           [&](const TFailure& r) { WriteFailure(r, out); }},
               result);
}

void WriteEnd(const std::vector<TStepResult>& results, TConsole& out) {
    if (results.empty()) return;
    if (const TFailure* failure = std::get_if<TFailure>(&results.back().Result)) return WriteFailure(*failure, out);
    const auto closes = [](const TStepResult& step) { return ClosesWithDone(step.Result); };
    if (std::any_of(results.begin(), results.end(), closes)) out.Line("Done.");
}

void WriteReport(const TReport& r, TConsole& out) {
    out.Line("Level Version: " + r.Version);
    Count(out, "Total Rooms:", r.Rooms);
    Count(out, "Total Textures pages:", r.TexturePages);
    Count(out, "Total Textures:", r.Textures);
    Count(out, "Total Animated Textures:", r.AnimatedTextures);
    Count(out, "Total Items:", r.Items);
    Count(out, "Total Cameras:", r.Cameras);
    Count(out, "Total Boxes:", r.Boxes);
    Count(out, "Total Overlaps:", r.Overlaps);
    out.Progress("Counting vertices & polygons, statics & lights...");
    Count(out, "Total Statics meshes:", r.Statics);
    Count(out, "Total spots lights   :", r.Lights);
    Count(out, "Maximum Vertices used:", r.MaxVertices);
    Count(out, "Maximum Rectangles used:", r.MaxRectangles);
    Count(out, "Maximum Triangles used:", r.MaxTriangles);
    Count(out, "Lara start a room:", r.StartRoom);
    out.Line("");
}

void WriteIdList(const TIdList& list, TConsole& out) {
    out.Line(list.Kind == TIdList::TKind::Items ? "Showing Items Id used in this level:"
                                                : "Showing STATICS MESHES Ids used in this level:");
    out.Line("");
    std::string line;
    for (int32_t id : list.Ids) line += "ID:" + Padded(id, 3) + "  ";
    out.Line(line);
}

void WriteAnimatedTextures(const TAnimatedTextures& list, TConsole& out) {
    out.Line("Showing ANIMATED TEXTURES Ids used in this level:");
    out.Line("");
    int64_t g = 0;
    for (const std::vector<int32_t>& ids : list.Groups) {
        std::string line = "Animated Texture#" + Padded(++g, 2) + "-->";
        for (int32_t id : ids) line += Padded(id, 4) + "  ";
        out.Line(line);
    }
}

void WriteWritten(const TWritten& written, TConsole& out) {
    if (written.HasItemChange) return WriteItemChange(written.ItemChange, written.DryRun, out);
    if (written.HasWater) WriteWaterNotes(written.Water, out);
    if (!written.DryRun) return;
    if (written.HasWater) return WriteWaterChanges(written.Water, out);
    if (written.HasChanges) return WriteRoomChanges(written.Changes, out);
    switch (written.What) {
    case TWritten::TWhat::Map: return out.Line("The map was drawn; nothing was saved.");
    case TWritten::TWhat::Pages: return out.Line("The pages were drawn; nothing was saved.");
    case TWritten::TWhat::Page: return out.Line("The page was converted; nothing was saved.");
    case TWritten::TWhat::Level:
    case TWritten::TWhat::Item: return out.Line("The level was changed in memory; nothing was saved.");
    }
}

void WriteFailure(const TFailure& failure, TConsole& out) {
    std::string message = failure.Message;
    if (failure.Form == TFailure::TForm::Report && (message.empty() || message.back() != '.')) message += '.';
    out.Line(message);
    if (!failure.Place.empty()) out.Line(failure.Place);
    if (!failure.Hint.empty()) out.Line(failure.Hint);
}

void WriteRoomChanges(const std::vector<TRoomChange>& changes, TConsole& out) {
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
        if (c.Sectors) part(Counted(c.Sectors, "sector", "sectors"));
        if (c.Faces) part(Counted(c.Faces, "face", "faces"));
        out.Line(line);
        sectors += c.Sectors, faces += c.Faces;
    }
    if (changes.empty()) return out.Line("No room would change; nothing was saved.");
    std::string totals = Counted(changes.size(), "room", "rooms");
    totals.append(" would change (").append(Counted(sectors, "sector", "sectors")).append(", ");
    totals.append(Counted(faces, "face", "faces")).append("); nothing was saved.");
    out.Line(totals);
}

} // namespace qm
