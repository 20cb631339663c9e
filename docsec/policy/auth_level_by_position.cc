#include "docsec/policy/auth_level_by_position.h"

#include "docsec/policy/internal/position_entry.h"
#include "docsec/policy/policy.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthLevelByPosition, kObjectTypeAuthLevelByPosition,
                          "PositionAuthorization", "positionAuthorization",
                          s_clsAuthLevelByPosition)

CDOAuthLevelByPosition::CDOAuthLevelByPosition(CDOPolicy* policy, CDOPosition* position,
                                               long permission)
    : CDOAuthLevelByPosition() {
  owner_ = policy;
  if (policy != nullptr) {
    SetOwnerDeptId(policy->GetOwnerDeptId());
    SetSecretLevelId(policy->GetSecretLevelId());
  }
  if (position != nullptr) internal::CopyPosition(this, position);
  SetPermission(permission);
}

int CDOAuthLevelByPosition::IsAuthorizedTo(CDOPosition* position) {
  return internal::IsEntryForPosition(this, position);
}

}  // namespace docsec
