// The answer writer's escaping, which scans eight bytes at a time: every special byte at every
// place of a word, tails shorter than a word, bytes of multi-byte UTF-8 characters.
#include <gtest/gtest.h>

#include <string>

#include "tools/server/xml_writer.h"

namespace docsec::server {
namespace {

// The value as the writer puts it in an attribute.
std::string Written(const std::string& value) {
  XmlWriter out;
  out.Open("e").Attr("a", value);
  std::string text = out.Finish();
  return text.substr(6, text.size() - 6 - 3);  // between `<e a="` and `"/>`
}

TEST(XmlWriter, EscapesEverySpecialByteWhereverItFalls) {
  const struct {
    char byte;
    const char* written;
  } specials[] = {{'&', "&amp;"}, {'<', "&lt;"},   {'>', "&gt;"},   {'"', "&quot;"},
                  {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"}, {'\x01', ""},
                  {'\x1f', ""},   {' ', " "},      {'\'', "'"},     {'\x7f', "\x7f"}};
  for (const auto& special : specials) {
    for (size_t length = 1; length <= 19; ++length) {
      for (size_t at = 0; at < length; ++at) {
        std::string value(length, 'x');
        value[at] = special.byte;
        std::string expected =
            std::string(at, 'x') + special.written + std::string(length - at - 1, 'x');
        ASSERT_EQ(Written(value), expected)
            << int(special.byte) << " at " << at << " of " << length;
      }
    }
  }
}

TEST(XmlWriter, KeepsPlainAndMultiByteTextAsItIs) {
  for (const std::string& value :
       {std::string(), std::string("Organization/Dept 2/Dept 30"),
        std::string("B\xC3\xBCro M\xC3\xBCnchen \xE6\x96\x87\xE6\xA1\xA3 \xF0\x9F\x93\x84 end"),
        std::string(1000, 'p')}) {
    EXPECT_EQ(Written(value), value);
  }
  EXPECT_EQ(Written("\xC3\xBC<\xC3\xBC"), "\xC3\xBC&lt;\xC3\xBC");
  EXPECT_EQ(XmlWriter::Escaped("a\"b&c"), "a&quot;b&amp;c");
  XmlWriter out;
  out.Raw(std::string_view()).Open("e").Attr("a", std::string_view());
  EXPECT_EQ(out.Finish(), "<e a=\"\"/>");
}

TEST(XmlWriter, NestsClosesAndLeavesElementsOpen) {
  XmlWriter out;
  out.Open("a").Attr("n", int64_t{-42}).BoolAttr("f", false).Open("b").Leave();
  out.Raw("<c/>").Raw("</b>");
  EXPECT_EQ(out.depth(), 1u);
  out.Open("d").EscapedAttr("p", "x&amp;y");
  EXPECT_EQ(out.Finish(), "<a n=\"-42\" f=\"false\"><b><c/></b><d p=\"x&amp;y\"/></a>");
}

}  // namespace
}  // namespace docsec::server
