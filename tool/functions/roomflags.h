// The named room flags: the bit each name has in the 16-bit flags word of each
// level kind, as one table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "trlevel.h"

namespace qm {

// The bits the three older flag edits set, whatever the kind.
constexpr uint16_t WaterBit = 0x0001;
constexpr uint16_t SkyBit = 0x0008;

// A flag argument: a name of the table (any letter case) or, when it converts
// as a number, the raw bits (the low 16 bits of the number).
struct TFlagChoice {
    size_t Row = 0;          // the table row of a name
    bool Raw = false;
    uint16_t RawBits = 0;
};

// The choice the argument names; empty for a name the table does not have.
std::optional<TFlagChoice> ParseFlag(const std::string& text);

// The names of the table, ", "-separated, in table order.
std::string FlagNames();

// The flag's canonical name ("Wind"), or the raw bits as "flags 0x0020".
std::string FlagLabel(const TFlagChoice& choice);

// The bits the choice means in the level's kind; 0 when the kind has no such flag.
uint16_t FlagBits(const TFlagChoice& choice, const Ttrlevel& L);

// "/Flag NAME VALUE" (arguments 3 and 4): nullptr when the arguments may be
// used; otherwise the refusal, an unknown name with a second line that lists
// the names. A value that is no number throws EConvertError.
const char* FlagRefusal(const TArgs& args);

// "/Room_Colour R G B" (arguments 3 to 5): nullptr for three numbers from 0 to
// 255; otherwise the one-line refusal.
const char* ColourRefusal(const TArgs& args);

// The names of the flags set in a room's flags word, in table order, as the
// level's kind reads them (bits no name of the kind covers are left out).
std::vector<std::string> FlagNamesSet(uint16_t flags, const Ttrlevel& L);

// The name of the level's column of the table ("TR4", "TR4 NGLE"), for messages.
std::string FlagKindName(const Ttrlevel& L);

} // namespace qm
