// Windows twin of secure_memory.cc: the system's wipe, which the optimiser keeps.
#include "docsec/platform/secure_memory.h"

#include <windows.h>

namespace docsec {

void SecureWipe(void* data, size_t size) {
  if (data == nullptr || size == 0) return;
  SecureZeroMemory(data, size);
}

}  // namespace docsec
