#include "docsec/platform/variant.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(Variant, ConstructorsPickTheStandardKinds) {
  EXPECT_EQ(Variant().Type(), kVtEmpty);
  EXPECT_EQ(Variant(5).Type(), kVtI4);
  EXPECT_EQ(Variant(5L).Type(), kVtI4);
  EXPECT_EQ(Variant(1LL << 40).Type(), kVtI8);
  EXPECT_EQ(Variant(true).Type(), kVtBool);
  EXPECT_EQ(Variant(true).BoolPayload(), -1);
  EXPECT_EQ(Variant(false).BoolPayload(), 0);
  EXPECT_EQ(Variant(2.5).Type(), kVtR8);
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
  } cases[] = {{"12", 12}, {"-7", -7}, {"+3", 3}, {"  42  ", 42}, {"\t0", 0},
               {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}};
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
  // Reals round half to even, as the platform's conversion does.
  EXPECT_EQ(Variant(2.5).ConvertedTo(kVtInt).Int32(), 2);
  EXPECT_EQ(Variant(3.5).ConvertedTo(kVtInt).Int32(), 4);
  EXPECT_EQ(ErrorOf(Variant(1e20), kVtInt), kErrOverflow);
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
