// The resolution of a function's From and To arguments.
#include "range.h"

#include <string>

namespace qm {

std::string ResolveRange(const TArgs& args, size_t fromPos, int32_t count, const TRangeWords& words, int32_t& from,
                         int32_t& to) {
    from = 0;
    to = count - 1;
    if (args.Present(fromPos)) from = StrToInt(args.At(fromPos));
    if (args.Present(fromPos + 1)) to = StrToInt(args.At(fromPos + 1));
    if (to > count - 1) to = count - 1;
    if (from > to) to = from;
    if (count <= 0) return words.None;
    if (from < 0 || from >= count)
        return std::string(words.One) + " " + std::to_string(from) + " is outside this level (" + words.Many +
               " 0 to " + std::to_string(count - 1) + ").";
    return "";
}

} // namespace qm
