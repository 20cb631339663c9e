// CSystemOperation: server-wide maintenance commands that carry no data object: a manual
// synchronization with the directory server, an automatic update of agent files, and the password
// agents demand before they can be uninstalled.
//
// A cheap value: it holds only the data source its commands are sent with (1 unless set), which
// copies carry along. Thread safety: one thread at a time per object.
#ifndef DOCSEC_SYSTEM_SYSTEM_OPERATION_H_
#define DOCSEC_SYSTEM_SYSTEM_OPERATION_H_

#include "docsec/channel/data_source.h"
#include "docsec/platform/export.h"

namespace docsec {

class DOCSEC_EXPORT CSystemOperation {
 public:
  CSystemOperation() = default;
  CSystemOperation(const CSystemOperation&) = default;
  CSystemOperation& operator=(const CSystemOperation&) = default;
  virtual ~CSystemOperation() = default;

  // The data source the three commands are sent with.
  void SetDataSource(int dataSource) { data_source_ = dataSource; }

  // Each sends its command and returns 1 when the server accepts it, else 0.
  // "ManualSynchronizeLDAP".
  int SOManualRefreshAD();
  // "AutoUpdate".
  int SOAgentFilesAutoUpdate();
  // "SetUninstallPwd" with `password` unchanged in a "parameter" element; 0 at once for null.
  int SOSetAgentUninstallPassword(const char* password);

 private:
  int data_source_ = kDefaultDataSource;
};

}  // namespace docsec

#endif  // DOCSEC_SYSTEM_SYSTEM_OPERATION_H_
