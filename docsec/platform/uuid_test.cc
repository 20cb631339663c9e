#include "docsec/platform/uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace docsec {
namespace {

TEST(Uuid, ParsesAnyLetterCaseToTheSameValue) {
  Uuid lower, upper, mixed;
  ASSERT_TRUE(Uuid::Parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8", &lower));
  ASSERT_TRUE(Uuid::Parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8", &upper));
  ASSERT_TRUE(Uuid::Parse("6bA7b810-9DaD-11d1-80B4-00c04Fd430C8", &mixed));
  EXPECT_EQ(lower, upper);
  EXPECT_EQ(lower, mixed);
  EXPECT_EQ(lower.bytes[0], 0x6b);
  EXPECT_EQ(lower.bytes[15], 0xc8);
  EXPECT_EQ(upper.ToString(), "6ba7b810-9dad-11d1-80b4-00c04fd430c8");
}

TEST(Uuid, RefusesOtherForms) {
  const char* bad[] = {
      "",
      "{6ba7b810-9dad-11d1-80b4-00c04fd430c8}",
      "6ba7b810-9dad-11d1-80b4-00c04fd430c",    // short
      "6ba7b810-9dad-11d1-80b4-00c04fd430c8a",  // long
      "6ba7b8109dad-11d1-80b4-00c04fd430c8a",   // dash missing
      "6ba7b810-9dad-11d1-80b4_00c04fd430c8",   // wrong separator
      "6ba7b810-9dad-11d1-80b4-00c04fd430cg",   // not hexadecimal
      " 6ba7b810-9dad-11d1-80b4-00c04fd430c8",
      "6ba7b810-9dad-11d1-80b4-00c04fd430c8 ",
      "6ba7b81-09dad-11d1-80b4-00c04fd430c8",  // dash one place early
  };
  for (const char* text : bad) {
    Uuid out;
    out.bytes[0] = 0x55;
    EXPECT_FALSE(Uuid::Parse(text, &out)) << text;
    EXPECT_EQ(out.bytes[0], 0x55) << "left untouched: " << text;
  }
  Uuid out;
  EXPECT_FALSE(Uuid::Parse(static_cast<const char*>(nullptr), &out));
}

TEST(Uuid, GeneratesVersion4Values) {
  std::set<std::string> seen;
  for (int i = 0; i < 16; ++i) {
    Uuid u;
    ASSERT_TRUE(Uuid::Generate(&u));
    std::string text = u.ToString();
    EXPECT_EQ(text[14], '4') << text;
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    Uuid back;
    ASSERT_TRUE(Uuid::Parse(text, &back));
    EXPECT_EQ(back, u);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 16u);
}

}  // namespace
}  // namespace docsec
