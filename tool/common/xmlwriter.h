// A small writer of XML text, for the tool's SVG output: elements with
// attributes and text, every value escaped, each tag on a line of its own.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// Text made safe for XML character data and attribute values: & < > " ' become
// entities; bytes that are not UTF-8 and the control characters XML does not
// allow (all below 0x20 except tab, line feed and carriage return; U+FFFE and
// U+FFFF) become U+FFFD, so text of any bytes gives a well-formed document.
std::string XmlEscaped(std::string_view text);

// A number of an SVG attribute: at most four decimals, no trailing zeros, no "-0".
std::string SvgNumber(double v);

class TXmlWriter {
public:
    using TAttrs = std::initializer_list<std::pair<const char*, std::string_view>>;

    TXmlWriter() { Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }
    // <name a="v" ...>, closed later by Close().
    void Open(const char* name, TAttrs attrs = {});
    // The same, for attributes put together at run time.
    void Open(const char* name, const std::vector<std::pair<const char*, std::string>>& attrs);
    // <name a="v" .../>
    void Empty(const char* name, TAttrs attrs = {});
    // <name a="v" ...>text</name>
    void Element(const char* name, TAttrs attrs, std::string_view text);
    // Closes the innermost open element.
    void Close();
    // Closes every element still open and gives the document.
    std::string Finish();

    std::string Text;

private:
    void Tag(const char* name, TAttrs attrs);
    void Attribute(const char* key, std::string_view value);
    std::vector<const char*> Open_;
};

} // namespace qm
