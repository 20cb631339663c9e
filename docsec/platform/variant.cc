#include "docsec/platform/variant.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "docsec/platform/com_error.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/platform/text.h"

namespace docsec {

// ---- storage ----

void Variant::AssignText(const char* text, size_t size) {
  // Callers have released any earlier text, and cut `size` at any NUL byte.
  std::memset(raw_, 0, sizeof raw_);
  if (size <= kInlineCapacity) {
    std::memcpy(raw_ + 3, text, size);
    raw_[2] = kInlineText;
  } else {
    char* block = static_cast<char*>(std::malloc(size + 1));
    if (block == nullptr) throw ComError(kErrOutOfMemory);
    std::memcpy(block, text, size);
    block[size] = '\0';
    Put<char*>(8, block);
    raw_[2] = kHeapText;
  }
  SetType(kVtBstr);
}

void Variant::AssignBorrowedText(const char* text, size_t size) {
  if (size <= kInlineCapacity) {
    ReleaseText();
    AssignText(text, size);
    return;
  }
  ReleaseText();
  std::memset(raw_, 0, sizeof raw_);
  Put<const char*>(8, text);
  raw_[2] = kBorrowedText;
  SetType(kVtBstr);
}

void Variant::CopyFrom(const Variant& other) {
  if (other.Type() == kVtBstr && (other.Mode() == kHeapText || other.Mode() == kBorrowedText)) {
    const char* text = other.Get<char*>(8);
    AssignText(text, std::strlen(text));
  } else {
    std::memcpy(raw_, other.raw_, sizeof raw_);
  }
}

Variant::Variant(const Variant& other) {
  std::memset(raw_, 0, sizeof raw_);
  CopyFrom(other);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void Variant::Clear() noexcept {
  ReleaseText();
  std::memset(raw_, 0, sizeof raw_);
}

Variant Variant::OfKind(uint16_t vt, long long value) noexcept {
  Variant v;
  switch (vt) {
    case kVtI1: v.Put<int32_t>(8, static_cast<int8_t>(value)); break;
    case kVtUi1: v.Put<int32_t>(8, static_cast<uint8_t>(value)); break;
    case kVtI2: v.Put<int32_t>(8, static_cast<int16_t>(value)); break;
    case kVtUi2: v.Put<int32_t>(8, static_cast<uint16_t>(value)); break;
    case kVtI4:
    case kVtInt: v.Put<int32_t>(8, static_cast<int32_t>(value)); break;
    case kVtUi4:
    case kVtUint: v.Put<uint32_t>(8, static_cast<uint32_t>(value)); break;
    case kVtBool: v.Put<int16_t>(8, value ? kVariantTrue : kVariantFalse); break;
    default: v.Put<int64_t>(8, value); break;
  }
  v.SetType(vt);
  return v;
}

Variant::Variant(int value) noexcept : Variant(OfKind(kVtI4, value)) {}
Variant::Variant(long value) noexcept
    : Variant(value >= INT32_MIN && value <= INT32_MAX ? OfKind(kVtI4, value)
                                                       : OfKind(kVtI8, value)) {}
Variant::Variant(long long value) noexcept : Variant(OfKind(kVtI8, value)) {}
Variant::Variant(unsigned value) noexcept : Variant(OfKind(kVtUi4, value)) {}
Variant::Variant(unsigned long value) noexcept
    : Variant(OfKind(kVtUi8, static_cast<long long>(value))) {}
Variant::Variant(unsigned long long value) noexcept
    : Variant(OfKind(kVtUi8, static_cast<long long>(value))) {}
Variant::Variant(bool value) noexcept : Variant(OfKind(kVtBool, value ? 1 : 0)) {}
Variant::Variant(float value) noexcept {
  std::memset(raw_, 0, sizeof raw_);
  Put<float>(8, value);
  SetType(kVtR4);
}
Variant::Variant(double value) noexcept {
  std::memset(raw_, 0, sizeof raw_);
  Put<double>(8, value);
  SetType(kVtR8);
}
Variant::Variant(const char* text) {
  std::memset(raw_, 0, sizeof raw_);
  if (text == nullptr) {
    SetType(kVtBstr);
    raw_[2] = kNullText;
  } else {
    AssignText(text, std::strlen(text));
  }
}
Variant::Variant(const std::string& text) {
  std::memset(raw_, 0, sizeof raw_);
  AssignText(text.data(), std::min(text.size(), std::strlen(text.c_str())));
}
Variant::Variant(const char* text, size_t size) {
  std::memset(raw_, 0, sizeof raw_);
  if (text == nullptr) {
    SetType(kVtBstr);
    raw_[2] = kNullText;
  } else {
    const char* nul = static_cast<const char*>(std::memchr(text, '\0', size));
    AssignText(text, nul != nullptr ? static_cast<size_t>(nul - text) : size);
  }
}

Variant Variant::Date(double ole_date) noexcept {
  Variant v(ole_date);
  v.SetType(kVtDate);
  return v;
}

Variant Variant::Null() noexcept {
  Variant v;
  v.SetType(kVtNull);
  return v;
}

const char* Variant::Text() const noexcept {
  if (Type() != kVtBstr) return "";
  switch (Mode()) {
    case kInlineText: return reinterpret_cast<const char*>(raw_ + 3);
    case kHeapText:
    case kBorrowedText: return Get<char*>(8);
    default: return "";
  }
}

// ---- conversions ----

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads a decimal integer with optional surrounding blanks and sign. Returns false when the text
// is no such number; *overflow is set when it is one but does not fit 64 bits.
bool ParseDecimal(const char* text, long long* value, bool* overflow) {
  *overflow = false;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  unsigned long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (magnitude > (std::numeric_limits<unsigned long long>::max() - digit) / 10) {
      *overflow = true;
      magnitude = std::numeric_limits<unsigned long long>::max();
    } else if (!*overflow) {
      magnitude = magnitude * 10 + digit;
    }
  }
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return false;
  const unsigned long long limit =
      negative ? static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1
               : static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (*overflow || magnitude > limit) {
    *overflow = true;
    return true;
  }
  *value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
  return true;
}

bool ParseReal(const char* text, double* value) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (*p == '\0') return false;
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(p, &end);
  if (end == p) return false;
  while (IsBlank(*end)) ++end;
  if (*end != '\0' || !std::isfinite(d)) return false;
  *value = d;
  return true;
}

// Range of each integer kind.
bool KindRange(uint16_t vt, long long* lo, unsigned long long* hi) {
  switch (vt) {
    case kVtI1:
      *lo = INT8_MIN;
      *hi = INT8_MAX;
      return true;
    case kVtUi1:
      *lo = 0;
      *hi = UINT8_MAX;
      return true;
    case kVtI2:
      *lo = INT16_MIN;
      *hi = INT16_MAX;
      return true;
    case kVtUi2:
      *lo = 0;
      *hi = UINT16_MAX;
      return true;
    case kVtI4:
    case kVtInt:
      *lo = INT32_MIN;
      *hi = INT32_MAX;
      return true;
    case kVtUi4:
    case kVtUint:
      *lo = 0;
      *hi = UINT32_MAX;
      return true;
    case kVtI8:
      *lo = INT64_MIN;
      *hi = INT64_MAX;
      return true;
    case kVtUi8:
      *lo = 0;
      *hi = UINT64_MAX;
      return true;
    default: return false;
  }
}

// A source value reduced to one of three shapes.
struct Number {
  enum Shape { kSigned, kUnsigned, kReal } shape;
  long long s;
  unsigned long long u;
  double r;
};

bool AsNumber(const Variant& v, Number* n) {
  switch (v.Type()) {
    case kVtEmpty: *n = {Number::kSigned, 0, 0, 0}; return true;
    case kVtI1:
    case kVtUi1:
    case kVtI2:
    case kVtUi2:
    case kVtI4:
    case kVtInt: *n = {Number::kSigned, v.Int32(), 0, 0}; return true;
    case kVtUi4:
    case kVtUint: *n = {Number::kSigned, static_cast<long long>(v.UInt32()), 0, 0}; return true;
    case kVtI8: *n = {Number::kSigned, v.Int64(), 0, 0}; return true;
    case kVtUi8:
      *n = {Number::kUnsigned, 0, static_cast<unsigned long long>(v.Int64()), 0};
      return true;
    case kVtBool: *n = {Number::kSigned, v.BoolPayload() ? -1 : 0, 0, 0}; return true;
    case kVtR4: *n = {Number::kReal, 0, 0, v.Float()}; return true;
    case kVtR8:
    case kVtDate: *n = {Number::kReal, 0, 0, v.Double()}; return true;
    default: return false;
  }
}

// Converts a number to an integer kind, rounding reals half to even: no bias over many values, and
// the processor's default rounding, so nearbyint gives it directly.
Variant NumberToInteger(const Number& n, uint16_t vt) {
  long long lo = 0;
  unsigned long long hi = 0;
  if (!KindRange(vt, &lo, &hi)) throw ComError(kErrTypeMismatch);
  if (n.shape == Number::kReal) {
    double r = std::nearbyint(n.r);  // default rounding mode: half to even
    if (!std::isfinite(r) || r < static_cast<double>(lo) || r > static_cast<double>(hi)) {
      throw ComError(kErrOverflow);
    }
    if (r >= 9223372036854775808.0) {
      return Variant::OfKind(vt, static_cast<long long>(static_cast<unsigned long long>(r)));
    }
    return Variant::OfKind(vt, static_cast<long long>(r));
  }
  if (n.shape == Number::kUnsigned) {
    if (n.u > hi) throw ComError(kErrOverflow);
    return Variant::OfKind(vt, static_cast<long long>(n.u));
  }
  if (n.s < lo || (n.s > 0 && static_cast<unsigned long long>(n.s) > hi)) {
    throw ComError(kErrOverflow);
  }
  return Variant::OfKind(vt, n.s);
}

// A real of kind 4, 5 or 7. A value the kind cannot hold raises ComError(kErrOverflow) rather
// than becoming an infinity (4-byte real) or a date outside the years 100 to 9999 that no text
// form shows.
Variant RealToKind(double r, uint16_t vt) {
  constexpr double kFirstDay = -657434.0;  // 1 January 100
  constexpr double kLastDay = 2958465.0;   // 31 December 9999
  if (vt == kVtDate) {
    if (!(r > kFirstDay - 1.0 && r < kLastDay + 1.0)) throw ComError(kErrOverflow);
    return Variant::Date(r);
  }
  if (vt == kVtR8) return Variant(r);
  const float f = static_cast<float>(r);
  if (!std::isfinite(f)) throw ComError(kErrOverflow);
  return Variant(f);
}

std::string NumberText(const Variant& v) {
  char buffer[40];
  switch (v.Type()) {
    case kVtR4: {
      std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(v.Float()));
      return buffer;
    }
    case kVtR8: {
      std::snprintf(buffer, sizeof buffer, "%.15g", v.Double());
      return buffer;
    }
    case kVtDate: {
      OleDateTime::FormatDateTime(v.Double(), buffer, sizeof buffer);
      return buffer;
    }
    default: {
      Number n;
      AsNumber(v, &n);
      auto r = n.shape == Number::kUnsigned ? std::to_chars(buffer, buffer + sizeof buffer, n.u)
                                            : std::to_chars(buffer, buffer + sizeof buffer, n.s);
      return std::string(buffer, r.ptr);
    }
  }
}

Variant TextToKind(const char* text, uint16_t vt) {
  if (vt == kVtBool) {
    const char* p = text;
    while (IsBlank(*p)) ++p;
    const char* end = p + std::strlen(p);
    while (end > p && IsBlank(end[-1])) --end;
    std::string word(p, end);
    if (EqualsIgnoreCase(word.c_str(), "true")) return Variant(true);
    if (EqualsIgnoreCase(word.c_str(), "false")) return Variant(false);
    double r;
    if (ParseReal(text, &r)) return Variant(r != 0.0);
    throw ComError(kErrTypeMismatch);
  }
  if (vt == kVtR8 || vt == kVtR4) {
    double r;
    if (!ParseReal(text, &r)) throw ComError(kErrTypeMismatch);
    return RealToKind(r, vt);
  }
  if (vt == kVtDate) {
    double date;
    if (!OleDateTime::ParseDateTime(text, nullptr, &date)) throw ComError(kErrTypeMismatch);
    return Variant::Date(date);
  }
  long long lo;
  unsigned long long hi;
  if (!KindRange(vt, &lo, &hi)) throw ComError(kErrTypeMismatch);
  long long value = 0;
  bool overflow = false;
  if (!ParseDecimal(text, &value, &overflow)) {
    // Unsigned 64-bit values above the signed range still parse for kind 21.
    throw ComError(kErrTypeMismatch);
  }
  if (overflow) {
    if (vt == kVtUi8) {
      const char* p = text;
      while (IsBlank(*p)) ++p;
      if (*p == '+') ++p;
      errno = 0;
      char* end = nullptr;
      unsigned long long u = std::strtoull(p, &end, 10);
      if (*p != '-' && errno == 0) return Variant::OfKind(kVtUi8, static_cast<long long>(u));
    }
    throw ComError(kErrOverflow);
  }
  return NumberToInteger(Number{Number::kSigned, value, 0, 0}, vt);
}

}  // namespace

Variant Variant::FromText(const char* text, uint16_t vt) {
  if (text == nullptr) return Variant(text).ConvertedTo(vt);
  if (vt == kVtBstr) return Variant(text);
  if (vt == kVtEmpty) return Variant();
  if (vt == kVtNull) return Null();
  return TextToKind(text, vt);
}

Variant Variant::ConvertedTo(uint16_t vt) const {
  const uint16_t from = Type();
  if (from == vt) return *this;
  if (vt == kVtEmpty) return Variant();
  if (vt == kVtNull) return Null();
  if (from == kVtNull) throw ComError(kErrTypeMismatch);

  if (vt == kVtBstr) {
    if (from == kVtEmpty) return Variant("");
    Number n;
    if (!AsNumber(*this, &n)) throw ComError(kErrTypeMismatch);
    return Variant(NumberText(*this));
  }
  if (from == kVtBstr) return TextToKind(Text(), vt);

  Number n;
  if (!AsNumber(*this, &n)) throw ComError(kErrTypeMismatch);
  switch (vt) {
    case kVtBool: {
      bool truth = n.shape == Number::kReal ? n.r != 0.0 : (n.s != 0 || n.u != 0);
      return Variant(truth);
    }
    case kVtR8:
    case kVtR4:
    case kVtDate: {
      double r = n.shape == Number::kReal     ? n.r
                 : n.shape == Number::kSigned ? static_cast<double>(n.s)
                                              : static_cast<double>(n.u);
      return RealToKind(r, vt);
    }
    default: {
      long long lo;
      unsigned long long hi;
      if (!KindRange(vt, &lo, &hi)) throw ComError(kErrTypeMismatch);
      return NumberToInteger(n, vt);
    }
  }
}

void Variant::ChangeType(uint16_t vt) {
  if (Type() == vt) return;
  *this = ConvertedTo(vt);
}

std::string Variant::ToText() const {
  if (Type() == kVtBstr) return Text();
  Variant text = ConvertedTo(kVtBstr);
  return text.Text();
}

}  // namespace docsec
