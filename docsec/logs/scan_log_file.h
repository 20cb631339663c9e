// CDOScanLogFile: one file handled for one application within one scan run, read back from the
// server's scan log through data source 2.
//
// One text attribute, no keys, read-only. Ownership: search results belong to the caller with
// their members. Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_SCAN_LOG_FILE_H_
#define DOCSEC_LOGS_SCAN_LOG_FILE_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOScanLogFile : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOScanLogFile)

  static constexpr Attr kFileFullPath{"fileFullPath"};
  static constexpr auto kAttributes = Attrs(&kFileFullPath);

  int GetFileFullPath(char* buffer, unsigned long size) {
    return GetText(kFileFullPath, buffer, size);
  }

  // The files of application `appName` in scan run `scanLogId` ("QueryScanLogFile"); owned by the
  // caller with their members, null on failure. Leaves the receiver at data source 2.
  DataObjectList* SearchAppFile(const char* scanLogId, const char* appName);
  // Sets the attribute: its text on `element`, or " " when absent; 1.
  int LoadFromXmlNode(const XmlElement& element) override;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_SCAN_LOG_FILE_H_
