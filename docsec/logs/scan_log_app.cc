#include "docsec/logs/scan_log_app.h"

#include "docsec/logs/log_search.h"
#include "docsec/logs/scan_log_file.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogApp, kObjectTypeNone, "ScanLogApp", "scanLogApp",
                          s_clsScanLogApp)

DataObjectList* CDOScanLogApp::SearchAppInof(const char* scanLogId) {
  ValueMap conditions;
  conditions.Set("scanLogId", internal::TextCondition(scanLogId));
  SetDataSource(internal::kLogDataSource);
  return internal::QueryLogDatabase(this, internal::kScanLogDatabase, &conditions,
                                    &CDOScanLogApp::AssemblyConditionXmlNode);
}

int CDOScanLogApp::LoadFromXmlNode(const XmlElement& element) {
  internal::LoadTextsOrBlank(element, kAttributes,
                             [this](const Attr& attr, const char* text) { SetText(attr, text); });
  return 1;
}

}  // namespace docsec
