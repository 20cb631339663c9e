#include "docsec/version.h"

namespace docsec {

const char* Version() { return DOCSEC_VERSION_STRING; }

}  // namespace docsec
