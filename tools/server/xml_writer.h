// XmlWriter: writes an answer document straight into a string, without building a tree, so a
// department tree of tens of thousands of objects costs one pass. Attribute values are escaped;
// characters XML 1.0 cannot carry (controls other than tab, line feed and carriage return) are
// dropped, and tab, line feed and carriage return are written as references so that parsers keep
// them. The text is kept in a buffer that grows ahead of what is written and is never zero-filled,
// so each piece is one bounds check and one copy: whole-tree answers are tens of megabytes of
// short pieces.
//
// Thread safety: one writer per thread.
#ifndef DOCSEC_TOOLS_SERVER_XML_WRITER_H_
#define DOCSEC_TOOLS_SERVER_XML_WRITER_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace docsec::server {

class XmlWriter {
 public:
  // Starts `<tag`; attributes may follow until the next Open, Close or Raw.
  XmlWriter& Open(std::string_view tag);
  XmlWriter& Attr(std::string_view name, std::string_view value);
  XmlWriter& Attr(std::string_view name, int64_t value);
  // An attribute whose value is already escaped (Escaped), written as it is.
  XmlWriter& EscapedAttr(std::string_view name, std::string_view escaped);
  // "true" or "false".
  XmlWriter& BoolAttr(std::string_view name, bool value);
  // Ends the innermost open element (as `/>` when it got no content).
  XmlWriter& Close();
  // Ends the innermost element's start tag and forgets the element, which stays open in the text
  // for the caller to close where its content ends.
  XmlWriter& Leave();
  // Appends an already written, balanced fragment as content of the open element.
  XmlWriter& Raw(std::string_view fragment);
  // Closes whatever is open and gives the text followed by `tail`, which is written as it is (a
  // copy made once; text() reads the text in place).
  std::string Finish(std::string_view tail = {});
  // Makes room for `bytes` of text in all, so that a large answer is not moved as it grows.
  void Reserve(size_t bytes);
  // Forgets the text and open elements, keeping the buffer for reuse.
  void Clear();
  // The text so far, without closing anything; valid until the next write.
  std::string_view text() const { return std::string_view(buffer_.get(), size_); }
  size_t depth() const { return open_.size(); }

  // `value` as an attribute value is written: for texts written many times, escaped once.
  static std::string Escaped(std::string_view value);

 private:
  void EndStartTag();
  // Room for `bytes` more after the logical end.
  char* Grow(size_t bytes) {
    if (capacity_ - size_ < bytes) Expand(bytes);
    return buffer_.get() + size_;
  }
  void Expand(size_t bytes);
  void Put(std::string_view piece) {
    if (piece.empty()) return;  // its data may be null
    std::memcpy(Grow(piece.size()), piece.data(), piece.size());
    size_ += piece.size();
  }
  void PutChar(char c) {
    *Grow(1) = c;
    ++size_;
  }
  // `value` escaped; the room for its worst case is made first.
  void PutEscaped(std::string_view value);

  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;                     // the text written
  std::vector<std::string_view> open_;  // tags are literals or outlive the writer
  bool in_start_tag_ = false;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_XML_WRITER_H_
