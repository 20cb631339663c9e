#include "docsec/logs/auto_scan_app_type.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAutoScanAppType, kObjectTypeAutoScanAppType, "AppExe", "appExe",
                          s_clsAutoScanAppType)

int CDOAutoScanAppType::GetAllAutoScanAppList() {
  return 0;  // Not yet implemented.
}

int CDOAutoScanAppType::SetAllAutoScanAppList() {
  return 0;  // Not yet implemented.
}

int CDOAutoScanAppType::AddScanFileExtend(CDOScanFileExtend*) {
  return 0;  // Not yet implemented.
}

int CDOAutoScanAppType::RemoveScanFileExtend(CDOScanFileExtend*) {
  return 0;  // Not yet implemented.
}

CDOScanFileExtend* CDOAutoScanAppType::FindFileExtend(CDOScanFileExtend*) {
  return nullptr;  // Not yet implemented.
}

}  // namespace docsec
