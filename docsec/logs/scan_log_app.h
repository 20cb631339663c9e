// CDOScanLogApp: one application's totals (files encrypted, files failed) within one scan run,
// read back from the server's scan log through data source 2.
//
// All attributes are text; no keys; read-only accessors. Ownership: the file list (never filled
// by the library) is freed with the object; search results belong to the caller with their
// members. Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_SCAN_LOG_APP_H_
#define DOCSEC_LOGS_SCAN_LOG_APP_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOScanLogFile;

class DOCSEC_EXPORT CDOScanLogApp : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOScanLogApp)

  static constexpr Attr kScanLogId{"scanLogId"};
  static constexpr Attr kAppName{"appName"};
  static constexpr Attr kTotalEncrypted{"totalEncrypted"};
  static constexpr Attr kTotalFailed{"totalFailed"};
  static constexpr auto kAttributes =
      Attrs(&kScanLogId, &kAppName, &kTotalEncrypted, &kTotalFailed);

  int GetScanLogId(char* buffer, unsigned long size) { return GetText(kScanLogId, buffer, size); }
  int GetAppName(char* buffer, unsigned long size) { return GetText(kAppName, buffer, size); }
  int GetTotalEncrypted(char* buffer, unsigned long size) {
    return GetText(kTotalEncrypted, buffer, size);
  }
  int GetTotalFailed(char* buffer, unsigned long size) {
    return GetText(kTotalFailed, buffer, size);
  }

  // Always null: the files of an application come from CDOScanLogFile::SearchAppFile.
  DataObjectList* GetScanLogFilesList() { return files_.get(); }

  // The applications of scan run `scanLogId` ("QueryScanLogApp"); owned by the caller with their
  // members, null on failure. Leaves the receiver at data source 2.
  DataObjectList* SearchAppInof(const char* scanLogId);
  // Sets every attribute: its text on `element`, or " " when absent; 1.
  int LoadFromXmlNode(const XmlElement& element) override;

 private:
  OwnedList<CDOScanLogFile> files_;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_SCAN_LOG_APP_H_
