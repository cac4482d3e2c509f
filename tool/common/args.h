// Command-line arguments: positions and the conversion of numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The arguments after the program name; one past the last reads as empty text.
class TArgs {
public:
    explicit TArgs(std::vector<std::string> args) : Args_(std::move(args)) {}
    // Position 1 is the first argument after the program name.
    const std::string& At(size_t position) const {
        static const std::string empty;
        return position >= 1 && position <= Args_.size() ? Args_[position - 1] : empty;
    }
    bool Present(size_t position) const { return !At(position).empty(); }
    size_t Count() const { return Args_.size(); }

private:
    std::vector<std::string> Args_;
};

// Converts a number argument: optional leading spaces, then a decimal number
// with an optional sign within the 32-bit signed range, or a hexadecimal number
// after "$", "x", "X", "0x" or "0X" of at most eight significant digits, taken
// as a 32-bit pattern. Anything else (the empty text included) throws
// EConvertError.
int32_t StrToInt(const std::string& text);

} // namespace qm
