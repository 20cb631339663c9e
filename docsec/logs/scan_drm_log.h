// CDOScanDrmLog: one scan run of a managed computer as the server's scan log records it (computer,
// start and end, status, where an interrupted run stopped). Read-only from the library's side:
// searches, no upload; all its requests go through data source 2.
//
// All attributes are text; no keys. Ownership: the run's application list (never filled by the
// library) is freed with the record; search results belong to the caller with their members.
// Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_SCAN_DRM_LOG_H_
#define DOCSEC_LOGS_SCAN_DRM_LOG_H_

#include <string>

#include "docsec/core/data_object_class.h"
#include "docsec/platform/ole_date_time.h"

namespace docsec {

class CDOScanLogApp;

class DOCSEC_EXPORT CDOScanDrmLog : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOScanDrmLog)

  static constexpr Attr kId{"id"};
  static constexpr Attr kComputerIp{"computerIp"};
  static constexpr Attr kComputerName{"computerName"};
  static constexpr Attr kStartTime{"startTime"};
  static constexpr Attr kEndTime{"endTime"};
  static constexpr Attr kCreateTime{"createTime"};
  static constexpr Attr kStatus{"status"};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kInterrupt{"interrupt"};
  static constexpr auto kAttributes =
      Attrs(&kId, &kComputerIp, &kComputerName, &kStartTime, &kEndTime, &kCreateTime, &kStatus,
            &kDescription, &kInterrupt);

  int GetScanLogId(char* buffer, unsigned long size) { return GetText(kId, buffer, size); }
  int GetComputerIp(char* buffer, unsigned long size) { return GetText(kComputerIp, buffer, size); }
  int SetComputerIP(const char* address) { return SetText(kComputerIp, address); }
  // Writes "%d.%d.%d.%d", most significant byte first.
  int SetComputerIP(unsigned long address);
  DOCSEC_TEXT_PROPERTY(ComputerNameA, kComputerName)
  // The time forms write "%Y-%m-%d %I:%M:%S" (12-hour clock, no AM/PM marker); without argument,
  // the current local time.
  DOCSEC_TEXT_PROPERTY(ScanStartTime, kStartTime)
  int SetScanStartTime(OleDateTime& time);
  int SetScanStartTime();
  DOCSEC_TEXT_PROPERTY(ScanEndTime, kEndTime)
  int SetScanEndTime(OleDateTime& time);
  int SetScanEndTime();
  DOCSEC_TEXT_PROPERTY(ScanLogTime, kCreateTime)
  int SetScanLogTime(OleDateTime& time);
  int SetScanLogTime();
  DOCSEC_TEXT_PROPERTY(ScanStatus, kStatus)
  DOCSEC_TEXT_PROPERTY(ExceptionInfor, kDescription)
  DOCSEC_TEXT_PROPERTY(StopPosition, kInterrupt)

  // Always null: the applications of a run come from CDOScanLogApp::SearchAppInof.
  DataObjectList* GetScanLogAppsList() { return apps_.get(); }

  // One page of scan runs ("QueryScanLog" through data source 2), filtered by the conditions given
  // (an invalid date and address 0 send empty text; every pointer must be non-null). The caller
  // owns the list and its members; null on failure. `count` receives the total number of matching
  // runs, 0 when the answer gives none or the search failed. The receiver is at data source 1
  // afterwards.
  DataObjectList* SearchDB(unsigned long computerIp, std::string* computerName,
                           std::string* orderBy, std::string* order, OleDateTime startTimeFrom,
                           OleDateTime startTimeTo, OleDateTime endTimeFrom, OleDateTime endTimeTo,
                           OleDateTime logTimeFrom, OleDateTime logTimeTo,
                           std::string* totalEncrypted, std::string* appName, std::string* fileName,
                           std::string* totalFailed, std::string* status, std::string* pageNum,
                           std::string* pageSum, int& count);
  // The generic look-up stays reachable beside the paged one.
  using CDataObject::Lookup;
  // "QueryScanLog" in database 1 with `conditions`, sent with the receiver's data source; the runs
  // found (owned by the caller with their members) or null. `count` is set from the answer's
  // "count" element, 0 when there is none.
  DataObjectList* Lookup(ValueMap* conditions, int& count);
  // Sets every attribute: its text on `element`, or " " when absent; 1.
  int LoadFromXmlNode(const XmlElement& element) override;

 private:
  OwnedList<CDOScanLogApp> apps_;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_SCAN_DRM_LOG_H_
