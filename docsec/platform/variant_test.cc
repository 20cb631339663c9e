#include "docsec/platform/variant.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "docsec/platform/com_error.h"

namespace docsec {
namespace {

uint32_t ErrorOf(const Variant& v, uint16_t vt) {
  try {
    v.ConvertedTo(vt);
  } catch (const ComError& e) {
    return e.Error();
  }
  return 0;
}

// The kind and payload of `v`, read without any conversion: "empty", "null", "true"/"false",
// 'text', a number, a date as "d" and its day number; a payload that no constructor makes shows
// as "bad".
std::string Describe(const Variant& v) {
  char buffer[64];
  auto shortest = [&](auto value) {
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  };
  switch (v.Type()) {
    case kVtEmpty: return "empty";
    case kVtNull: return "null";
    case kVtBool: return v.BoolPayload() == -1 ? "true" : v.BoolPayload() == 0 ? "false" : "bad";
    case kVtBstr: return "'" + std::string(v.Text()) + "'";
    case kVtR4: return shortest(v.Float());
    case kVtR8: return shortest(v.Double());
    case kVtDate: return "d" + shortest(v.Double());
    case kVtUi4:
    case kVtUint: return std::to_string(v.UInt32());
    case kVtI8: return std::to_string(v.Int64());
    case kVtUi8: return std::to_string(static_cast<uint64_t>(v.Int64()));
    default: return std::to_string(v.Int32());
  }
}

TEST(Variant, ConstructorsPickTheStandardKinds) {
  EXPECT_EQ(Variant().Type(), kVtEmpty);
  EXPECT_EQ(Variant(5).Type(), kVtI4);
  EXPECT_EQ(Variant(5L).Type(), kVtI4);
  EXPECT_EQ(Variant(1LL << 40).Type(), kVtI8);
  EXPECT_EQ(Variant(true).Type(), kVtBool);
  EXPECT_EQ(Variant(true).BoolPayload(), -1);
  EXPECT_EQ(Variant(false).BoolPayload(), 0);
  EXPECT_EQ(Variant(2.5).Type(), kVtR8);
  EXPECT_EQ(Variant(2.5f).Type(), kVtR4);
  EXPECT_EQ(Variant("x").Type(), kVtBstr);
  EXPECT_EQ(Variant::Date(1.5).Type(), kVtDate);
  EXPECT_EQ(Variant::Null().Type(), kVtNull);
}

TEST(Variant, TextIsCopiedInlineOrOnTheHeapAndSurvivesCopiesAndMoves) {
  for (const std::string& text : {std::string(""), std::string("short"), std::string(12, 'a'),
                                  std::string(13, 'b'), std::string(100000, 'c')}) {
    Variant a(text);
    Variant b(a);
    Variant c(std::move(a));
    Variant d;
    d = b;
    d = d;  // self-assignment keeps the text
    EXPECT_EQ(b.Text(), text);
    EXPECT_EQ(c.Text(), text);
    EXPECT_EQ(d.Text(), text);
    EXPECT_EQ(d.TextSize(), text.size());
  }
}

TEST(Variant, NullTextPayloadReadsAsEmpty) {
  Variant v(static_cast<const char*>(nullptr));
  EXPECT_EQ(v.Type(), kVtBstr);
  EXPECT_TRUE(v.TextIsNull());
  EXPECT_STREQ(v.Text(), "");
  EXPECT_STREQ(Variant(5).Text(), "");  // no payload of another kind is read as text
}

TEST(Variant, DecimalTextToInteger) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"12", 12},
               {"-7", -7},
               {"+3", 3},
               {"  42  ", 42},
               {"\t0", 0},
               {"2147483647", 2147483647},
               {"-2147483648", INT32_MIN}};
  for (const Case& c : cases) {
    EXPECT_EQ(Variant(c.text).ConvertedTo(kVtInt).Int32(), c.value) << c.text;
  }
}

TEST(Variant, BadTextRaisesTypeMismatchAndOverflowRaisesOverflow) {
  for (const char* text : {"abc", "", "  ", "12abc", "1 2", "-", "0x10", "1.5e"}) {
    EXPECT_EQ(ErrorOf(Variant(text), kVtInt), kErrTypeMismatch) << text;
  }
  for (const char* text : {"2147483648", "-2147483649", "99999999999", "99999999999999999999999"}) {
    EXPECT_EQ(ErrorOf(Variant(text), kVtInt), kErrOverflow) << text;
  }
  EXPECT_EQ(ErrorOf(Variant("-1"), kVtUi4), kErrOverflow);
  EXPECT_EQ(Variant("4294967295").ConvertedTo(kVtUi4).UInt32(), 4294967295u);
  EXPECT_EQ(ErrorOf(Variant::Null(), kVtInt), kErrTypeMismatch);
  EXPECT_EQ(ErrorOf(Variant::Null(), kVtBstr), kErrTypeMismatch);
}

TEST(Variant, FailedChangeTypeLeavesTheValueAsItWas) {
  Variant v("abc");
  EXPECT_THROW(v.ChangeType(kVtInt), ComError);
  EXPECT_EQ(v.Type(), kVtBstr);
  EXPECT_STREQ(v.Text(), "abc");
}

TEST(Variant, BooleanConversions) {
  for (const char* t : {"true", "TRUE", "True", " tRuE ", "1", "-1", "2.5"}) {
    EXPECT_EQ(Variant(t).ConvertedTo(kVtBool).BoolPayload(), -1) << t;
  }
  for (const char* t : {"false", "FALSE", "0", " 0.0 "}) {
    EXPECT_EQ(Variant(t).ConvertedTo(kVtBool).BoolPayload(), 0) << t;
  }
  EXPECT_EQ(ErrorOf(Variant("yes"), kVtBool), kErrTypeMismatch);
  EXPECT_EQ(Variant(7).ConvertedTo(kVtBool).BoolPayload(), -1);
  EXPECT_EQ(Variant(0).ConvertedTo(kVtBool).BoolPayload(), 0);
  EXPECT_EQ(Variant(true).ConvertedTo(kVtInt).Int32(), -1);
}

TEST(Variant, ValuesToText) {
  EXPECT_EQ(Variant(-12).ToText(), "-12");
  EXPECT_EQ(Variant(4000000000u).ToText(), "4000000000");
  EXPECT_EQ(Variant(true).ToText(), "-1");
  EXPECT_EQ(Variant(false).ToText(), "0");
  EXPECT_EQ(Variant::Date(39879.586909722).ToText(), "2009-03-07 14:05:09");
  EXPECT_EQ(Variant().ToText(), "");
}

TEST(Variant, IntegerKindsAreRangeChecked) {
  EXPECT_EQ(Variant(300).ConvertedTo(kVtI2).Int32(), 300);
  EXPECT_EQ(ErrorOf(Variant(40000), kVtI2), kErrOverflow);
  EXPECT_EQ(ErrorOf(Variant(-1), kVtUint), kErrOverflow);
  EXPECT_EQ(ErrorOf(Variant(1LL << 40), kVtInt), kErrOverflow);
  // Reals round half to even.
  EXPECT_EQ(Variant(2.5).ConvertedTo(kVtInt).Int32(), 2);
  EXPECT_EQ(Variant(3.5).ConvertedTo(kVtInt).Int32(), 4);
  EXPECT_EQ(ErrorOf(Variant(1e20), kVtInt), kErrOverflow);
}

// Every kind converted to every kind. A cell gives the result as Describe shows it (its kind is
// the column's), or the error: "!ovf" for ComError(kErrOverflow), "!type" for
// ComError(kErrTypeMismatch), after which the value must be unchanged.
TEST(Variant, ConversionTable) {
  const uint16_t kTargets[] = {kVtEmpty, kVtNull, kVtI2,   kVtI4,  kVtR4,  kVtR8,
                               kVtDate,  kVtBstr, kVtBool, kVtI1,  kVtUi1, kVtUi2,
                               kVtUi4,   kVtI8,   kVtUi8,  kVtInt, kVtUint};
  struct Row {
    Variant source;
    std::vector<const char*> cells;
  };
  const std::string kDate = "'2009-03-07 12:00:00'";
  // clang-format off
  const Row rows[] = {
    //                                 0        1       2       3       4       5       7       8        11       16      17      18      19      20      21      22      23
    {Variant(),                      {"empty", "null", "0",    "0",    "0",    "0",    "d0",   "''",    "false", "0",    "0",    "0",    "0",    "0",    "0",    "0",    "0"}},
    {Variant::Null(),                {"empty", "null", "!type","!type","!type","!type","!type","!type", "!type", "!type","!type","!type","!type","!type","!type","!type","!type"}},
    {Variant::OfKind(kVtI2, -300),   {"empty", "null", "-300", "-300", "-300", "-300", "d-300","'-300'","true",  "!ovf", "!ovf", "!ovf", "!ovf", "-300", "!ovf", "-300", "!ovf"}},
    {Variant(70000),                 {"empty", "null", "!ovf", "70000","70000","70000","d70000","'70000'","true","!ovf", "!ovf", "!ovf", "70000","70000","70000","70000","70000"}},
    // A 4-byte real shows 7 digits as text and widens exactly; reals round half to even.
    {Variant(0.1f),                  {"empty", "null", "0",    "0",    "0.1",  "0.10000000149011612", "d0.10000000149011612", "'0.1'", "true", "0", "0", "0", "0", "0", "0", "0", "0"}},
    {Variant(-2.5f),                 {"empty", "null", "-2",   "-2",   "-2.5", "-2.5", "d-2.5","'-2.5'","true",  "-2",   "!ovf", "!ovf", "!ovf", "-2",   "!ovf", "-2",   "!ovf"}},
    {Variant(2.5),                   {"empty", "null", "2",    "2",    "2.5",  "2.5",  "d2.5", "'2.5'", "true",  "2",    "2",    "2",    "2",    "2",    "2",    "2",    "2"}},
    {Variant(1e300),                 {"empty", "null", "!ovf", "!ovf", "!ovf", "1e+300","!ovf","'1e+300'","true","!ovf", "!ovf", "!ovf", "!ovf", "!ovf", "!ovf", "!ovf", "!ovf"}},
    {Variant::Date(39879.5),         {"empty", "null", "!ovf", "39880","39879.5","39879.5","d39879.5", kDate.c_str(), "true", "!ovf", "!ovf", "39880", "39880", "39880", "39880", "39880", "39880"}},
    {Variant("12"),                  {"empty", "null", "12",   "12",   "12",   "12",   "!type","'12'",  "true",  "12",   "12",   "12",   "12",   "12",   "12",   "12",   "12"}},
    {Variant(" -3.5 "),              {"empty", "null", "!type","!type","-3.5", "-3.5", "!type","' -3.5 '","true","!type","!type","!type","!type","!type","!type","!type","!type"}},
    {Variant("1e39"),                {"empty", "null", "!type","!type","!ovf", "1e+39","!type","'1e39'","true",  "!type","!type","!type","!type","!type","!type","!type","!type"}},
    {Variant("2009-03-07 12:00:00"), {"empty", "null", "!type","!type","!type","!type","d39879.5", kDate.c_str(), "!type", "!type", "!type", "!type", "!type", "!type", "!type", "!type", "!type"}},
    {Variant("abc"),                 {"empty", "null", "!type","!type","!type","!type","!type","'abc'", "!type", "!type","!type","!type","!type","!type","!type","!type","!type"}},
    {Variant(true),                  {"empty", "null", "-1",   "-1",   "-1",   "-1",   "d-1",  "'-1'",  "true",  "-1",   "!ovf", "!ovf", "!ovf", "-1",   "!ovf", "-1",   "!ovf"}},
    {Variant::OfKind(kVtI1, -5),     {"empty", "null", "-5",   "-5",   "-5",   "-5",   "d-5",  "'-5'",  "true",  "-5",   "!ovf", "!ovf", "!ovf", "-5",   "!ovf", "-5",   "!ovf"}},
    {Variant::OfKind(kVtUi1, 200),   {"empty", "null", "200",  "200",  "200",  "200",  "d200", "'200'", "true",  "!ovf", "200",  "200",  "200",  "200",  "200",  "200",  "200"}},
    {Variant::OfKind(kVtUi2, 60000), {"empty", "null", "!ovf", "60000","60000","60000","d60000","'60000'","true","!ovf", "!ovf", "60000","60000","60000","60000","60000","60000"}},
    {Variant(4000000000u),           {"empty", "null", "!ovf", "!ovf", "4e+09","4e+09","!ovf", "'4000000000'", "true", "!ovf", "!ovf", "!ovf", "4000000000", "4000000000", "4000000000", "!ovf", "4000000000"}},
    {Variant(1LL << 40),             {"empty", "null", "!ovf", "!ovf", "1099511627776", "1099511627776", "!ovf", "'1099511627776'", "true", "!ovf", "!ovf", "!ovf", "!ovf", "1099511627776", "1099511627776", "!ovf", "!ovf"}},
    {Variant(18446744073709551615ull), {"empty", "null", "!ovf", "!ovf", "1.8446744e+19", "18446744073709551616", "!ovf", "'18446744073709551615'", "true", "!ovf", "!ovf", "!ovf", "!ovf", "!ovf", "18446744073709551615", "!ovf", "!ovf"}},
    {Variant::OfKind(kVtInt, -7),    {"empty", "null", "-7",   "-7",   "-7",   "-7",   "d-7",  "'-7'",  "true",  "-7",   "!ovf", "!ovf", "!ovf", "-7",   "!ovf", "-7",   "!ovf"}},
    {Variant::OfKind(kVtUint, 7),    {"empty", "null", "7",    "7",    "7",    "7",    "d7",   "'7'",   "true",  "7",    "7",    "7",    "7",    "7",    "7",    "7",    "7"}},
  };
  // clang-format on
  for (const Row& row : rows) {
    ASSERT_EQ(row.cells.size(), std::size(kTargets)) << Describe(row.source);
    for (size_t i = 0; i < row.cells.size(); ++i) {
      const uint16_t target = kTargets[i];
      const std::string cell = row.cells[i];
      const std::string where = Describe(row.source) + " (kind " +
                                std::to_string(row.source.Type()) + ") to kind " +
                                std::to_string(target);
      Variant v(row.source);
      std::string got;
      try {
        v.ChangeType(target);
        got = Describe(v);
        EXPECT_EQ(v.Type(), target) << where;
      } catch (const ComError& e) {
        got = e.Error() == kErrOverflow       ? "!ovf"
              : e.Error() == kErrTypeMismatch ? "!type"
                                              : "!other";
        EXPECT_EQ(v.Type(), row.source.Type()) << where;
        EXPECT_EQ(Describe(v), Describe(row.source)) << where;
      }
      EXPECT_EQ(got, cell) << where;
      if (row.source.Type() == kVtBstr && cell[0] != '!') {
        EXPECT_EQ(Describe(Variant::FromText(row.source.Text(), target)), cell) << where;
      }
    }
  }
}

}  // namespace
}  // namespace docsec

namespace docsec {
namespace {

TEST(Variant, BorrowedTextIsReadInPlaceAndCopiedIntoOwnStorage) {
  std::string owner(20, 'b');
  Variant borrowed;
  borrowed.AssignBorrowedText(owner.c_str(), owner.size());
  EXPECT_EQ(borrowed.Text(), owner.c_str());  // no copy
  Variant copy(borrowed);
  Variant assigned;
  assigned = borrowed;
  owner.assign(20, 'x');  // the owner changes (or goes); copies do not follow
  EXPECT_EQ(std::string(copy.Text()), std::string(20, 'b'));
  EXPECT_EQ(std::string(assigned.Text()), std::string(20, 'b'));
  Variant short_text;
  short_text.AssignBorrowedText(owner.c_str(), 3);  // fits inline: copied at once
  owner.assign(20, 'y');
  EXPECT_STREQ(short_text.Text(), "xxx");
  borrowed.Clear();  // frees nothing
}

}  // namespace
}  // namespace docsec
