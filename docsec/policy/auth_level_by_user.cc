#include "docsec/policy/auth_level_by_user.h"

#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthLevelByUser, kObjectTypeAuthLevelByUser, "UserAuthorization",
                          "userAuthorization", s_clsAuthLevelByUser)

CDOAuthLevelByUser::CDOAuthLevelByUser(CDOPolicy* policy, CDOUser*, long permission)
    : CDOAuthLevelByUser() {
  policy_ = policy;  // Not yet filled from the policy and the user.
  SetPermission(permission);
}

int CDOAuthLevelByUser::IsAuthorizedTo(CDOUser*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
