// ComError: the exception the library raises where a value conversion or an XML operation fails
// and the API lets the failure escape. It carries the result code of the failing operation.
#ifndef DOCSEC_PLATFORM_COM_ERROR_H_
#define DOCSEC_PLATFORM_COM_ERROR_H_

#include <cstdint>
#include <exception>

#include "docsec/platform/export.h"

namespace docsec {

// Result codes carried by ComError.
constexpr uint32_t kErrOutOfMemory = 0x8007000E;
constexpr uint32_t kErrPointer = 0x80004003;       // a null element or document was used
constexpr uint32_t kErrTypeMismatch = 0x80020005;  // a value does not convert to the asked kind
constexpr uint32_t kErrOverflow = 0x8002000A;      // a number does not fit the asked kind
constexpr uint32_t kErrFail = 0x80004005;          // an XML operation failed otherwise
constexpr uint32_t kErrUnexpected =
    0x8000FFFF;  // the library was used against its rules (a programming error)

class DOCSEC_EXPORT ComError : public std::exception {
 public:
  explicit ComError(uint32_t code) noexcept : code_(code) {}
  uint32_t Error() const noexcept { return code_; }
  const char* what() const noexcept override;

 private:
  uint32_t code_;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_COM_ERROR_H_
