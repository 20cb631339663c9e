#include "docsec/platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace docsec {
namespace {

TEST(Text, CopyNeverWritesPastTheBuffer) {
  char guard[16];
  std::memset(guard, '#', sizeof guard);
  // Buffer of 6 inside a guarded area: a 5-byte text fits, a 6-byte one does not.
  EXPECT_EQ(CopyTextToBuffer("abcde", 5, guard + 1, 6), 5);
  EXPECT_STREQ(guard + 1, "abcde");
  std::memset(guard, '#', sizeof guard);
  EXPECT_EQ(CopyTextToBuffer("abcdef", 6, guard + 1, 6), 0);
  EXPECT_EQ(guard[1], '\0');
  EXPECT_EQ(guard[7], '#');
  EXPECT_EQ(guard[0], '#');
  EXPECT_EQ(CopyTextToBuffer("a", 1, nullptr, 10), 0);
  EXPECT_EQ(CopyTextToBuffer("a", 1, guard, 0), 0);
  EXPECT_EQ(CopyTextToBuffer("a", 1, guard, 1), 0);
  EXPECT_EQ(guard[0], '\0');
}

TEST(Text, Utf16LengthCountsCodeUnits) {
  EXPECT_EQ(Utf16Length("abc", 3), 3u);
  EXPECT_EQ(Utf16Length("\xC3\xA9", 2), 1u);          // é
  EXPECT_EQ(Utf16Length("\xE4\xB8\xAD", 3), 1u);      // 中
  EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80", 4), 2u);  // an emoji: a surrogate pair
  EXPECT_EQ(Utf16Length("\xFF\xFE", 2), 2u);          // invalid bytes count one each
  EXPECT_EQ(Utf16Length("\xE4\xB8", 2), 2u);          // truncated sequence
}

// Each case: the text, the code points read, and the bytes each step consumed.
TEST(Text, NextCodePointStepsOverInvalidBytesOneAtATime) {
  struct Case {
    const char* text;
    std::vector<long> points;
    std::vector<size_t> steps;
  } cases[] = {
      {"a\xC3\xA9", {'a', 0xE9}, {1, 2}},
      {"\xF0\x9F\x98\x80", {0x1F600}, {4}},
      {"\xC0\xAF", {-1, -1}, {1, 1}},                        // overlong "/"
      {"\xED\xA0\x80", {-1, -1, -1}, {1, 1, 1}},             // a surrogate
      {"\xE4\xB8", {-1, -1}, {1, 1}},                        // cut short
      {"\xF4\x90\x80\x80", {-1, -1, -1, -1}, {1, 1, 1, 1}},  // past U+10FFFF
  };
  for (const Case& c : cases) {
    const char* p = c.text;
    const char* end = p + std::strlen(c.text);
    std::vector<long> points;
    std::vector<size_t> steps;
    while (p < end) {
      const char* before = p;
      points.push_back(NextCodePoint(&p, end));
      steps.push_back(static_cast<size_t>(p - before));
    }
    EXPECT_EQ(points, c.points) << c.text;
    EXPECT_EQ(steps, c.steps) << c.text;
  }
}

TEST(Text, Utf8AndUtf16RoundTrip) {
  const char* text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
  std::u16string wide = Utf8ToUtf16(text, std::strlen(text));
  EXPECT_EQ(wide.size(), Utf16Length(text, std::strlen(text)));
  EXPECT_EQ(Utf16ToUtf8(wide.data(), wide.size()), text);
  std::u16string lone = u"x";
  lone.push_back(static_cast<char16_t>(0xD800));
  EXPECT_EQ(Utf16ToUtf8(lone.data(), lone.size()), "x\xEF\xBF\xBD");
}

TEST(Text, CaseInsensitiveContainment) {
  EXPECT_TRUE(ContainsIgnoreCase("Sales", 5, "ALES", 4));
  EXPECT_TRUE(ContainsIgnoreCase("Wholesale", 9, "sal", 3));
  EXPECT_TRUE(ContainsIgnoreCase("x", 1, "", 0));
  EXPECT_TRUE(ContainsIgnoreCase("", 0, "", 0));
  EXPECT_FALSE(ContainsIgnoreCase("Sa", 2, "Sal", 3));
  EXPECT_FALSE(ContainsIgnoreCase("Marketing", 9, "sal", 3));
  EXPECT_TRUE(EqualsIgnoreCase("DOC", "doc"));
  EXPECT_FALSE(EqualsIgnoreCase("DOC", "docx"));
}

TEST(Text, LeadingDecimalReadsDigitsUpToTheFirstOtherCharacter) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"12", 12},
               {" \t-7x", -7},
               {"+3", 3},
               {"abc", 0},
               {"- 5", 0},
               {"1 2", 1},
               {"2147483648", 2147483647},
               {"-99999999999999999999", -2147483647 - 1}};
  for (const Case& c : cases) EXPECT_EQ(LeadingDecimal(c.text), c.value) << c.text;
  EXPECT_EQ(LeadingDecimal(nullptr), 0);
}

}  // namespace
}  // namespace docsec
