#include "docsec/policy/auth_file_by_position.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByPosition, kObjectTypeAuthFileByPosition,
                          "FilePositionAuthorization", "filePositionAuthorization",
                          s_clsAuthFileByPosition)

CDOAuthFileByPosition::CDOAuthFileByPosition(CDOFile*, CDOPosition*, long)
    : CDOAuthFileByPosition() {
  // Not yet implemented.
}

int CDOAuthFileByPosition::IsAuthorizedTo(CDOPosition*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
