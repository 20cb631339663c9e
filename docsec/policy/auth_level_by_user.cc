#include "docsec/policy/auth_level_by_user.h"

#include "docsec/core/copied_text.h"
#include "docsec/policy/policy.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthLevelByUser, kObjectTypeAuthLevelByUser, "UserAuthorization",
                          "userAuthorization", s_clsAuthLevelByUser)

CDOAuthLevelByUser::CDOAuthLevelByUser(CDOPolicy* policy, CDOUser* user, long permission)
    : CDOAuthLevelByUser() {
  policy_ = policy;
  if (policy != nullptr) {
    SetOwnerDeptId(policy->GetOwnerDeptId());
    SetSecretLevelId(policy->GetSecretLevelId());
  }
  if (user != nullptr) {
    SetUserDeptId(user->GetDepartmentId());
    SetUserDeptPath(CopiedText(user, &CDOUser::GetDepartmentPath).c_str());
    SetUserId(CopiedText(user, &CDOUser::GetId).c_str());
    SetUserName(CopiedText(user, &CDOUser::GetName).c_str());
  }
  SetPermission(permission);
}

int CDOAuthLevelByUser::IsAuthorizedTo(CDOUser* user) {
  return HasText(user, &CDOUser::GetId, GetText(kUserId)) ? 1 : 0;
}

}  // namespace docsec
