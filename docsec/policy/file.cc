#include "docsec/policy/file.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOFile, kObjectTypeNone, "File", "file", s_clsFile)

}  // namespace docsec
