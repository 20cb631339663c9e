// JoinedText: a text attribute of a partner object (a user, a position, a policy's application...)
// read through the partner's own getter into a 520-byte buffer, the way the joining constructors
// and the name matches of the policy classes read them. A text of up to 519 bytes arrives whole; a
// longer one, or an unset one, arrives empty, since the getters never cut a text in two.
#ifndef DOCSEC_POLICY_INTERNAL_JOINED_TEXT_H_
#define DOCSEC_POLICY_INTERNAL_JOINED_TEXT_H_

#include <cstring>

namespace docsec {
namespace internal {

class JoinedText {
 public:
  static constexpr unsigned long kSize = 520;

  // The text `get` gives for `object`; empty for a null object.
  template <class T>
  JoinedText(T* object, int (T::*get)(char*, unsigned long)) {
    buffer_[0] = '\0';
    if (object != nullptr) (object->*get)(buffer_, kSize);
    buffer_[kSize - 1] = '\0';
  }

  const char* c_str() const { return buffer_; }
  bool empty() const { return buffer_[0] == '\0'; }
  // Byte for byte: letter case matters.
  bool operator==(const JoinedText& other) const {
    return std::strcmp(buffer_, other.buffer_) == 0;
  }

 private:
  char buffer_[kSize];
};

}  // namespace internal
}  // namespace docsec

#endif  // DOCSEC_POLICY_INTERNAL_JOINED_TEXT_H_
