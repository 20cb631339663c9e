#include "docsec/logs/scan_drm_log.h"

#include <cstdio>

#include "docsec/logs/log_search.h"
#include "docsec/logs/scan_log_app.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOScanDrmLog, kObjectTypeNone, "ScanLog", "scanLog", s_clsScanDrmLog)

namespace {

// "%Y-%m-%d %I:%M:%S": the hour on the 12-hour clock (01 to 12) and no AM/PM marker, the form
// the scan log's consumers read. Empty for a time that is not a calendar time.
std::string TwelveHourText(const OleDateTime& time) {
  DateTimeParts parts;
  if (!time.IsValid() || !time.GetParts(&parts)) return std::string();
  const int hour = parts.hour % 12 == 0 ? 12 : parts.hour % 12;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month,
                parts.day, hour, parts.minute, parts.second);
  return text;
}

}  // namespace

int CDOScanDrmLog::SetComputerIP(unsigned long address) {
  return SetText(kComputerIp, internal::DottedAddress(address).c_str());
}

int CDOScanDrmLog::SetScanStartTime(OleDateTime& time) {
  return SetText(kStartTime, TwelveHourText(time).c_str());
}

int CDOScanDrmLog::SetScanStartTime() {
  OleDateTime now = OleDateTime::GetCurrentTime();
  return SetScanStartTime(now);
}

int CDOScanDrmLog::SetScanEndTime(OleDateTime& time) {
  return SetText(kEndTime, TwelveHourText(time).c_str());
}

int CDOScanDrmLog::SetScanEndTime() {
  OleDateTime now = OleDateTime::GetCurrentTime();
  return SetScanEndTime(now);
}

int CDOScanDrmLog::SetScanLogTime(OleDateTime& time) {
  return SetText(kCreateTime, TwelveHourText(time).c_str());
}

int CDOScanDrmLog::SetScanLogTime() {
  OleDateTime now = OleDateTime::GetCurrentTime();
  return SetScanLogTime(now);
}

DataObjectList* CDOScanDrmLog::SearchDB(unsigned long computerIp, std::string* computerName,
                                        std::string* orderBy, std::string* order,
                                        OleDateTime startTimeFrom, OleDateTime startTimeTo,
                                        OleDateTime endTimeFrom, OleDateTime endTimeTo,
                                        OleDateTime logTimeFrom, OleDateTime logTimeTo,
                                        std::string* totalEncrypted, std::string* appName,
                                        std::string* fileName, std::string* totalFailed,
                                        std::string* status, std::string* pageNum,
                                        std::string* pageSum, int& count) {
  using internal::DateCondition;
  using internal::TextCondition;
  ValueMap conditions;
  conditions.Set("computerIp", internal::AddressCondition(computerIp));
  conditions.Set("computerName", TextCondition(computerName));
  conditions.Set("orderBy", TextCondition(orderBy));
  conditions.Set("order", TextCondition(order));
  conditions.Set("startTimeFrom", DateCondition(startTimeFrom));
  conditions.Set("startTimeTo", DateCondition(startTimeTo));
  conditions.Set("endTimeFrom", DateCondition(endTimeFrom));
  conditions.Set("endTimeTo", DateCondition(endTimeTo));
  conditions.Set("logTimeFrom", DateCondition(logTimeFrom));
  conditions.Set("logTimeTo", DateCondition(logTimeTo));
  conditions.Set("totalEncrypted", TextCondition(totalEncrypted));
  conditions.Set("appName", TextCondition(appName));
  conditions.Set("fileName", TextCondition(fileName));
  conditions.Set("totalFailed", TextCondition(totalFailed));
  conditions.Set("status", TextCondition(status));
  conditions.Set("pageNum", TextCondition(pageNum));
  conditions.Set("pageSum", TextCondition(pageSum));

  internal::LogDataSourceScope log_source(this);
  DataObjectList* found = Lookup(&conditions, count);
  if (found == nullptr) count = 0;
  return found;
}

DataObjectList* CDOScanDrmLog::Lookup(ValueMap* conditions, int& count) {
  XmlDocument answer;
  DataObjectList* found =
      internal::QueryLogDatabase(this, internal::kScanLogDatabase, conditions,
                                 &CDOScanDrmLog::AssemblyConditionXmlNode, &answer);
  if (found != nullptr && !internal::ReadAnswerCount(answer, &count)) count = 0;
  return found;
}

int CDOScanDrmLog::LoadFromXmlNode(const XmlElement& element) {
  internal::LoadTextsOrBlank(element, kAttributes,
                             [this](const Attr& attr, const char* text) { SetText(attr, text); });
  return 1;
}

}  // namespace docsec
