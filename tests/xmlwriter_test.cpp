// Text escaped for XML: entities, and bytes that XML text may not hold.
#include <gtest/gtest.h>

#include <string>

#include "xmlwriter.h"

namespace {

TEST(XmlEscaped, EntitiesAndBytesThatAreNotXmlText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain 123", "plain 123"},
      {"<&>\"'", "&lt;&amp;&gt;&quot;&apos;"},
      {"tab\tlf\ncr\r", "tab\tlf\ncr\r"},
      {std::string("nul\0bell\x07", 9), "nul\xEF\xBF\xBD" "bell\xEF\xBF\xBD"},
      {"\xC3\x97 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\x97 \xE2\x82\xAC \xF0\x9F\x98\x80"},  // 2, 3, 4 bytes
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                      // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                      // surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},      // above U+10FFFF
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD"},                                              // U+FFFE
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(qm::XmlEscaped(c.in), c.out) << ::testing::PrintToString(c.in);
}

}  // namespace
