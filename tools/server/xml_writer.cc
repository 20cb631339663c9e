#include "tools/server/xml_writer.h"

namespace docsec::server {

void XmlWriter::AppendEscaped(std::string* out, std::string_view value) {
  size_t plain_from = 0;
  auto flush = [&](size_t to) { out->append(value.data() + plain_from, to - plain_from); };
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    const char* replacement;
    switch (c) {
      case '&': replacement = "&amp;"; break;
      case '<': replacement = "&lt;"; break;
      case '>': replacement = "&gt;"; break;
      case '"': replacement = "&quot;"; break;
      case '\t': replacement = "&#9;"; break;
      case '\n': replacement = "&#10;"; break;
      case '\r': replacement = "&#13;"; break;
      default:
        if (c >= 0x20) continue;
        replacement = "";  // not representable in XML 1.0
    }
    flush(i);
    out->append(replacement);
    plain_from = i + 1;
  }
  flush(value.size());
}

void XmlWriter::EndStartTag() {
  if (in_start_tag_) {
    out_.push_back('>');
    in_start_tag_ = false;
  }
}

XmlWriter& XmlWriter::Open(std::string_view tag) {
  EndStartTag();
  out_.push_back('<');
  out_.append(tag);
  open_.push_back(tag);
  in_start_tag_ = true;
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, std::string_view value) {
  out_.push_back(' ');
  out_.append(name);
  out_.append("=\"");
  AppendEscaped(&out_, value);
  out_.push_back('"');
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, int64_t value) {
  return Attr(name, std::string_view(std::to_string(value)));
}

XmlWriter& XmlWriter::BoolAttr(std::string_view name, bool value) {
  return Attr(name, value ? std::string_view("true") : std::string_view("false"));
}

XmlWriter& XmlWriter::Close() {
  if (open_.empty()) return *this;
  if (in_start_tag_) {
    out_.append("/>");
    in_start_tag_ = false;
  } else {
    out_.append("</");
    out_.append(open_.back());
    out_.push_back('>');
  }
  open_.pop_back();
  return *this;
}

XmlWriter& XmlWriter::Raw(std::string_view fragment) {
  EndStartTag();
  out_.append(fragment);
  return *this;
}

void XmlWriter::Clear() {
  out_.clear();
  open_.clear();
  in_start_tag_ = false;
}

std::string XmlWriter::Finish() {
  while (!open_.empty()) Close();
  return std::move(out_);
}

}  // namespace docsec::server
