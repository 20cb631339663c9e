#include "docsec/platform/uuid.h"

#include <cstring>

#include "docsec/platform/crypto.h"

namespace docsec {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr size_t kTextSize = 36;

bool IsDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

bool Uuid::Generate(Uuid* out) {
  Uuid value;
  if (!RandomBytes(value.bytes, sizeof value.bytes)) return false;
  value.bytes[6] = static_cast<uint8_t>((value.bytes[6] & 0x0F) | 0x40);  // version 4
  value.bytes[8] = static_cast<uint8_t>((value.bytes[8] & 0x3F) | 0x80);  // variant 1
  *out = value;
  return true;
}

bool Uuid::Parse(const char* text, Uuid* out) {
  if (text == nullptr) return false;
  Uuid value;
  size_t byte = 0;
  for (size_t i = 0; i < kTextSize; ++i) {
    char c = text[i];
    if (c == '\0') return false;
    if (IsDashPosition(i)) {
      if (c != '-') return false;
      continue;
    }
    int high = HexValue(c);
    int low = HexValue(text[i + 1]);  // text[i + 1] exists: text[i] was not the terminator
    if (high < 0 || low < 0) return false;
    value.bytes[byte++] = static_cast<uint8_t>(high << 4 | low);
    ++i;
  }
  if (text[kTextSize] != '\0') return false;
  *out = value;
  return true;
}

std::string Uuid::ToString() const {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(kTextSize);
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool Uuid::IsNil() const {
  for (uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

bool operator==(const Uuid& a, const Uuid& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

bool operator<(const Uuid& a, const Uuid& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) < 0;
}

}  // namespace docsec
