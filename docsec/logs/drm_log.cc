#include "docsec/logs/drm_log.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDODrmLog, kObjectTypeNone, "Log", "log", s_clsDrmLog)

int CDODrmLog::SetOperationTime(OleDateTime&) {
  return 0;  // Not yet implemented.
}

int CDODrmLog::SetOperationTime() {
  return 0;  // Not yet implemented.
}

int CDODrmLog::SetDestCompIP(unsigned long) {
  return 0;  // Not yet implemented.
}

int CDODrmLog::SetUsedCompIP(unsigned long) {
  return 0;  // Not yet implemented.
}

int CDODrmLog::SetLogCreateTime(OleDateTime&) {
  return 0;  // Not yet implemented.
}

int CDODrmLog::SetLogCreateTime() {
  return 0;  // Not yet implemented.
}

DataObjectList* CDODrmLog::SerachDB(std::string*, std::string*, std::string*, std::string*,
                                    OleDateTime, OleDateTime, std::string*, std::string*,
                                    std::string*, std::string*, unsigned long, std::string*,
                                    std::string*, unsigned long, std::string*, std::string*,
                                    std::string*, std::string*, std::string*, std::string*,
                                    OleDateTime, OleDateTime, std::string*, std::string*, int&,
                                    int) {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDODrmLog::Lookup(ValueMap*, int&, int) {
  return nullptr;  // Not yet implemented.
}

int CDODrmLog::UpdateLogs(CDOComputer*) {
  return 0;  // Not yet implemented.
}

XmlElement CDODrmLog::AssemblyXmlPreNode(const XmlElement&, CDOComputer*) {
  return XmlElement();  // Not yet implemented.
}

XmlDocument CDODrmLog::CreateRequestLogXml(const std::string&) {
  return XmlDocument();  // Not yet implemented.
}

int CDODrmLog::LoadFromXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
