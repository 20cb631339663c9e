// XmlWriter: writes an answer document straight into a string, without building a tree, so a
// department tree of tens of thousands of objects costs one pass. Attribute values are escaped;
// characters XML 1.0 cannot carry (controls other than tab, line feed and carriage return) are
// dropped, and tab, line feed and carriage return are written as references so that parsers keep
// them.
//
// Thread safety: one writer per thread.
#ifndef DOCSEC_TOOLS_SERVER_XML_WRITER_H_
#define DOCSEC_TOOLS_SERVER_XML_WRITER_H_

#include <cstdint>
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
  // "true" or "false".
  XmlWriter& BoolAttr(std::string_view name, bool value);
  // Ends the innermost open element (as `/>` when it got no content).
  XmlWriter& Close();
  // Appends an already written, balanced fragment as content of the open element.
  XmlWriter& Raw(std::string_view fragment);
  // Closes whatever is open and gives the text.
  std::string Finish();
  // Forgets the text and open elements, keeping the buffer for reuse.
  void Clear();
  // The text so far, without closing anything.
  const std::string& text() const { return out_; }
  size_t depth() const { return open_.size(); }

  static void AppendEscaped(std::string* out, std::string_view value);

 private:
  void EndStartTag();

  std::string out_;
  std::vector<std::string_view> open_;  // tags are literals or outlive the writer
  bool in_start_tag_ = false;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_XML_WRITER_H_
