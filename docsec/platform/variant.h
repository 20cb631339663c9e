// Variant: the tagged value every data-object attribute is stored as.
//
// The kind codes are numbers of the API (GetAttrType reports them, classes declare attribute types
// with them), so they never change: 8 text, 22 integer, 11 boolean (true stored as -1), 7 date (an
// OLE date: days since 30 December 1899, local time), with 2, 3, 16-21 and 23 as intermediate
// integer kinds and 4 and 5 as 4- and 8-byte reals.
//
// A Variant is 16 bytes. Text is UTF-8 and never contains a NUL byte; texts of up to 12 bytes are
// held inline, longer ones in one heap block of their exact size, or borrowed from an owner that
// outlives the variant (AssignBorrowedText). A text variant may carry a null
// payload (made from a null char pointer); it reads as the empty text.
//
// Conversions (ChangeType): decimal text with optional sign and surrounding blanks to integers;
// "true"/"false" in any letter case and numbers to boolean; integers, booleans ("-1"/"0") and dates
// ("yyyy-MM-dd HH:mm:ss") to text; reals to text with 15 significant digits (8-byte) or 7 (4-byte),
// enough to show what the kind holds without its binary noise. A number too large for a 4-byte
// real, or outside the dates of the years 100 to 9999, is an overflow, like an integer that does
// not fit its kind. A failed conversion raises ComError(kErrTypeMismatch), a number out of range
// ComError(kErrOverflow); the variant is unchanged then.
//
// Not synchronised: a Variant is used by one thread at a time.
#ifndef DOCSEC_PLATFORM_VARIANT_H_
#define DOCSEC_PLATFORM_VARIANT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

// Variant type codes.
constexpr uint16_t kVtEmpty = 0;
constexpr uint16_t kVtNull = 1;
constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtR4 = 4;
constexpr uint16_t kVtR8 = 5;
constexpr uint16_t kVtDate = 7;
constexpr uint16_t kVtBstr = 8;
constexpr uint16_t kVtBool = 11;
constexpr uint16_t kVtI1 = 16;
constexpr uint16_t kVtUi1 = 17;
constexpr uint16_t kVtUi2 = 18;
constexpr uint16_t kVtUi4 = 19;
constexpr uint16_t kVtI8 = 20;
constexpr uint16_t kVtUi8 = 21;
constexpr uint16_t kVtInt = 22;
constexpr uint16_t kVtUint = 23;

// The boolean payloads.
constexpr int16_t kVariantTrue = -1;
constexpr int16_t kVariantFalse = 0;

// True for the kinds compared as 32-bit integers: 2, 3, 16 to 19, 22, 23.
constexpr bool IsIntegerKind(uint16_t vt) {
  return vt == kVtI2 || vt == kVtI4 || (vt >= kVtI1 && vt <= kVtUi4) || vt == kVtInt ||
         vt == kVtUint;
}

class DOCSEC_EXPORT Variant {
 public:
  // Texts of up to this many bytes are held inside the variant.
  static constexpr size_t kMaxInlineText = 12;

  Variant() noexcept { std::memset(raw_, 0, sizeof raw_); }
  Variant(const Variant& other);
  // Moves are inline: loading stores every value by moving it into its slot.
  Variant(Variant&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    std::memset(other.raw_, 0, sizeof other.raw_);
  }
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      ReleaseText();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      std::memset(other.raw_, 0, sizeof other.raw_);
    }
    return *this;
  }
  ~Variant() { ReleaseText(); }

  Variant(int value) noexcept;                 // kind 3
  Variant(long value) noexcept;                // kind 3 when it fits 32 bits, else 20
  Variant(long long value) noexcept;           // kind 20
  Variant(unsigned value) noexcept;            // kind 19
  Variant(unsigned long value) noexcept;       // kind 21
  Variant(unsigned long long value) noexcept;  // kind 21
  Variant(bool value) noexcept;                // kind 11
  Variant(float value) noexcept;               // kind 4
  Variant(double value) noexcept;              // kind 5
  Variant(const char* text);                   // kind 8; nullptr gives a null payload
  Variant(const std::string& text);            // kind 8
  Variant(const char* text, size_t size);      // kind 8; stops at an embedded NUL

  static Variant Date(double ole_date) noexcept;  // kind 7
  static Variant Null() noexcept;                 // kind 1
  // An integer of the given integer kind; `value` is taken modulo the kind's width.
  static Variant OfKind(uint16_t vt, long long value) noexcept;

  uint16_t Type() const noexcept { return Get<uint16_t>(0); }
  bool IsEmpty() const noexcept { return Type() == kVtEmpty; }
  bool IsNull() const noexcept { return Type() == kVtNull; }

  // Payloads, read without conversion (the caller knows the kind).
  int32_t Int32() const noexcept { return Get<int32_t>(8); }
  uint32_t UInt32() const noexcept { return Get<uint32_t>(8); }
  int64_t Int64() const noexcept { return Get<int64_t>(8); }
  int16_t BoolPayload() const noexcept { return Get<int16_t>(8); }
  double Double() const noexcept { return Get<double>(8); }
  float Float() const noexcept { return Get<float>(8); }
  // The text payload of a kind-8 variant: never null ("" for a null payload or another kind).
  const char* Text() const noexcept;
  size_t TextSize() const noexcept { return std::strlen(Text()); }
  bool TextIsNull() const noexcept { return Type() == kVtBstr && Mode() == kNullText; }

  // Converts in place to kind `vt`; raises ComError on failure and leaves the value unchanged.
  void ChangeType(uint16_t vt);
  // Text converted to kind `vt`, as Variant(text).ConvertedTo(vt) without the intermediate
  // copy of the text; raises ComError on failure.
  static Variant FromText(const char* text, uint16_t vt);
  // A converted copy; raises ComError on failure.
  Variant ConvertedTo(uint16_t vt) const;
  // Resets to the empty kind.
  void Clear() noexcept;
  // Makes this a text variant reading `size` bytes at `text` (NUL-terminated there) without
  // copying them when they do not fit inline. The caller keeps them alive and unchanged for as
  // long as this variant, or one moved from it, lives; copies are independent. For objects
  // loaded from an answer, whose texts live in the answer's arena (data_object.h).
  void AssignBorrowedText(const char* text, size_t size);

  // The value as text by the conversion rules (raises for a null variant).
  std::string ToText() const;

 private:
  static constexpr uint8_t kInlineText = 0;
  static constexpr uint8_t kHeapText = 1;
  static constexpr uint8_t kNullText = 2;
  static constexpr uint8_t kBorrowedText = 3;                // pointer at [8,16), owned elsewhere
  static constexpr size_t kInlineCapacity = kMaxInlineText;  // NUL excluded

  template <class T>
  T Get(size_t offset) const noexcept {
    T value;
    std::memcpy(&value, raw_ + offset, sizeof value);
    return value;
  }
  template <class T>
  void Put(size_t offset, T value) noexcept {
    std::memcpy(raw_ + offset, &value, sizeof value);
  }
  uint8_t Mode() const noexcept { return raw_[2]; }
  void SetType(uint16_t vt) noexcept { Put<uint16_t>(0, vt); }
  void AssignText(const char* text, size_t size);
  void ReleaseText() noexcept {
    if (Type() == kVtBstr && Mode() == kHeapText) std::free(Get<char*>(8));
  }
  void CopyFrom(const Variant& other);

  // [0,2) kind; text: [2] storage mode, inline bytes at [3,16), heap pointer at [8,16);
  // other kinds: payload at [8,16).
  alignas(8) unsigned char raw_[16];
};

static_assert(sizeof(Variant) == 16, "Variant must stay compact: objects hold one per attribute");

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_VARIANT_H_
