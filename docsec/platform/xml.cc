#include "docsec/platform/xml.h"

#include <cstring>
#include <new>
#include <pugixml.hpp>

#include "docsec/platform/com_error.h"
#include "docsec/platform/secure_memory.h"
#include "docsec/platform/thread_slot.h"

namespace docsec {

struct XmlDocState {
  pugi::xml_document doc;
  // The text a document was parsed from in place; the nodes point into it.
  std::string source;
};

namespace {

pugi::xml_node Node(void* node) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}
pugi::xml_attribute Attr(void* attr) {
  return pugi::xml_attribute(static_cast<pugi::xml_attribute_struct*>(attr));
}

// Collects the element nodes of an XPath result. A malformed path is the caller's error and raises
// ComError(kErrFail), so that it cannot pass for a path that matches nothing.
std::vector<void*> SelectElements(const pugi::xml_node& context, const char* path) {
  std::vector<void*> out;
  if (path == nullptr) throw ComError(kErrPointer);
  try {
    pugi::xpath_node_set set = context.select_nodes(path);
    set.sort();
    out.reserve(set.size());
    for (const pugi::xpath_node& n : set) {
      if (n.node() && n.node().type() == pugi::node_element) {
        out.push_back(n.node().internal_object());
      }
    }
  } catch (const pugi::xpath_exception&) {
    throw ComError(kErrFail);
  } catch (const std::bad_alloc&) {
    throw ComError(kErrOutOfMemory);
  }
  return out;
}

bool NameMatches(const pugi::xml_node& node, const char* tag) {
  if (tag == nullptr) return node.type() == pugi::node_element;
  // Sibling elements of different kinds mostly differ in their first letter already; text nodes
  // have an empty name. The kind is checked only for a matching name (a processing instruction
  // may carry one).
  const char* name = node.name();
  return name[0] == tag[0] && std::strcmp(name, tag) == 0 && node.type() == pugi::node_element;
}

constexpr unsigned kSaveFlags = pugi::format_raw | pugi::format_no_declaration;

// True when the text holds a NUL character, raw or as a character reference ("&#0;", "&#x00;",
// and numbers that wrap to 0 in 32 bits, as the parser computes them). NUL is no XML character,
// and text handed on as C strings would be cut at it: "a.txt&#0;.doc" would name "a.txt".
bool HoldsNulCharacter(const char* text, size_t size) {
  if (size == 0) return false;
  if (std::memchr(text, '\0', size) != nullptr) return true;
  const char* end = text + size;
  for (const char* p = text; (p = static_cast<const char*>(std::memchr(p, '&', end - p)));) {
    ++p;
    if (p == end || *p != '#') continue;
    ++p;
    bool hex = p < end && *p == 'x';
    if (hex) ++p;
    uint32_t value = 0;
    const char* digits = p;
    for (; p < end; ++p) {
      unsigned digit;
      if (*p >= '0' && *p <= '9') {
        digit = static_cast<unsigned>(*p - '0');
      } else if (hex && (*p | ' ') >= 'a' && (*p | ' ') <= 'f') {
        digit = static_cast<unsigned>((*p | ' ') - 'a' + 10);
      } else {
        break;
      }
      value = value * (hex ? 16u : 10u) + digit;
    }
    if (p > digits && p < end && *p == ';' && value == 0) return true;
  }
  return false;
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

// Renders `node` into a string of exactly the right capacity. The text is first written into a
// per-thread scratch buffer that keeps its capacity between calls, then copied once: growing a
// megabyte-sized string by doubling would copy it several times and touch memory that is never
// reused. A scratch buffer grown past kKeepScratch is released again after use.
// RenderInto copies into a caller's string instead, whose capacity a caller that renders often
// keeps.
template <class Node>
void RenderInto(const Node& node, std::string* text) {
  constexpr size_t kKeepScratch = 8 << 20;
  StringWriter& scratch = PerThread<StringWriter>();
  scratch.out.clear();
  node.print(scratch, "", kSaveFlags, pugi::encoding_utf8);
  text->assign(scratch.out);
  if (scratch.out.capacity() > kKeepScratch) std::string().swap(scratch.out);
}

template <class Node>
std::string Render(const Node& node) {
  std::string text;
  RenderInto(node, &text);
  return text;
}

}  // namespace

// ---- XmlAttribute ----

const char* XmlAttribute::Name() const { return attr_ ? Attr(attr_).name() : nullptr; }
const char* XmlAttribute::Value() const { return attr_ ? Attr(attr_).value() : nullptr; }
XmlAttribute XmlAttribute::Next() const {
  return attr_ ? XmlAttribute(Attr(attr_).next_attribute().internal_object()) : XmlAttribute();
}

// ---- XmlDocument ----

XmlDocument XmlDocument::Create() {
  std::shared_ptr<XmlDocState> state(new (std::nothrow) XmlDocState);
  return XmlDocument(std::move(state));
}

void XmlDocument::CheckNotNull() const {
  if (!state_) throw ComError(kErrPointer);
}

void XmlDocument::AppendProcessingInstruction(const char* target, const char* data) {
  CheckNotNull();
  pugi::xml_node pi = state_->doc.append_child(pugi::node_pi);
  if (!pi || !pi.set_name(target ? target : "") || !pi.set_value(data ? data : "")) {
    throw ComError(kErrOutOfMemory);
  }
}

XmlElement XmlDocument::CreateDocumentElement(const char* name) {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  if (state_->doc.document_element()) throw ComError(kErrFail);
  pugi::xml_node root = state_->doc.append_child(name);
  if (!root) throw ComError(kErrOutOfMemory);
  return XmlElement(state_, root.internal_object());
}

XmlElement XmlDocument::DocumentElement() const {
  CheckNotNull();
  pugi::xml_node root = state_->doc.document_element();
  return root ? XmlElement(state_, root.internal_object()) : XmlElement();
}

bool XmlDocument::LoadXml(const char* text, size_t size) {
  CheckNotNull();
  if (text == nullptr) size = 0;
  state_->source.clear();
  state_->source.shrink_to_fit();
  if (HoldsNulCharacter(text, size)) {
    state_->doc.reset();
    return false;
  }
  pugi::xml_parse_result result =
      state_->doc.load_buffer(text ? text : "", size, pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    // A document that did not parse keeps nothing of what was read before the error.
    state_->doc.reset();
    if (result.status == pugi::status_out_of_memory) throw ComError(kErrOutOfMemory);
    return false;
  }
  return true;
}

bool XmlDocument::LoadXml(std::string&& text) {
  CheckNotNull();
  state_->doc.reset();
  if (HoldsNulCharacter(text.data(), text.size())) return false;
  state_->source = std::move(text);
  pugi::xml_parse_result result = state_->doc.load_buffer_inplace(
      state_->source.data(), state_->source.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    state_->doc.reset();
    state_->source.clear();
    state_->source.shrink_to_fit();
    if (result.status == pugi::status_out_of_memory) throw ComError(kErrOutOfMemory);
    return false;
  }
  return true;
}

std::string XmlDocument::Xml() const {
  CheckNotNull();
  return Render(state_->doc);
}

std::string XmlDocument::ReleaseText() {
  CheckNotNull();
  state_->doc.reset();
  std::string text = std::move(state_->source);
  state_->source = std::string();
  return text;
}

void XmlDocument::XmlInto(std::string* text) const {
  CheckNotNull();
  RenderInto(state_->doc, text);
}

XmlNodeList XmlDocument::SelectNodes(const char* path) const {
  CheckNotNull();
  XmlNodeList list;
  list.state_ = state_;
  list.nodes_ = SelectElements(state_->doc, path);
  return list;
}

XmlElement XmlDocument::SelectSingleNode(const char* path) const {
  return SelectNodes(path).Item(0);
}

// ---- XmlElement ----

void XmlElement::CheckNotNull() const {
  if (node_ == nullptr) throw ComError(kErrPointer);
}

const char* XmlElement::Name() const {
  CheckNotNull();
  return Node(node_).name();
}

XmlDocument XmlElement::OwnerDocument() const {
  CheckNotNull();
  return XmlDocument(state_);
}

XmlElement XmlElement::AppendElement(const char* name) const {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  pugi::xml_node child = Node(node_).append_child(name);
  if (!child) throw ComError(kErrOutOfMemory);
  return XmlElement(state_, child.internal_object());
}

XmlElement XmlElement::AppendChild(const XmlElement& child) const {
  CheckNotNull();
  child.CheckNotNull();
  pugi::xml_node parent = Node(node_);
  pugi::xml_node moved = child.state_ == state_ ? parent.append_move(Node(child.node_))
                                                : parent.append_copy(Node(child.node_));
  // pugixml refuses to move a node into its own sub-tree (a cycle); the caller learns of it.
  if (!moved) throw ComError(kErrFail);
  return XmlElement(state_, moved.internal_object());
}

void XmlElement::SetAttribute(const char* name, const char* value) const {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  pugi::xml_node node = Node(node_);
  pugi::xml_attribute attr = node.attribute(name);
  if (!attr) attr = node.append_attribute(name);
  if (!attr || !attr.set_value(value ? value : "")) throw ComError(kErrOutOfMemory);
}

void XmlElement::SetAttribute(const char* name, long long value) const {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  pugi::xml_node node = Node(node_);
  pugi::xml_attribute attr = node.attribute(name);
  if (!attr) attr = node.append_attribute(name);
  if (!attr || !attr.set_value(value)) throw ComError(kErrOutOfMemory);
}

void XmlElement::AppendAttribute(const char* name, const char* value) const {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  pugi::xml_attribute attr = Node(node_).append_attribute(name);
  if (!attr || !attr.set_value(value ? value : "")) throw ComError(kErrOutOfMemory);
}

void XmlElement::AppendAttribute(const char* name, long long value) const {
  CheckNotNull();
  if (name == nullptr) throw ComError(kErrPointer);
  pugi::xml_attribute attr = Node(node_).append_attribute(name);
  if (!attr || !attr.set_value(value)) throw ComError(kErrOutOfMemory);
}

void XmlElement::WipeAttribute(const char* name) const {
  CheckNotNull();
  if (name == nullptr) return;
  pugi::xml_attribute attr = Node(node_).attribute(name);
  if (!attr) return;
  // An attribute's text lives in memory the document owns (its parse buffer or its own pages) and
  // is writable; an empty text may be a shared constant, so only a non-empty one is written.
  char* text = const_cast<char*>(attr.value());
  SecureWipe(text, std::strlen(text));
}

const char* XmlElement::GetAttribute(const char* name) const {
  CheckNotNull();
  if (name == nullptr) return nullptr;
  pugi::xml_attribute attr = Node(node_).attribute(name);
  return attr ? attr.value() : nullptr;
}

XmlAttribute XmlElement::FirstAttribute() const {
  CheckNotNull();
  return XmlAttribute(Node(node_).first_attribute().internal_object());
}

size_t XmlElement::GetAttributes(const char** names, const char** values, size_t capacity) const {
  CheckNotNull();
  size_t count = 0;
  const pugi::xml_node node = Node(node_);
  if (!node.first_attribute()) return 0;
  // Calls into the parser's library are most of this walk's cost, so it makes as few as it can.
  // The iterator's attribute is the one handle it holds and moves along in place, so a single
  // reference to it follows the whole walk: stepping costs one call, where next_attribute() makes
  // a new handle through further calls. The null attribute's name is empty and a parsed
  // attribute's never is, so the name read for the result ends the walk; the handle itself is
  // tested only then.
  pugi::xml_attribute_iterator it = node.attributes_begin();
  const pugi::xml_attribute& a = *it;
  for (;; ++it) {
    const char* name = a.name();
    if (name[0] == '\0' && !a) break;
    if (count < capacity) {
      names[count] = name;
      values[count] = a.value();
    }
    ++count;
  }
  return count;
}

XmlNodeList XmlElement::SelectChildren(const char* tag) const {
  CheckNotNull();
  XmlNodeList list;
  list.state_ = state_;
  for (pugi::xml_node child = Node(node_).first_child(); child; child = child.next_sibling()) {
    if (NameMatches(child, tag)) list.nodes_.push_back(child.internal_object());
  }
  return list;
}

XmlElement XmlElement::SelectChild(const char* tag) const {
  CheckNotNull();
  for (pugi::xml_node child = Node(node_).first_child(); child; child = child.next_sibling()) {
    if (NameMatches(child, tag)) return XmlElement(state_, child.internal_object());
  }
  return XmlElement();
}

XmlElement XmlElement::NextSibling(const char* tag) const {
  CheckNotNull();
  for (pugi::xml_node sib = Node(node_).next_sibling(); sib; sib = sib.next_sibling()) {
    if (NameMatches(sib, tag)) return XmlElement(state_, sib.internal_object());
  }
  return XmlElement();
}

bool XmlElement::AdvanceToNextSibling(const char* tag) {
  CheckNotNull();
  for (pugi::xml_node sib = Node(node_).next_sibling(); sib; sib = sib.next_sibling()) {
    if (NameMatches(sib, tag)) {
      node_ = sib.internal_object();
      return true;
    }
  }
  node_ = nullptr;
  state_.reset();
  return false;
}

XmlElement XmlElement::Parent() const {
  CheckNotNull();
  pugi::xml_node parent = Node(node_).parent();
  return parent.type() == pugi::node_element ? XmlElement(state_, parent.internal_object())
                                             : XmlElement();
}

XmlNodeList XmlElement::SelectNodes(const char* path) const {
  CheckNotNull();
  XmlNodeList list;
  list.state_ = state_;
  list.nodes_ = SelectElements(Node(node_), path);
  return list;
}

XmlElement XmlElement::SelectSingleNode(const char* path) const {
  return SelectNodes(path).Item(0);
}

std::string XmlElement::Text() const {
  CheckNotNull();
  std::string out;
  pugi::xml_node top = Node(node_);
  // Iterative walk: element nesting in answers is not bounded, the stack is.
  for (pugi::xml_node n = top.first_child(); n && n != top;) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n != top && !n.next_sibling()) n = n.parent();
    if (n != top) n = n.next_sibling();
  }
  return out;
}

std::string XmlElement::Xml() const {
  CheckNotNull();
  return Render(Node(node_));
}

// ---- XmlNodeList ----

XmlElement XmlNodeList::Item(size_t index) const {
  if (index >= nodes_.size()) return XmlElement();
  return XmlElement(state_, nodes_[index]);
}

}  // namespace docsec
