// CDOAuthLevelByPosition: an entry of a department policy granting one position a permission word
// on the documents of the policy's secret level. It copies what the server needs from the policy
// and the position when it is made, so it can be sent and shown without them.
//
// Ownership: entries belong to the policy's list that holds them; the owner policy is a back
// reference. Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_AUTH_LEVEL_BY_POSITION_H_
#define DOCSEC_POLICY_AUTH_LEVEL_BY_POSITION_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOPolicy;
class CDOPosition;

class DOCSEC_EXPORT CDOAuthLevelByPosition : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOAuthLevelByPosition)

  static constexpr Attr kOwnerDeptId{"ownerDeptId", kVtInt, kAttrKey};
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtInt, kAttrKey};
  static constexpr Attr kPositionId{"positionId", kVtInt, kAttrKey};
  static constexpr Attr kAuthorizeDeptId{"authorizeDeptId", kVtInt, kAttrKey};  // the position's
  static constexpr Attr kPositionName{"positionName", kVtBstr, kAttrKey};
  static constexpr Attr kPermission{"permission", kVtInt};  // 0: no permission
  static constexpr Attr kAuthorizeDeptPath{"authorizeDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kOwnerDeptId, &kSecretLevelId, &kPositionId, &kAuthorizeDeptId, &kPositionName,
            &kPermission, &kAuthorizeDeptPath);

  // An entry of `policy` (its owner) for `position` with `permission`, copying the policy's
  // department and level and the position's id, department, department path and name.
  CDOAuthLevelByPosition(CDOPolicy* policy, CDOPosition* position, long permission);

  DOCSEC_INT_PROPERTY(OwnerDeptId, kOwnerDeptId)
  DOCSEC_INT_PROPERTY(SecretLevelId, kSecretLevelId)
  int SetPositionId(long id) { return SetInt32(kPositionId, id); }
  DOCSEC_INT_PROPERTY(PositionDeptId, kAuthorizeDeptId)
  DOCSEC_TEXT_PROPERTY(PositionDeptName, kAuthorizeDeptPath)
  DOCSEC_TEXT_PROPERTY(PositionName, kPositionName)
  DOCSEC_INT_PROPERTY(Permission, kPermission)

  // Own virtual operations, in slot order.
  // 1 when the entry is for `position`: same department and same name (byte for byte), whatever
  // the ids; 0 for null.
  virtual int IsAuthorizedTo(CDOPosition* position);
  virtual CDOPolicy* GetOwnerPolicy() { return owner_; }
  virtual void SetOwnerPolicy(CDOPolicy* policy) { owner_ = policy; }

 private:
  CDOPolicy* owner_ = nullptr;  // a back reference, never deleted through the entry
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_AUTH_LEVEL_BY_POSITION_H_
