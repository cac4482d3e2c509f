#include "html.h"

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
    const std::string text = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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
    size_t start = svg.find("<svg");
    while (start != std::string::npos && start + 4 < svg.size() && IsNameChar(svg[start + 4]))
        start = svg.find("<svg", start + 4);
    if (start == std::string::npos) return "";
    // The start tag ends at the first ">" outside a quoted value.
    char quote = '\0';
    size_t end = start;
    for (; end < svg.size(); ++end) {
        const char c = svg[end];
        if (quote) {
            if (c == quote) quote = '\0';
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    if (end == svg.size()) return "";
    return WithoutNamespaces(svg.substr(start, end + 1 - start)) + svg.substr(end + 1);
}

std::string MapPage(const std::string& title, const std::string& svg, const nlohmann::ordered_json& facts) {
    std::string page;
    const std::string inlineSvg = InlineSvg(svg);
    const std::string json = ScriptJson(facts);
    page.reserve(inlineSvg.size() + json.size() + 16384);
    page.append("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n")
        .append("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n")
        .append("<title>")
        .append(HtmlEscaped(title))
        .append("</title>\n<style>\n")
        .append(PageStyle)
        .append("</style>\n</head>\n<body>\n")
        .append(PageControls)
        .append("<main id=\"view\">\n")
        .append(inlineSvg)
        .append("</main>\n<aside id=\"info\" hidden></aside>\n")
        .append("<script type=\"application/json\" id=\"map-facts\">")
        .append(json)
        .append("</script>\n<script>\n")
        .append(PageScript)
        .append("</script>\n</body>\n</html>\n");
    return page;
}

} // namespace qm
