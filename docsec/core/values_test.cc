// The attribute store: conversions on store, the exported variant functions and text getters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <atomic>
#include <thread>
#include <vector>

#include "docsec/channel/last_error.h"
#include "docsec/core/date_time.h"
#include "docsec/core/variant_functions.h"
#include "docsec/platform/com_error.h"
#include "docsec/testing/environment.h"
#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

using testing::DepartmentLike;
using testing::UserLike;

class Values : public ::testing::Test {
 protected:
  void SetUp() override { testing::SetTimeZone(testing::TestZone::kUtc); }
};

TEST_F(Values, TextIntoIntegerAttributeConvertsOrLeavesUnset) {
  DepartmentLike d;
  EXPECT_EQ(d.SetAttrValue("id", Variant("12")), 1);
  ASSERT_NE(d.GetAttrValue("id"), nullptr);
  EXPECT_EQ(d.GetAttrValue("id")->Type(), kVtInt);
  EXPECT_EQ(GetVariantInt(d.GetAttrValue("id")), 12);
  EXPECT_EQ(d.SetAttrValue("id", Variant("abc")), 0);
  EXPECT_EQ(d.GetAttrValue("id"), nullptr);  // the earlier 12 is gone too
  EXPECT_EQ(GetVariantInt(d.GetAttrValue("id")), -1);
  EXPECT_EQ(d.SetAttrValue("id", Variant("99999999999")), 0);
  EXPECT_EQ(d.GetAttrValue("id"), nullptr);
}

TEST_F(Values, FlagsAndDatesStoreTheirKinds) {
  UserLike u;
  EXPECT_EQ(u.SetAttrValue("isSupervisor", Variant("TRUE")), 1);
  EXPECT_EQ(u.GetAttrValue("isSupervisor")->BoolPayload(), -1);
  EXPECT_EQ(u.SetAttrValue("isSupervisor", Variant("false")), 1);
  EXPECT_EQ(u.GetAttrValue("isSupervisor")->BoolPayload(), 0);
  EXPECT_EQ(u.SetAttrValue("createTime", Variant("2009-03-07 14:05:09")), 1);
  EXPECT_EQ(u.GetAttrValue("createTime")->Type(), kVtDate);
  EXPECT_EQ(OleDateTime(GetVariantDate(u.GetAttrValue("createTime"))).Format(),
            "2009-03-07 14:05:09");
  // Date text that is no date stores the zero date rather than failing.
  EXPECT_EQ(u.SetAttrValue("createTime", Variant("yesterday")), 1);
  EXPECT_DOUBLE_EQ(GetVariantDate(u.GetAttrValue("createTime")), 0.0);
  EXPECT_EQ(u.SetAttrValue("createTime", Variant::Null()), 0);
  EXPECT_DOUBLE_EQ(GetVariantDate(u.GetAttrValue("createTime")), -1.0);
}

TEST_F(Values, UndeclaredNamesAreKeptAsText) {
  UserLike u;
  EXPECT_EQ(u.GetAttrType("nickname"), kVtBstr);
  EXPECT_EQ(u.GetAttrType("id"), kVtInt);
  EXPECT_EQ(u.SetAttrValue("nickname", Variant(42)), 1);
  EXPECT_STREQ(GetVariantBSTR(u.GetAttrValue("nickname")), "42");
  EXPECT_EQ(u.SetAttrValue("nickname", Variant::Null()), 0);
  EXPECT_EQ(u.GetAttrValue("nickname"), nullptr);
}

TEST_F(Values, InPlaceConversionsChangeTheStoredKind) {
  UserLike u;
  u.SetAttrValue("name", Variant("12"));
  EXPECT_EQ(GetVariantInt(u.GetAttrValue("name")), 12);
  EXPECT_EQ(u.GetAttrValue("name")->Type(), kVtInt);
  u.SetAttrValue("loginName", Variant("7"));
  EXPECT_EQ(GetVariantDWORD(u.GetAttrValue("loginName"), 99), 7u);
  EXPECT_EQ(u.GetAttrValue("loginName")->Type(), kVtUint);
  EXPECT_EQ(GetVariantDWORD(nullptr, 99), 99u);
  u.SetAttrValue("name", Variant("abc"));
  try {
    GetVariantInt(u.GetAttrValue("name"));
    FAIL() << "expected ComError";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Error(), kErrTypeMismatch);
  }
}

TEST_F(Values, UnsignedLongLongReadsLeadingDigits) {
  UserLike u;
  u.SetAttrValue("name", Variant("123abc"));
  EXPECT_EQ(GetVariantULL(u.GetAttrValue("name")), 123u);
  u.SetAttrValue("name", Variant("  18446744073709551615"));
  EXPECT_EQ(GetVariantULL(u.GetAttrValue("name")), 18446744073709551615ull);
  u.SetAttrValue("name", Variant("x1"));
  EXPECT_EQ(GetVariantULL(u.GetAttrValue("name")), 0u);
  EXPECT_EQ(GetVariantULL(u.GetAttrValue("loginName")), 0u);
  u.SetAttrValue("name", Variant(std::string(800, '1')));  // longer than the 767-byte read
  EXPECT_EQ(GetVariantULL(u.GetAttrValue("name")), 0u);
}

TEST_F(Values, TextGetterNeverOverrunsAndLeavesEmptyOnFailure) {
  Variant twenty("abcdefghijklmnopqrst");
  struct Case {
    int size;
    int result;
  } cases[] = {{0, 0}, {1, 0}, {10, 0}, {20, 0}, {21, 20}, {100, 20}};
  for (const Case& c : cases) {
    std::vector<char> area(static_cast<size_t>(c.size) + 2, '#');
    char* buffer = area.data() + 1;
    EXPECT_EQ(GetVariantTSTR(&twenty, buffer, c.size), c.result) << c.size;
    EXPECT_EQ(area.front(), '#');
    EXPECT_EQ(area.back(), '#') << "wrote past a buffer of " << c.size;
    if (c.size > 0) {
      EXPECT_EQ(std::string(buffer), c.result ? twenty.Text() : "") << c.size;
    }
  }
  EXPECT_EQ(GetVariantTSTR(&twenty, nullptr, 100), 0);
  char buffer[8] = "junk";
  EXPECT_EQ(GetVariantTSTR(nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  Variant empty("");
  std::strcpy(buffer, "junk");
  EXPECT_EQ(GetVariantTSTR(&empty, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  Variant number(-45);
  EXPECT_EQ(GetVariantTSTR(&number, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "-45");
}

TEST_F(Values, NullPointersGiveTheDocumentedDefaults) {
  EXPECT_EQ(GetVariantInt(nullptr), -1);
  EXPECT_FALSE(GetVariantBool(nullptr));
  EXPECT_DOUBLE_EQ(GetVariantDate(nullptr), -1.0);
  EXPECT_STREQ(GetVariantBSTR(nullptr), "");
  EXPECT_EQ(GetVariantULL(nullptr), 0u);
}

TEST_F(Values, AttrValueToXmlText) {
  EXPECT_STREQ(AttrValueToXmlText(Variant()).Text(), "");
  EXPECT_STREQ(AttrValueToXmlText(Variant::Null()).Text(), "");
  EXPECT_STREQ(AttrValueToXmlText(Variant(true)).Text(), "true");
  EXPECT_STREQ(AttrValueToXmlText(Variant(false)).Text(), "false");
  EXPECT_STREQ(AttrValueToXmlText(Variant::Date(0.0)).Text(), "1899-12-30 00:00:00");
  EXPECT_EQ(AttrValueToXmlText(Variant(5)).Int32(), 5);
  EXPECT_STREQ(AttrValueToXmlText(Variant("x")).Text(), "x");
  OleDateTime parsed;
  EXPECT_EQ(ParseDateTime("2009-3-7 4:05:09", nullptr, &parsed), 1);
  char buffer[32];
  FormatDateTime(parsed.Value(), buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "2009-03-07 04:05:09");
  EXPECT_EQ(ParseDateTime("", nullptr, &parsed), 0);
}

TEST_F(Values, LastErrorWordIsReadOnceAndSafeAcrossThreads) {
  SetLastDrmError(17);
  EXPECT_EQ(GetLastDrmError(), 17u);
  EXPECT_EQ(GetLastDrmError(), 0u);
  // Writers and readers at once: every value read is one that was written.
  std::vector<std::thread> threads;
  std::atomic<bool> bad{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &bad] {
      for (int i = 0; i < 20000; ++i) {
        SetLastDrmError(1000 + t);
        unsigned long v = GetLastDrmError();
        if (v != 0 && (v < 1000 || v > 1003)) bad = true;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(bad);
}

}  // namespace
}  // namespace docsec
