// "/Map": the form by the file's extension, the picture drawn in that form,
// and its crash-safe store.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "functions.h"
#include "html.h"
#include "jsonvalue.h"
#include "mapfacts.h"
#include "maptriggers.h"
#include "mapforms.h"
#include "utf8path.h"
#include "zfile.h"

namespace qm {

namespace {

// The forms by extension. A new form is one more row.
struct TFormRow {
    const char* Extension;  // lower case, with its dot
    TMapForm Form;
};
constexpr TFormRow Forms[] = {{".svg", TMapForm::Svg}, {".png", TMapForm::Png}, {".html", TMapForm::Html}};

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// "The map's file name must end in .svg, .png or .html."
const std::string& WrongExtension() {
    static const std::string message = [] {
        std::string m = "The map's file name must end in ";
        for (size_t i = 0; i < std::size(Forms); ++i)
            m.append(i == 0 ? "" : i + 1 == std::size(Forms) ? " or " : ", ").append(Forms[i].Extension);
        return m + ".";
    }();
    return message;
}

} // namespace

std::optional<TMapForm> MapFormOf(const std::string& mapName) {
    const std::string name = Lower(mapName);
    for (const TFormRow& row : Forms) {
        const std::string_view ext = row.Extension;
        if (name.size() >= ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0) return row.Form;
    }
    return std::nullopt;
}

TDrawnMap DrawMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                  int32_t storey, TMapForm form) {
    // The floor data of the drawn rooms is read once, for the picture and the page.
    const TLevelTriggers triggers = from <= to ? LevelTriggers(L, from, to) : TLevelTriggers{};
    const TMapLayout layout = LayOutMap(L, levelName, from, to, items, storey, triggers);
    switch (form) {
    case TMapForm::Png: return {MapPngOf(layout), layout.Notes};
    case TMapForm::Html: {
        TJson facts = MapFacts(L, levelName, from, to, items);
        facts["triggers"] = MapTriggerFacts(L, triggers);
        return {MapPage("Map of " + MapTitle(L, levelName, from, to), MapSvgOf(layout, TSvgUse::Page), facts), layout.Notes};
    }
    case TMapForm::Svg: break;
    }
    return {MapSvgOf(layout), layout.Notes};
}

const char* MapTargetRefusal(const std::string& mapName, const std::string& levelName) {
    if (!MapFormOf(mapName)) return WrongExtension().c_str();
    // The same file under another name (a link, another spelling of the path)
    // counts: the map must never replace the level.
    std::error_code ec;
    if (mapName == levelName || std::filesystem::equivalent(PathOf(mapName), PathOf(levelName), ec))
        return "The map cannot be written over the level file.";
    return nullptr;
}

void StoreMap(const std::string& mapName, const std::string& bytes) {
    TZfile f;
    ZAssign(f, mapName);
    ZRewrite(f, 1);
    // In pieces an int32 count holds.
    constexpr size_t Piece = size_t(1) << 30;
    for (size_t at = 0; at < bytes.size(); at += Piece)
        ZBlockWrite(f, bytes.data() + at, int32_t(std::min(Piece, bytes.size() - at)));
    ZClose(f, true);
}

} // namespace qm
