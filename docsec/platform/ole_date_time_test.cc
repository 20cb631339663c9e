#include "docsec/platform/ole_date_time.h"

#include <gtest/gtest.h>

#include <string>

#include "docsec/testing/environment.h"

namespace docsec {
namespace {

// Date tests assume a zone: a fixed one for the plain cases, a zone with daylight saving for the
// gap case.
class OleDateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::SetTimeZone(testing::TestZone::kUtc); }
  void TearDown() override { testing::SetTimeZone(testing::TestZone::kUtc); }

  static std::string Parse(const char* text, const char* pattern = nullptr) {
    double date;
    if (!OleDateTime::ParseDateTime(text, pattern, &date)) return "fail";
    return OleDateTime(date).Format();
  }
};

TEST_F(OleDateTimeTest, KnownValues) {
  EXPECT_EQ(OleDateTime(0.0).Format(), "1899-12-30 00:00:00");
  EXPECT_EQ(OleDateTime(1.0).Format(), "1899-12-31 00:00:00");
  EXPECT_EQ(OleDateTime(-1.25).Format(), "1899-12-29 06:00:00");
  EXPECT_EQ(OleDateTime(2009, 3, 7, 14, 5, 9).Format(), "2009-03-07 14:05:09");
  EXPECT_DOUBLE_EQ(OleDateTime(2000, 1, 1, 0, 0, 0).Value(), 36526.0);
  EXPECT_DOUBLE_EQ(OleDateTime(1899, 12, 29, 6, 0, 0).Value(), -1.25);
}

TEST_F(OleDateTimeTest, InvalidPartsGiveInvalidStatus) {
  EXPECT_FALSE(OleDateTime(2009, 0, 7, 0, 0, 0).IsValid());
  EXPECT_FALSE(OleDateTime(2009, 4, 31, 0, 0, 0).IsValid());
  EXPECT_FALSE(OleDateTime(2009, 2, 29, 0, 0, 0).IsValid());
  EXPECT_TRUE(OleDateTime(2008, 2, 29, 0, 0, 0).IsValid());
  EXPECT_FALSE(OleDateTime(2009, 1, 1, 24, 0, 0).IsValid());
  EXPECT_FALSE(OleDateTime(0, 1, 1, 0, 0, 0).IsValid());
  EXPECT_FALSE(OleDateTime(1e300).IsValid());
  EXPECT_EQ(OleDateTime(1e300).Format(), "");
}

TEST_F(OleDateTimeTest, RoundTripOfPartsThroughOleDates) {
  for (double d = -700000.0 + 0.5; d < 2958465.0; d += 9876.54321) {
    if (d < -657434.0) continue;
    DateTimeParts p;
    ASSERT_TRUE(OleDateTime::OleToParts(d, &p));
    double back;
    ASSERT_TRUE(OleDateTime::PartsToOle(p, &back));
    EXPECT_NEAR(back, d, 1.0 / 86400) << d;
  }
}

TEST_F(OleDateTimeTest, ParsingWithTheDefaultPattern) {
  EXPECT_EQ(Parse("2009-03-07 14:05:09"), "2009-03-07 14:05:09");
  EXPECT_EQ(Parse("2009-3-7 4:05:09"), "2009-03-07 04:05:09");
  EXPECT_EQ(Parse("2009/03/07 04:05:09"), "2009-03-07 04:05:09");
  EXPECT_EQ(Parse("2009-03-07"), "2009-03-07 00:00:00");
  EXPECT_EQ(Parse("20090-03-07"), "2009-03-07 00:00:00");  // a full field keeps its first digits
}

TEST_F(OleDateTimeTest, ParsingFailures) {
  for (const char* text : {"", "abc", "0000-01-01", "2009-00-07", "2009-04-31",
                           "2009-03-07 25:00:00", "1600-01-01", "-", "12:30:00"}) {
    EXPECT_EQ(Parse(text), "fail") << text;
  }
  double date;
  EXPECT_FALSE(OleDateTime::ParseDateTime(nullptr, nullptr, &date));
}

TEST_F(OleDateTimeTest, ParsingWithOtherPatterns) {
  EXPECT_EQ(Parse("07/03/2009 14:05", "dd/MM/yyyy HH:mm"), "2009-03-07 14:05:00");
  // Letters that collect but do not contribute, and characters that pair with nothing.
  EXPECT_EQ(Parse("Sat 2009-03-07", "EEE yyyy-MM-dd"), "2009-03-07 00:00:00");
  EXPECT_EQ(Parse("2009x03", "yyyyxMM"), "fail");  // no day: not a calendar time
}

TEST_F(OleDateTimeTest, LocalTimeInADaylightSavingGapIsShiftedAsTheClockDoes) {
  if (!testing::SetTimeZone(testing::TestZone::kNewYork)) {
    GTEST_SKIP() << "this system's C runtime cannot set a zone with the 2007 United States rules";
  }
  // 2009-03-08 02:30 does not exist in New York: clocks went from 02:00 to 03:00.
  EXPECT_EQ(Parse("2009-03-08 02:30:00"), "2009-03-08 03:30:00");
  EXPECT_EQ(Parse("2009-03-08 01:30:00"), "2009-03-08 01:30:00");
  EXPECT_EQ(Parse("2009-03-09 02:30:00"), "2009-03-09 02:30:00");
  // The per-day cache must follow a change of zone.
  testing::SetTimeZone(testing::TestZone::kUtc);
  EXPECT_EQ(Parse("2009-03-08 02:30:00"), "2009-03-08 02:30:00");
}

TEST_F(OleDateTimeTest, FormatIntoSmallBuffers) {
  char buffer[8];
  EXPECT_EQ(OleDateTime::FormatDateTime(0.0, buffer, sizeof buffer), 19);
  EXPECT_STREQ(buffer, "1899-12");
  char one[1] = {'x'};
  OleDateTime::FormatDateTime(0.0, one, 1);
  EXPECT_EQ(one[0], '\0');
}

TEST_F(OleDateTimeTest, CurrentTimeIsValidAndRecent) {
  OleDateTime now = OleDateTime::GetCurrentTime();
  ASSERT_TRUE(now.IsValid());
  EXPECT_GT(now.Value(), OleDateTime(2020, 1, 1, 0, 0, 0).Value());
}

}  // namespace
}  // namespace docsec
