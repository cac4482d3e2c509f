#include "html.h"

#include <utility>

#include "jsonvalue.h"
#include "pageassets.h"

namespace qm {

namespace {

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '-' ||
           c == '_' || c == '.';
}

// The root's start tag without its xmlns and xmlns:* attributes. tag is the
// text from "<svg" up to and including its ">".
std::string WithoutNamespaces(const std::string& tag) {
    std::string out;
    size_t i = 0;
    while (i < tag.size()) {
        // Whitespace before an attribute goes with it.
        size_t at = i;
        while (at < tag.size() && (tag[at] == ' ' || tag[at] == '\n' || tag[at] == '\t' || tag[at] == '\r')) ++at;
        size_t end = at;
        while (end < tag.size() && IsNameChar(tag[end])) ++end;
        const std::string name = tag.substr(at, end - at);
        if (at == i || name.empty() || end >= tag.size() || tag[end] != '=') {
            out += tag[i++];
            continue;
        }
        // name="value" or name='value': copied whole, or dropped for a namespace.
        const char quote = end + 1 < tag.size() ? tag[end + 1] : '\0';
        const size_t close = quote == '"' || quote == '\'' ? tag.find(quote, end + 2) : std::string::npos;
        if (close == std::string::npos) {
            out.append(tag, i, std::string::npos);
            break;
        }
        if (name != "xmlns" && name.rfind("xmlns:", 0) != 0) out.append(tag, i, close + 1 - i);
        i = close + 1;
    }
    return out;
}

// Where the root's start tag of the SVG document is: [start, end), end just
// after its ">" (the first outside a quoted value); both 0 when there is none.
std::pair<size_t, size_t> SvgRoot(const std::string& svg) {
    size_t start = svg.find("<svg");
    while (start != std::string::npos && start + 4 < svg.size() && IsNameChar(svg[start + 4]))
        start = svg.find("<svg", start + 4);
    if (start == std::string::npos) return {0, 0};
    char quote = '\0';
    for (size_t at = start; at < svg.size(); ++at) {
        const char c = svg[at];
        if (quote) {
            if (c == quote) quote = '\0';
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return {start, at + 1};
        }
    }
    return {0, 0};
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string ScriptJson(const nlohmann::ordered_json& value) {
    std::string text = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    if (text.find_first_of("<>&") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    // Outside JSON strings these characters do not occur, so an escape is
    // always inside a string, where JSON reads it back as the character.
    for (char c : text) {
        switch (c) {
        case '<': out += "\\u003c"; break;
        case '>': out += "\\u003e"; break;
        case '&': out += "\\u0026"; break;
        default: out += c;
        }
    }
    return out;
}

std::string InlineSvg(const std::string& svg) {
    const auto [start, end] = SvgRoot(svg);
    if (start == end) return "";
    return WithoutNamespaces(svg.substr(start, end - start)).append(svg, end);
}

std::string MapPage(const std::string& title, const std::string& svg, const nlohmann::ordered_json& facts) {
    std::string page;
    const auto [start, end] = SvgRoot(svg);
    const std::string json = ScriptJson(facts);
    page.reserve(svg.size() + json.size() + 24576);
    page.append("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n")
        .append("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n")
        .append("<title>")
        .append(HtmlEscaped(title))
        .append("</title>\n<style>\n")
        .append(PageStyle)
        .append(PageTriggerStyle)
        .append("</style>\n</head>\n<body>\n")
        .append(PageControls)
        .append("<main id=\"view\">\n")
        .append(start == end ? "" : WithoutNamespaces(svg.substr(start, end - start)))
        .append(svg, start == end ? svg.size() : end)
        .append("</main>\n<footer id=\"legend-bar\"></footer>\n<aside id=\"info\" hidden></aside>\n")
        .append("<script type=\"application/json\" id=\"map-facts\">")
        .append(json)
        .append("</script>\n<script>\n")
        .append(PageViewScript)
        .append(PageScript)
        .append(PageTriggerScript)
        .append("</script>\n</body>\n</html>\n");
    return page;
}

} // namespace qm
