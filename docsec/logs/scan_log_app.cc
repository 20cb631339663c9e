#include "docsec/logs/scan_log_app.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogApp, kObjectTypeNone, "ScanLogApp", "scanLogApp",
                          s_clsScanLogApp)

DataObjectList* CDOScanLogApp::SearchAppInof(const char*) {
  return nullptr;  // Not yet implemented.
}

int CDOScanLogApp::LoadFromXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
