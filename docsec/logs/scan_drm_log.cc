#include "docsec/logs/scan_drm_log.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanDrmLog, kObjectTypeNone, "ScanLog", "scanLog", s_clsScanDrmLog)

int CDOScanDrmLog::SetComputerIP(unsigned long) {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanStartTime(OleDateTime&) {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanStartTime() {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanEndTime(OleDateTime&) {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanEndTime() {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanLogTime(OleDateTime&) {
  return 0;  // Not yet implemented.
}

int CDOScanDrmLog::SetScanLogTime() {
  return 0;  // Not yet implemented.
}

DataObjectList* CDOScanDrmLog::SearchDB(unsigned long, std::string*, std::string*, std::string*,
                                        OleDateTime, OleDateTime, OleDateTime, OleDateTime,
                                        OleDateTime, OleDateTime, std::string*, std::string*,
                                        std::string*, std::string*, std::string*, std::string*,
                                        std::string*, int&) {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOScanDrmLog::Lookup(ValueMap*, int&) {
  return nullptr;  // Not yet implemented.
}

int CDOScanDrmLog::LoadFromXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
