#include "docsec/policy/auth_file_by_user.h"

#include "docsec/core/copied_text.h"
#include "docsec/policy/file.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByUser, kObjectTypeAuthFileByUser, "FileUserAuthorization",
                          "fileUserAuthorization", s_clsAuthFileByUser)

CDOAuthFileByUser::CDOAuthFileByUser(CDOFile* file, CDOUser* user, long permission)
    : CDOAuthFileByUser() {
  if (file != nullptr) SetFileId(CopiedText(file, &CDOFile::GetUuid).c_str());
  if (user != nullptr) {
    SetUserId(CopiedText(user, &CDOUser::GetId).c_str());
    SetUserDeptPath(CopiedText(user, &CDOUser::GetDepartmentPath).c_str());
    SetUserName(CopiedText(user, &CDOUser::GetName).c_str());
  }
  SetPermission(permission);
}

int CDOAuthFileByUser::IsAuthorizedTo(CDOUser* user) {
  if (user == nullptr) return 0;
  return HasText(user, &CDOUser::GetId, GetText(kUserId)) ? 1 : 0;
}

}  // namespace docsec
