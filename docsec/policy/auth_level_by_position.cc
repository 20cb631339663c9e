#include "docsec/policy/auth_level_by_position.h"

#include "docsec/policy/internal/joined_text.h"
#include "docsec/policy/policy.h"
#include "docsec/users/position.h"

namespace docsec {

using internal::JoinedText;

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
  if (position != nullptr) {
    SetPositionId(position->GetPositionId());
    SetPositionDeptId(position->GetDepartmentId());
    SetPositionDeptName(JoinedText(position, &CDOPosition::GetDepartmentPath).c_str());
    SetPositionName(JoinedText(position, &CDOPosition::GetPositionName).c_str());
  }
  SetPermission(permission);
}

int CDOAuthLevelByPosition::IsAuthorizedTo(CDOPosition* position) {
  if (position == nullptr) return 0;
  return GetPositionDeptId() == position->GetDepartmentId() &&
                 JoinedText(this, &CDOAuthLevelByPosition::GetPositionName) ==
                     JoinedText(position, &CDOPosition::GetPositionName)
             ? 1
             : 0;
}

}  // namespace docsec
