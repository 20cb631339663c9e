#include "docsec/policy/auth_file_by_user.h"

#include "docsec/policy/file.h"
#include "docsec/policy/internal/joined_text.h"
#include "docsec/users/user.h"

namespace docsec {

using internal::JoinedText;

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByUser, kObjectTypeAuthFileByUser, "FileUserAuthorization",
                          "fileUserAuthorization", s_clsAuthFileByUser)

CDOAuthFileByUser::CDOAuthFileByUser(CDOFile* file, CDOUser* user, long permission)
    : CDOAuthFileByUser() {
  if (file != nullptr) SetFileId(JoinedText(file, &CDOFile::GetUuid).c_str());
  if (user != nullptr) {
    SetUserId(JoinedText(user, &CDOUser::GetId).c_str());
    SetUserDeptPath(JoinedText(user, &CDOUser::GetDepartmentPath).c_str());
    SetUserName(JoinedText(user, &CDOUser::GetName).c_str());
  }
  SetPermission(permission);
}

int CDOAuthFileByUser::IsAuthorizedTo(CDOUser* user) {
  if (user == nullptr) return 0;
  return JoinedText(this, &CDOAuthFileByUser::GetUserId) == JoinedText(user, &CDOUser::GetId) ? 1
                                                                                              : 0;
}

}  // namespace docsec
