#include "docsec/platform/secure_memory.h"

#include <openssl/crypto.h>

namespace docsec {

void SecureWipe(void* data, size_t size) {
  if (data == nullptr || size == 0) return;
  OPENSSL_cleanse(data, size);
}

}  // namespace docsec
