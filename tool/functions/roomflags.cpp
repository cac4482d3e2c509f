#include "roomflags.h"

#include <cstdio>
#include <iterator>

#include "args.h"
#include "errors.h"
#include "kinds.h"

namespace qm {

namespace {

// The columns: which kinds read a bit the same way. TR4-layout levels ending
// with the "NGLE" block have a column of their own.
enum TFlagColumn : size_t { ColTR1, ColTR2, ColTR3, ColTR4, ColNgle, ColTR5, ColumnCount };

constexpr const char* ColumnNames[ColumnCount] = {"TR1", "TR2", "TR3", "TR4", "TR4 NGLE", "TR5"};

struct TFlagRow {
    const char* Name;
    uint16_t Bits[ColumnCount];  // 0: the kind has no such flag
};

// Water, Sky and QuickSand are the bits /Water, /Sky and /QuickSand set (the
// quicksand bit is the kind table's; TR1 and TR2 have no quicksand rooms).
constexpr TFlagRow Rows[] = {
    {"Water", {WaterBit, WaterBit, WaterBit, WaterBit, WaterBit, WaterBit}},
    {"Sky", {SkyBit, SkyBit, SkyBit, SkyBit, SkyBit, SkyBit}},
    {"Wind", {0, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020}},
    {"QuickSand", {0, 0, 0x0080, 0x0004, 0x0004, 0x0004}},
    {"NoLensFlare", {0, 0, 0, 0x0080, 0x0080, 0x0080}},
    {"Caustics", {0, 0, 0x0100, 0x0100, 0x0100, 0}},
    {"Mist", {0, 0, 0, 0, 0, 0x0100}},
    {"Reflection", {0, 0, 0x0200, 0x0200, 0x0200, 0x0200}},
    {"Snow", {0, 0, 0, 0, 0x0400, 0}},
    {"Rain", {0, 0, 0, 0, 0x0800, 0}},
    {"Cold", {0, 0, 0, 0, 0x1000, 0}},
};

bool SameNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char c = a[i], d = b[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (d >= 'a' && d <= 'z') d = char(d - 'a' + 'A');
        if (c != d) return false;
    }
    return i == a.size() && !b[i];
}

TFlagColumn ColumnOf(const Ttrlevel& L) {
    switch (L.LevelVersion) {
    case KindTR1:
    case KindTUB: return ColTR1;
    case KindTR2:
    case KindTRG: return ColTR2;
    case KindTR3: return ColTR3;
    case KindTR5: return ColTR5;
    default: return L.IsNgLevel() ? ColNgle : ColTR4;
    }
}

} // namespace

std::optional<TFlagChoice> ParseFlag(const std::string& text) {
    for (size_t i = 0; i < std::size(Rows); ++i)
        if (SameNoCase(text, Rows[i].Name)) return TFlagChoice{.Row = i};
    try {
        return TFlagChoice{.Raw = true, .RawBits = uint16_t(StrToInt(text))};
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::string FlagNames() {
    std::string names;
    for (const TFlagRow& row : Rows) names.append(names.empty() ? "" : ", ").append(row.Name);
    return names;
}

std::string FlagLabel(const TFlagChoice& choice) {
    if (!choice.Raw) return Rows[choice.Row].Name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(choice.RawBits));
    return std::string("flags ") + text;
}

uint16_t FlagBits(const TFlagChoice& choice, const Ttrlevel& L) {
    return choice.Raw ? choice.RawBits : Rows[choice.Row].Bits[ColumnOf(L)];
}

const char* FlagRefusal(const TArgs& args) {
    static const std::string unknown = "Unknown flag name.\nthe flags are " + FlagNames();
    if (!ParseFlag(args.At(3))) return unknown.c_str();
    if (!args.Present(4)) return "Please especify 0 or 1";
    StrToInt(args.At(4));  // a bad value is reported as for the other flag edits
    return nullptr;
}

const char* ColourRefusal(const TArgs& args) {
    for (size_t at = 3; at <= 5; ++at) {
        if (!args.Present(at)) return "Missing parameter";
        try {
            if (const int32_t v = StrToInt(args.At(at)); v < 0 || v > 255) return "Colour values must be 0 to 255.";
        } catch (const EConvertError&) {
            return "Colour values must be 0 to 255.";
        }
    }
    return nullptr;
}

std::vector<std::string> FlagNamesSet(uint16_t flags, const Ttrlevel& L) {
    std::vector<std::string> names;
    for (const TFlagRow& row : Rows) {
        const uint16_t bits = row.Bits[ColumnOf(L)];
        if (bits != 0 && (flags & bits) == bits) names.emplace_back(row.Name);
    }
    return names;
}

std::string FlagKindName(const Ttrlevel& L) { return ColumnNames[ColumnOf(L)]; }

} // namespace qm
