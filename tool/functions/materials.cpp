#include "materials.h"

#include <algorithm>

namespace qm {

namespace {

// 0-13 as every level builder names them; 14 and 15 have no sound of their own
// in the original engines and the builders that offer them call them Custom.
constexpr const char* Names[MaterialCount] = {"Mud",   "Snow",   "Sand",     "Gravel",   "Ice",       "Water",
                                              "Stone", "Wood",   "Metal",    "Marble",   "Grass",     "Concrete",
                                              "Old wood", "Old metal", "Custom 1", "Custom 2"};

// The letters and digits of a name in lower case: blanks and underscores
// between words do not count.
std::string Folded(const std::string& text) {
    std::string folded;
    for (char c : text) {
        if (c == ' ' || c == '_' || c == '\t') continue;
        folded += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    return folded;
}

constexpr uint16_t SoundBits = 0x000F;

void SetSectorMaterial(TRec<8>& sector, uint16_t material) {
    const uint16_t word = GetU16(sector.data() + 2);
    SetU16(sector.data() + 2, uint16_t((word & ~SoundBits) | (material & SoundBits)));
}

} // namespace

const char* MaterialName(int32_t value) { return value >= 0 && value < MaterialCount ? Names[value] : ""; }

std::optional<uint16_t> MaterialOfName(const std::string& text) {
    const std::string wanted = Folded(text);
    if (wanted.empty()) return std::nullopt;
    for (uint16_t v = 0; v < MaterialCount; ++v)
        if (Folded(Names[v]) == wanted) return v;
    return std::nullopt;
}

std::optional<uint16_t> MaterialOf(const std::string& text) {
    if (const auto named = MaterialOfName(text)) return named;
    // At most two digits: "007" is not a value this field stores.
    if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int value = std::stoi(text);
    return value < MaterialCount ? std::optional<uint16_t>(uint16_t(value)) : std::nullopt;
}

std::string MaterialRefusal(const std::string& text) {
    if (MaterialOf(text)) return "";
    return "No material is called " + text + " (a name such as Stone or Old wood, or a value 0-15).";
}

void SetMaterial(Ttrlevel& L, uint16_t material, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i)
        for (TRec<8>& sector : L.Rooms[size_t(i)].Sectors) SetSectorMaterial(sector, material);
}

void ReplaceMaterial(Ttrlevel& L, uint16_t oldMaterial, uint16_t newMaterial, int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i)
        for (TRec<8>& sector : L.Rooms[size_t(i)].Sectors)
            if ((GetU16(sector.data() + 2) & SoundBits) == oldMaterial) SetSectorMaterial(sector, newMaterial);
}

} // namespace qm
