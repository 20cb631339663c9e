#include "docsec/platform/com_error.h"

namespace docsec {

const char* ComError::what() const noexcept {
  switch (code_) {
    case kErrOutOfMemory: return "out of memory";
    case kErrPointer: return "missing pointer";
    case kErrTypeMismatch: return "type mismatch";
    case kErrOverflow: return "overflow";
    default: return "operation failed";
  }
}

}  // namespace docsec
