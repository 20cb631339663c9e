// Attr: the one declaration of a data-object attribute. A class lists its attributes as
// `static constexpr Attr` members and gathers them, in wire order, with Attrs(); the class's
// schema (attribute list, load-only list, key list, types, comparison rule) is built from that
// list and the typed accessors of CDataObject take the same constants, so an attribute's name is
// written exactly once and a misspelt constant does not compile.
#ifndef DOCSEC_CORE_ATTRIBUTE_H_
#define DOCSEC_CORE_ATTRIBUTE_H_

#include <array>
#include <cstdint>

#include "docsec/platform/variant.h"

namespace docsec {

// Where an attribute is registered, and how it compares. Combine with |.
enum AttrFlag : uint8_t {
  kAttrListed = 1,      // the attribute list: written, read, copied, compared
  kAttrLoadOnly = 2,    // the load-only list: read and copied, never written
  kAttrKeyOnly = 4,     // the key list
  kAttrIgnoreCase = 8,  // text compares ignoring case (equality only; searches always do)
  // With kAttrKeyOnly: the key list starts anew here, dropping the keys inherited from the parent
  // (a subclass identified by other attributes than its parent, such as a remote file by its path).
  kAttrReplacesKeys = 16,
  kAttrKey = kAttrListed | kAttrKeyOnly,
};

struct Attr {
  constexpr Attr(const char* attr_name, uint16_t attr_type = kVtBstr,
                 uint8_t attr_flags = kAttrListed)
      : name(attr_name), type(attr_type), flags(attr_flags) {}
  const char* name;
  uint16_t type;  // the declared variant type: 8 text, 22 integer, 11 boolean, 7 date
  uint8_t flags;
};

// The ordered declarations of one class level: static constexpr auto kAttributes = Attrs(&kId,
// ...).
template <class... A>
constexpr std::array<const Attr*, sizeof...(A)> Attrs(const A*... attrs) {
  return {attrs...};
}

}  // namespace docsec

#endif  // DOCSEC_CORE_ATTRIBUTE_H_
