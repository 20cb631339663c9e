#include "docsec/logs/scan_log_file.h"

#include "docsec/logs/log_search.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogFile, kObjectTypeNone, "ScanLogFile", "scanLogFile",
                          s_clsScanLogFile)

DataObjectList* CDOScanLogFile::SearchAppFile(const char* scanLogId, const char* appName) {
  ValueMap conditions;
  conditions.Set("scanLogId", Variant(scanLogId != nullptr ? scanLogId : ""));
  conditions.Set("appName", Variant(appName != nullptr ? appName : ""));
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

int CDOScanLogFile::LoadFromXmlNode(const XmlElement& element) {
  internal::LoadTextsOrBlank(element, kAttributes,
                             [this](const Attr& attr, const char* text) { SetText(attr, text); });
  return 1;
}

}  // namespace docsec
