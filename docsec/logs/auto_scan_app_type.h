// CDOAutoScanAppType: one application that the agents' automatic scan supports (application name,
// scan type, executable name); on the shared instance it also holds the two scan settings the
// server keeps for consoles: the supported applications and the scanned file extensions.
//
// Ownership: both lists are owned with their members, absent until loaded (the extension list also
// until the first AddScanFileExtend), replaced by each successful reload. Members handed out die
// at the next reload, at their removal and with the holder. Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_AUTO_SCAN_APP_TYPE_H_
#define DOCSEC_LOGS_AUTO_SCAN_APP_TYPE_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOScanFileExtend;

class DOCSEC_EXPORT CDOAutoScanAppType : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOAutoScanAppType)

  static constexpr Attr kAppName{"appName"};
  static constexpr Attr kScanType{"scanType"};
  static constexpr Attr kExeName{"exeName"};
  static constexpr auto kAttributes = Attrs(&kAppName, &kScanType, &kExeName);

  DOCSEC_TEXT_PROPERTY(AppName, kAppName)
  DOCSEC_TEXT_PROPERTY(ScanType, kScanType)
  DOCSEC_TEXT_PROPERTY(ExeType, kExeName)

  // Reloads both lists ("GetScanFileTypeAtConsole"); 0, with the lists unchanged, when the server
  // refuses. Applications whose scan type is shorter than two characters are dropped.
  int GetAllAutoScanAppList();
  // Sends the extension list ("SetScanFileTypeAtConsole"; an empty "extends" without a list); 1
  // when the server accepts.
  int SetAllAutoScanAppList();
  // Appends a copy of `extension` unless an equal one (same name ignoring case) is listed; 1, or 0
  // for null. The caller keeps `extension`.
  int AddScanFileExtend(CDOScanFileExtend* extension);
  // Deletes the first listed extension equal to `extension`; 1 also when none is; 0 for null.
  int RemoveScanFileExtend(CDOScanFileExtend* extension);
  // The first listed extension equal to `extension`, still owned by the list; null when none.
  CDOScanFileExtend* FindFileExtend(CDOScanFileExtend* extension);
  // The lists, null while not loaded; owned by this object.
  DataObjectList* GetScanAppsSupport() { return apps_.get(); }
  DataObjectList* GetScanFileExtends() { return extends_.get(); }

 private:
  OwnedList<CDOAutoScanAppType> apps_;
  OwnedList<CDOScanFileExtend> extends_;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_AUTO_SCAN_APP_TYPE_H_
