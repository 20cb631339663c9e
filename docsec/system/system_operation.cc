#include "docsec/system/system_operation.h"

namespace docsec {

int CSystemOperation::SOManualRefreshAD() {
  return 0;  // Not yet implemented.
}

int CSystemOperation::SOAgentFilesAutoUpdate() {
  return 0;  // Not yet implemented.
}

int CSystemOperation::SOSetAgentUninstallPassword(const char*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
