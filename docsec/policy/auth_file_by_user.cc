#include "docsec/policy/auth_file_by_user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByUser, kObjectTypeAuthFileByUser, "FileUserAuthorization",
                          "fileUserAuthorization", s_clsAuthFileByUser)

CDOAuthFileByUser::CDOAuthFileByUser(CDOFile*, CDOUser*, long) : CDOAuthFileByUser() {
  // Not yet implemented.
}

int CDOAuthFileByUser::IsAuthorizedTo(CDOUser*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
