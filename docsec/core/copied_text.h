// Texts taken from one data object into another through the other class's public text getter
// (the attribute store of another class is not reachable from here).
//
// A joined record (an authorization, an appointment) copies its partners' texts through a buffer of
// kCopiedTextSize bytes: a text that does not fit arrives empty, never cut, so a record can never
// name a different account or position than the one it was made from. Comparisons read the whole
// text, so two texts that differ only past a buffer's length never compare equal.
//
// Thread safety: as the objects read.
#ifndef DOCSEC_CORE_COPIED_TEXT_H_
#define DOCSEC_CORE_COPIED_TEXT_H_

#include <cstring>
#include <string>

namespace docsec {

// Bytes of the buffer a copied text passes through, terminating zero included.
constexpr unsigned long kCopiedTextSize = 520;

// The text `get` gives for `from` through a kCopiedTextSize buffer: "" for a null object, an unset
// or empty text, or a text of more than kCopiedTextSize - 1 bytes.
template <class T>
std::string CopiedText(T* from, int (T::*get)(char*, unsigned long)) {
  if (from == nullptr) return std::string();
  char buffer[kCopiedTextSize];
  buffer[0] = '\0';
  const int size = (from->*get)(buffer, sizeof buffer);
  return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
}

// True when the text `get` gives for `from` is exactly `text`, a non-empty text (an empty or unset
// text names nothing and matches nothing). The buffer holds exactly `text` and its terminator, so a
// longer text does not fit and compares unequal instead of being read as its prefix.
template <class T>
bool HasText(T* from, int (T::*get)(char*, unsigned long), const std::string& text) {
  if (from == nullptr || text.empty()) return false;
  std::string buffer(text.size() + 1, '\0');
  const int size = (from->*get)(&buffer[0], buffer.size());
  return size > 0 && static_cast<size_t>(size) == text.size() &&
         std::memcmp(buffer.data(), text.data(), text.size()) == 0;
}

}  // namespace docsec

#endif  // DOCSEC_CORE_COPIED_TEXT_H_
