// "/Map OUT": the forms the map is written in, chosen by OUT's extension, and
// the store of the written picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "maplayout.h"
#include "trlevel.h"

namespace qm {

enum class TMapForm {
    Svg,  // ".svg": the SVG document
    Png,  // ".png": the same drawing as a PNG picture
};

// The form a file name asks for by its extension (any letter case), or none.
std::optional<TMapForm> MapFormOf(const std::string& mapName);

// The SVG document of the layout.
std::string MapSvgOf(const TMapLayout& m);
// The PNG picture of the layout, drawn by the tool itself.
std::string MapPngOf(const TMapLayout& m);

// The map of rooms from..to in the form, as the file's bytes; storey > 0
// draws only that storey.
std::string DrawMap(const Ttrlevel& L, const std::string& levelName, int32_t from, int32_t to, bool items,
                    int32_t storey, TMapForm form);

} // namespace qm
