#include "docsec/logs/scan_log_file.h"

#include "docsec/logs/log_search.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanLogFile, kObjectTypeNone, "ScanLogFile", "scanLogFile",
                          s_clsScanLogFile)

DataObjectList* CDOScanLogFile::SearchAppFile(const char* scanLogId, const char* appName) {
  ValueMap conditions;
  conditions.Set("scanLogId", internal::TextCondition(scanLogId));
  conditions.Set("appName", internal::TextCondition(appName));
  SetDataSource(internal::kLogDataSource);
  return internal::QueryLogDatabase(this, internal::kScanLogDatabase, &conditions,
                                    &CDOScanLogFile::AssemblyConditionXmlNode);
}

int CDOScanLogFile::LoadFromXmlNode(const XmlElement& element) {
  internal::LoadTextsOrBlank(element, kAttributes,
                             [this](const Attr& attr, const char* text) { SetText(attr, text); });
  return 1;
}

}  // namespace docsec
