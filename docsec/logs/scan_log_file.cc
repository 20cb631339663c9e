#include "docsec/logs/scan_log_file.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogFile, kObjectTypeNone, "ScanLogFile", "scanLogFile",
                          s_clsScanLogFile)

DataObjectList* CDOScanLogFile::SearchAppFile(const char*, const char*) {
  return nullptr;  // Not yet implemented.
}

int CDOScanLogFile::LoadFromXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
