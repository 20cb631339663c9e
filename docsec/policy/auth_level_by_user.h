// CDOAuthLevelByUser: an entry of a department policy granting one user a permission word on the
// documents of one secret level of one department. It copies what the server needs from the policy
// and the user at construction, so it can be sent and shown without them.
//
// Ownership: the owner policy is a back reference. Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_AUTH_LEVEL_BY_USER_H_
#define DOCSEC_POLICY_AUTH_LEVEL_BY_USER_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOPolicy;
class CDOUser;

class DOCSEC_EXPORT CDOAuthLevelByUser : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOAuthLevelByUser)

  static constexpr Attr kAuthorizeDeptId{"authorizeDeptId", kVtInt, kAttrKey};
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtInt, kAttrKey};
  static constexpr Attr kUserId{"userId", kVtBstr, kAttrKey};
  static constexpr Attr kPermission{"permission", kVtInt};
  static constexpr Attr kAuthorizeDeptPath{"authorizeDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kUserDeptPath{"userDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kUserName{"userName", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kUserDeptId{"userDeptId", kVtInt, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kAuthorizeDeptId, &kSecretLevelId, &kUserId, &kPermission, &kAuthorizeDeptPath,
            &kUserDeptPath, &kUserName, &kUserDeptId);

  // Joins a policy and a user: department and level from the policy, the user's id, name,
  // department and its path from the user (a text of more than 519 bytes arrives empty), and the
  // permission. A null partner leaves its part unset.
  CDOAuthLevelByUser(CDOPolicy* policy, CDOUser* user, long permission);

  // Own virtual operations, in slot order. The owner policy is a back reference.
  virtual CDOPolicy* GetOwnerPolicy() { return policy_; }
  virtual void SetOwnerPolicy(CDOPolicy* policy) { policy_ = policy; }

  // 1 when the entry belongs to that user: its whole "userId" is the user's "id", byte for byte; 0
  // for null or for an entry without "userId".
  int IsAuthorizedTo(CDOUser* user);

  DOCSEC_INT_PROPERTY(OwnerDeptId, kAuthorizeDeptId)
  DOCSEC_TEXT_PROPERTY(OwnerDeptPath, kAuthorizeDeptPath)
  DOCSEC_INT_PROPERTY(SecretLevelId, kSecretLevelId)
  DOCSEC_TEXT_PROPERTY(UserId, kUserId)
  int GetUserNameA(char* buffer, unsigned long size) { return GetText(kUserName, buffer, size); }
  int SetUserName(const char* text) { return SetText(kUserName, text); }
  DOCSEC_INT_PROPERTY(UserDeptId, kUserDeptId)
  DOCSEC_TEXT_PROPERTY(UserDeptPath, kUserDeptPath)
  DOCSEC_INT_PROPERTY(Permission, kPermission)

 private:
  CDOPolicy* policy_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_AUTH_LEVEL_BY_USER_H_
