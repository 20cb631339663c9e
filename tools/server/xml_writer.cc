#include "tools/server/xml_writer.h"

#include <algorithm>
#include <charconv>

namespace docsec::server {

namespace {

// For each byte: 0 when it is written as it is, 1 when it is replaced (or dropped).
struct EscapeTable {
  unsigned char special[256] = {};
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) special[c] = 1;
    special[static_cast<unsigned char>('&')] = 1;
    special[static_cast<unsigned char>('<')] = 1;
    special[static_cast<unsigned char>('>')] = 1;
    special[static_cast<unsigned char>('"')] = 1;
  }
};
constexpr EscapeTable kEscape;
// The longest replacement ("&quot;"): the most one byte can become.
constexpr size_t kMaxEscapedByte = 6;

std::string_view Replacement(unsigned char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return std::string_view("", 0);  // not representable in XML 1.0 (never null)
  }
}

// Bytes of `word` (eight of text): non-zero when any of them needs escaping. Each test is exact
// about whether some byte matches, which is all the scan needs.
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t HasZeroByte(uint64_t v) { return (v - kOnes) & ~v & kHighs; }
inline uint64_t HasByte(uint64_t v, unsigned char b) { return HasZeroByte(v ^ (kOnes * b)); }
inline uint64_t NeedsEscape(uint64_t v) {
  return ((v - kOnes * 0x20) & ~v & kHighs) | HasByte(v, '&') | HasByte(v, '<') | HasByte(v, '>') |
         HasByte(v, '"');
}

// Writes `value` escaped at `to`, which has room for the worst case; gives the end. Whole-tree
// answers are tens of megabytes of mostly plain text, so eight bytes are tested at a time and
// plain runs are copied whole.
char* EscapeInto(char* to, std::string_view value) {
  if (value.empty()) return to;  // its data may be null
  const char* data = value.data();
  const size_t size = value.size();
  size_t plain_from = 0;
  size_t i = 0;
  while (i < size) {
    if (i + sizeof(uint64_t) <= size) {
      uint64_t word;
      std::memcpy(&word, data + i, sizeof word);
      if (NeedsEscape(word) == 0) {
        i += sizeof word;
        continue;
      }
    }
    // A word with a special byte, or the tail: byte by byte to the word's end.
    const size_t stop = std::min(size, i + sizeof(uint64_t));
    for (; i < stop; ++i) {
      unsigned char c = static_cast<unsigned char>(data[i]);
      if (!kEscape.special[c]) continue;
      std::memcpy(to, data + plain_from, i - plain_from);
      to += i - plain_from;
      std::string_view replacement = Replacement(c);
      std::memcpy(to, replacement.data(), replacement.size());
      to += replacement.size();
      plain_from = i + 1;
    }
  }
  std::memcpy(to, data + plain_from, size - plain_from);
  return to + (size - plain_from);
}

}  // namespace

void XmlWriter::Expand(size_t bytes) {
  // Doubling keeps the cost of growing proportional to the text.
  Reserve(std::max(capacity_ * 2, size_ + std::max<size_t>(bytes, 256)));
}

void XmlWriter::PutEscaped(std::string_view value) {
  char* start = Grow(value.size() * kMaxEscapedByte);
  size_ += static_cast<size_t>(EscapeInto(start, value) - start);
}

void XmlWriter::EndStartTag() {
  if (in_start_tag_) {
    PutChar('>');
    in_start_tag_ = false;
  }
}

XmlWriter& XmlWriter::Open(std::string_view tag) {
  EndStartTag();
  PutChar('<');
  Put(tag);
  open_.push_back(tag);
  in_start_tag_ = true;
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, std::string_view value) {
  // The whole attribute's worst case at once, so the pieces need no further checks.
  char* to = Grow(name.size() + 4 + value.size() * kMaxEscapedByte);
  char* start = to;
  *to++ = ' ';
  std::memcpy(to, name.data(), name.size());
  to += name.size();
  *to++ = '=';
  *to++ = '"';
  to = EscapeInto(to, value);
  *to++ = '"';
  size_ += static_cast<size_t>(to - start);
  return *this;
}

XmlWriter& XmlWriter::EscapedAttr(std::string_view name, std::string_view escaped) {
  char* to = Grow(name.size() + 4 + escaped.size());
  char* start = to;
  *to++ = ' ';
  std::memcpy(to, name.data(), name.size());
  to += name.size();
  *to++ = '=';
  *to++ = '"';
  std::memcpy(to, escaped.data(), escaped.size());
  to += escaped.size();
  *to++ = '"';
  size_ += static_cast<size_t>(to - start);
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, int64_t value) {
  char digits[24];
  std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  return EscapedAttr(name, std::string_view(digits, static_cast<size_t>(end.ptr - digits)));
}

XmlWriter& XmlWriter::BoolAttr(std::string_view name, bool value) {
  return EscapedAttr(name, value ? std::string_view("true") : std::string_view("false"));
}

std::string XmlWriter::Escaped(std::string_view value) {
  std::string out(value.size() * kMaxEscapedByte, '\0');
  out.resize(static_cast<size_t>(EscapeInto(&out[0], value) - out.data()));
  return out;
}

XmlWriter& XmlWriter::Close() {
  if (open_.empty()) return *this;
  if (in_start_tag_) {
    Put("/>");
    in_start_tag_ = false;
  } else {
    Put("</");
    Put(open_.back());
    PutChar('>');
  }
  open_.pop_back();
  return *this;
}

XmlWriter& XmlWriter::Leave() {
  EndStartTag();
  if (!open_.empty()) open_.pop_back();
  return *this;
}

XmlWriter& XmlWriter::Raw(std::string_view fragment) {
  EndStartTag();
  Put(fragment);
  return *this;
}

void XmlWriter::Reserve(size_t bytes) {
  if (capacity_ >= bytes) return;
  std::unique_ptr<char[]> bigger(new char[bytes]);
  if (size_ > 0) std::memcpy(bigger.get(), buffer_.get(), size_);
  buffer_ = std::move(bigger);
  capacity_ = bytes;
}

void XmlWriter::Clear() {
  size_ = 0;
  open_.clear();
  in_start_tag_ = false;
}

std::string XmlWriter::Finish(std::string_view tail) {
  while (!open_.empty()) Close();
  std::string text;
  text.reserve(size_ + tail.size());
  if (size_ > 0) text.append(buffer_.get(), size_);
  text.append(tail);
  size_ = 0;
  return text;
}

}  // namespace docsec::server
