// "/Map OUT": the forms the map is written in, chosen by OUT's extension, and
// the store of the written picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "maplayout.h"
#include "trlevel.h"

namespace qm {

enum class TMapForm {
    Svg,  // ".svg": the SVG document
    Png,  // ".png": the same drawing as a PNG picture
    Html, // ".html": a page that holds the SVG and the rooms' facts, to explore in a browser
};

// The form a file name asks for by its extension (any letter case), or none.
std::optional<TMapForm> MapFormOf(const std::string& mapName);

// What an SVG document is for: the picture itself, or the picture inside the
// page, whose flip rooms also carry their fill and floor, hidden
// (display="none"), for the page to show the level in its flipped state.
enum class TSvgUse { Picture, Page };

// The SVG document of the layout.
std::string MapSvgOf(const TMapLayout& m, TSvgUse use = TSvgUse::Picture);
// The PNG picture of the layout, drawn by the tool itself.
std::string MapPngOf(const TMapLayout& m);

// A drawn map: the file's bytes, and the notes about the whole picture (it
// was drawn smaller than the least scale, for one).
struct TDrawnMap {
    std::string Bytes;
    std::vector<std::string> Notes;
};

// The map of rooms from..to in the form; storey > 0 draws only that storey.
TDrawnMap DrawMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                    int32_t storey, TMapForm form);

} // namespace qm
