#include "args.h"

#include "errors.h"

namespace qm {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

int32_t StrToInt(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;

    size_t hexStart = std::string::npos;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) hexStart = i + 1;
    else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) hexStart = i + 2;

    if (hexStart != std::string::npos) {
        if (hexStart >= n) throw EConvertError(text);
        uint64_t value = 0;
        int significant = 0;
        for (size_t k = hexStart; k < n; ++k) {
            int d = HexDigit(text[k]);
            if (d < 0) throw EConvertError(text);
            if (value != 0 || d != 0) ++significant;
            if (significant > 8) throw EConvertError(text);
            value = value * 16 + uint64_t(d);
        }
        return int32_t(uint32_t(value));
    }

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= n) throw EConvertError(text);
    int64_t value = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') throw EConvertError(text);
        value = value * 10 + (text[i] - '0');
        if (value > int64_t(INT32_MAX) + 1) throw EConvertError(text);
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) throw EConvertError(text);
    return int32_t(value);
}

} // namespace qm
