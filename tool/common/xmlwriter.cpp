#include "xmlwriter.h"

#include <cstdint>
#include <cstdio>

namespace qm {

namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD";  // U+FFFD

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0.
size_t SequenceLength(std::string_view text, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = at(0);
    const size_t left = text.size() - i;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return left >= 2 && Continuation(at(1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !Continuation(at(1)) || !Continuation(at(2))) return 0;
        if (c == 0xE0 && at(1) < 0xA0) return 0;  // overlong
        if (c == 0xED && at(1) > 0x9F) return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !Continuation(at(1)) || !Continuation(at(2)) || !Continuation(at(3))) return 0;
        if (c == 0xF0 && at(1) < 0x90) return 0;  // overlong
        if (c == 0xF4 && at(1) > 0x8F) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

} // namespace

std::string XmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceLength(text, i);
        if (n == 0) {
            out += Replacement;
            ++i;
            continue;
        }
        const std::string_view seq = text.substr(i, n);
        i += n;
        if (n == 3 && (seq == "\xEF\xBF\xBE" || seq == "\xEF\xBF\xBF")) {
            out += Replacement;
            continue;
        }
        switch (seq[0]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t':
        case '\n':
        case '\r': out += seq; break;
        default:
            if (n == 1 && static_cast<unsigned char>(seq[0]) < 0x20) out += Replacement;
            else out += seq;
        }
    }
    return out;
}

void TXmlWriter::Attribute(const char* key, std::string_view value) {
    Text += ' ';
    Text += key;
    Text += "=\"";
    Text += XmlEscaped(value);
    Text += '"';
}

void TXmlWriter::Tag(const char* name, TAttrs attrs) {
    Text += '<';
    Text += name;
    for (const auto& [key, value] : attrs) Attribute(key, value);
}

void TXmlWriter::Open(const char* name, const std::vector<std::pair<const char*, std::string>>& attrs) {
    Text += '<';
    Text += name;
    for (const auto& [key, value] : attrs) Attribute(key, value);
    Text += ">\n";
    Open_.push_back(name);
}

void TXmlWriter::Open(const char* name, TAttrs attrs) {
    Tag(name, attrs);
    Text += ">\n";
    Open_.push_back(name);
}

void TXmlWriter::Empty(const char* name, TAttrs attrs) {
    Tag(name, attrs);
    Text += "/>\n";
}

void TXmlWriter::Element(const char* name, TAttrs attrs, std::string_view text) {
    Tag(name, attrs);
    Text += '>';
    Text += XmlEscaped(text);
    Text += "</";
    Text += name;
    Text += ">\n";
}

void TXmlWriter::Close() {
    if (Open_.empty()) return;
    Text += "</";
    Text += Open_.back();
    Text += ">\n";
    Open_.pop_back();
}

std::string TXmlWriter::Finish() {
    while (!Open_.empty()) Close();
    return std::move(Text);
}

std::string SvgNumber(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.4f", v);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

} // namespace qm
