#include "docsec/logs/scan_log_app.h"

#include "docsec/logs/log_search.h"
#include "docsec/logs/scan_log_file.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogApp, kObjectTypeNone, "ScanLogApp", "scanLogApp",
                          s_clsScanLogApp)

DataObjectList* CDOScanLogApp::SearchAppInof(const char* scanLogId) {
  ValueMap conditions;
  conditions.Set("scanLogId", Variant(scanLogId != nullptr ? scanLogId : ""));
  SetDataSource(internal::kLogDataSource);
  XmlDocument answer =
      Exchange("Query" + GetObjectName(),
               internal::LogSearchRequest(internal::kScanLogDatabase,
                                          [this, &conditions](const XmlElement& root) {
                                            return AssemblyConditionXmlNode(root, &conditions);
                                          }));
  if (!answer) return nullptr;
  DataObjectList* found = nullptr;
  LoadChildObjects(answer.DocumentElement(), &found, this, nullptr);
  return found;
}

int CDOScanLogApp::LoadFromXmlNode(const XmlElement& element) {
  internal::LoadTextsOrBlank(element, kAttributes,
                             [this](const Attr& attr, const char* text) { SetText(attr, text); });
  return 1;
}

}  // namespace docsec
