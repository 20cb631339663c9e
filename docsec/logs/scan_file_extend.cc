#include "docsec/logs/scan_file_extend.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(CDOScanFileExtend, kObjectTypeScanFileExtend, "Extend",
                                      "extend")

}  // namespace docsec
