// "/Map OUT.html": one self-contained page that explores the map in a browser.
// The SVG picture is inlined, the room facts travel as a JSON block, and the
// page's own script and style are written into it: the page loads nothing
// else.
#pragma once

#include <string>

#include "jsonfwd.h"

namespace qm {

// Text for HTML element content or a quoted attribute value: &, <, >, " and '
// as character references.
std::string HtmlEscaped(const std::string& text);

// A JSON value as the content of a <script> element: "<", ">" and "&" as
// \u escapes, so no text of the value ("</script>", "<!--") can end or
// change the element; text that is not UTF-8 shows U+FFFD per bad byte.
std::string ScriptJson(const nlohmann::ordered_json& value);

// The SVG document made ready to sit inside HTML: what comes before its root
// element is dropped, and the namespace declarations of the root (an HTML
// parser gives the element its namespace itself) are left out.
std::string InlineSvg(const std::string& svg);

// The page: title as the document's title, the picture, and facts (the
// object the page's script reads: "title", "items" and "rooms", see
// mapfacts.h, and "triggers", see maptriggers.h).
std::string MapPage(const std::string& title, const std::string& svg, const nlohmann::ordered_json& facts);

} // namespace qm
