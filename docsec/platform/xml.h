// The XML facade: documents, elements, attributes and node lists over the platform's XML parser.
//
// XmlDocument is a reference-counted handle; XmlElement and XmlNodeList keep their document alive,
// so an element stays usable after the document handle that produced it is gone. A default-
// constructed handle is null: it tests false, and every operation on it except the tests raises
// ComError(kErrPointer). Element-returning look-ups give a null element when nothing matches.
//
// Thread safety: a document and its handles may be used by one thread at a time; separate
// documents are independent.
#ifndef DOCSEC_PLATFORM_XML_H_
#define DOCSEC_PLATFORM_XML_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

struct XmlDocState;
class XmlElement;
class XmlNodeList;

// An attribute of an element; valid while its element's document lives and the attribute is not
// removed. A null attribute tests false and gives nullptr for its name and value.
class DOCSEC_EXPORT XmlAttribute {
 public:
  XmlAttribute() = default;
  explicit operator bool() const { return attr_ != nullptr; }
  const char* Name() const;
  const char* Value() const;
  XmlAttribute Next() const;  // the element's next attribute, or null

 private:
  friend class XmlElement;
  explicit XmlAttribute(void* attr) : attr_(attr) {}
  void* attr_ = nullptr;
};

class DOCSEC_EXPORT XmlDocument {
 public:
  XmlDocument() = default;  // null
  // A new empty document; a null handle when memory runs out.
  static XmlDocument Create();

  explicit operator bool() const { return state_ != nullptr; }
  bool IsNull() const { return state_ == nullptr; }

  // Appends a processing instruction <?target data?> at document level.
  void AppendProcessingInstruction(const char* target, const char* data);
  // Creates the root element `name` (appended after any processing instruction) and returns it.
  // Raises ComError(kErrFail) when the document has a root already.
  XmlElement CreateDocumentElement(const char* name);
  // The root element, or a null element when the document has none.
  XmlElement DocumentElement() const;

  // Replaces the content with `text` (UTF-8). Returns true when it parsed; text that does not
  // parse leaves the document without root element. Text holding a NUL character, raw or as a
  // character reference, does not parse: NUL is no XML character.
  bool LoadXml(const char* text, size_t size);
  bool LoadXml(const std::string& text) { return LoadXml(text.data(), text.size()); }
  // The same, parsing `text` in place: the document keeps the buffer instead of copying it.
  bool LoadXml(std::string&& text);
  // Empties the document (no root element afterwards, for every handle to it) and gives back the
  // buffer that LoadXml(std::string&&) parsed in place, for a caller that reuses its storage;
  // empty when the document holds no such buffer.
  std::string ReleaseText();
  // The whole document as text: no indentation, processing instructions first.
  std::string Xml() const;
  // The same into `*text` (its content replaced, its capacity reused when large enough).
  void XmlInto(std::string* text) const;

  // XPath selection relative to the document ("//count"); elements only, document order.
  XmlNodeList SelectNodes(const char* path) const;
  XmlElement SelectSingleNode(const char* path) const;

  // Two handles to the same document compare equal.
  bool operator==(const XmlDocument& other) const { return state_ == other.state_; }
  bool operator!=(const XmlDocument& other) const { return state_ != other.state_; }

 private:
  friend class XmlElement;
  friend class XmlNodeList;
  explicit XmlDocument(std::shared_ptr<XmlDocState> state) : state_(std::move(state)) {}
  void CheckNotNull() const;
  std::shared_ptr<XmlDocState> state_;
};

class DOCSEC_EXPORT XmlElement {
 public:
  XmlElement() = default;  // null
  explicit operator bool() const { return node_ != nullptr; }
  bool IsNull() const { return node_ == nullptr; }

  const char* Name() const;
  XmlDocument OwnerDocument() const;

  // Creates an element `name` in this element's document and appends it as the last child.
  XmlElement AppendElement(const char* name) const;
  // Appends `child` as the last child: an element of this document is moved here, an element of
  // another document is copied with its sub-tree. Returns the appended element.
  XmlElement AppendChild(const XmlElement& child) const;

  // Sets (or replaces) an attribute. A null value is written as the empty text.
  void SetAttribute(const char* name, const char* value) const;
  void SetAttribute(const char* name, const std::string& value) const {
    SetAttribute(name, value.c_str());
  }
  void SetAttribute(const char* name, long long value) const;
  // Appends an attribute without looking for an existing one of the same name; for building new
  // elements, where the caller knows the name is not there yet.
  void AppendAttribute(const char* name, const char* value) const;
  void AppendAttribute(const char* name, long long value) const;

  // Overwrites the attribute's text with zero bytes where it lies, leaving it empty, so a secret
  // the document carried (a password, a key) is gone before the document's memory is freed. An
  // absent attribute is left absent.
  void WipeAttribute(const char* name) const;
  // The attribute's text, or nullptr when the element has no such attribute.
  const char* GetAttribute(const char* name) const;
  bool HasAttribute(const char* name) const { return GetAttribute(name) != nullptr; }
  XmlAttribute FirstAttribute() const;
  // Fills `names` and `values` with the element's first attributes in document order, at most
  // `capacity` of them, and returns how many the element has in all.
  size_t GetAttributes(const char** names, const char** values, size_t capacity) const;

  // Direct child elements named `tag` (all child elements when `tag` is null), document order.
  XmlNodeList SelectChildren(const char* tag) const;
  // The first direct child element named `tag` (any name when null), or a null element.
  XmlElement SelectChild(const char* tag) const;
  // The next sibling element named `tag` (any name when null), or a null element.
  XmlElement NextSibling(const char* tag) const;
  // Moves this handle to the next sibling element named `tag` (any name when null); false, and a
  // null handle, when there is none. Walking a long list of children this way costs no reference
  // counting per step.
  bool AdvanceToNextSibling(const char* tag);
  // The parent element, or a null element at the root.
  XmlElement Parent() const;

  // XPath selection relative to this element; elements only, document order.
  XmlNodeList SelectNodes(const char* path) const;
  XmlElement SelectSingleNode(const char* path) const;

  // The concatenated text of the element and its descendants.
  std::string Text() const;
  // The element and its sub-tree as text, without indentation.
  std::string Xml() const;

  bool operator==(const XmlElement& other) const { return node_ == other.node_; }
  bool operator!=(const XmlElement& other) const { return node_ != other.node_; }

 private:
  friend class XmlDocument;
  friend class XmlNodeList;
  XmlElement(std::shared_ptr<XmlDocState> state, void* node)
      : state_(std::move(state)), node_(node) {}
  void CheckNotNull() const;
  std::shared_ptr<XmlDocState> state_;
  void* node_ = nullptr;
};

// A snapshot list of elements, in document order.
class DOCSEC_EXPORT XmlNodeList {
 public:
  XmlNodeList() = default;
  size_t Length() const { return nodes_.size(); }
  bool Empty() const { return nodes_.empty(); }
  // The element at `index`, or a null element past the end.
  XmlElement Item(size_t index) const;

 private:
  friend class XmlDocument;
  friend class XmlElement;
  std::shared_ptr<XmlDocState> state_;
  std::vector<void*> nodes_;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_XML_H_
