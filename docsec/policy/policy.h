// CDOPolicy: binds one department to one secret level and lists who may work with documents of
// that level there: authorizations by position and by user, each with a permission word. Grant and
// refuse change only the lists in memory; the department's ApplyPolicy sends them.
//
// Ownership: the policy owns both authorization lists with their entries, except an entry handed
// back by RefuseUser/RefusePosition, which the caller then owns; the owner department is a back
// reference, never deleted through the policy. Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_POLICY_H_
#define DOCSEC_POLICY_POLICY_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOAuthLevelByPosition;
class CDOAuthLevelByUser;
class CDODepartment;
class CDOPosition;
class CDOSecretLevel;
class CDOUser;

class DOCSEC_EXPORT CDOPolicy : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOPolicy)

  static constexpr Attr kOwnerDeptId{"ownerDeptId", kVtInt, kAttrKey};
  // Text on the wire (kept as the server sends it), an integer to callers.
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtBstr, kAttrKey};
  static constexpr auto kAttributes = Attrs(&kOwnerDeptId, &kSecretLevelId);

  // A policy of `department` for `level` (their ids copied; a null one leaves its id unset), with
  // both lists present and empty (so it takes no authorizations from a later load).
  CDOPolicy(CDODepartment* department, CDOSecretLevel* level);

  DOCSEC_INT_PROPERTY(OwnerDeptId, kOwnerDeptId)
  DOCSEC_INT_PROPERTY(SecretLevelId, kSecretLevelId)

  // Loads the policy's attributes and, into lists still absent, its authorizations.
  int LoadFromXmlNode(const XmlElement& element) override;

  // Own virtual operations, in slot order.
  virtual CDODepartment* GetOwnerDepartment() { return owner_; }
  virtual void SetOwnerDepartment(CDODepartment* department) { owner_ = department; }
  // Appends the policy's key element under `parent` holding the full elements of the position and
  // then the user authorizations whose permission is not 0; returns the policy element.
  virtual XmlElement AssemblyXMLNodeWithAuth(const XmlElement& parent);
  // Loads the attributes, then "positionAuthorization" and "userAuthorization" children into the
  // lists that are still absent (a present list, even empty, is kept); 1.
  virtual int LoadFromXmlNodeWithAuth(const XmlElement& element);

  // CDOSecretLevel::GetInstanceById(secretLevelId): the null level when unknown, never null.
  CDOSecretLevel* GetSecretLevel();
  // The lists, created empty when absent; owned by the policy.
  DataObjectList* GetAuthByPosition() { return position_auths_.Ensure(); }
  DataObjectList* GetAuthByUser() { return user_auths_.Ensure(); }
  // A new list (the caller deletes the list, not the entries) of the entries whose permission is
  // not 0, in list order; null when the policy's list is absent or empty.
  DataObjectList* GetValidAuthByPosition();
  DataObjectList* GetValidAuthByUser();
  // 1 when no entry of either list has a non-zero permission.
  int IsEmpty();
  // A new entry appended to the list and returned (owned by the policy); null when the user or
  // position already has one (a user is known by its account "id", a position by its department
  // and name) or is null. Nothing is sent: ApplyPolicy of the department does.
  CDOAuthLevelByUser* GrantUser(CDOUser* user, long permission);
  CDOAuthLevelByPosition* GrantPosition(CDOPosition* position, long permission);
  // Removes `entry` (that very object) from its list and hands it to the caller, who owns it from
  // then on and deletes it; 1 when it was there, else 0 (the policy's lists stay as they were).
  int RefuseUser(CDOAuthLevelByUser* entry);
  int RefusePosition(CDOAuthLevelByPosition* entry);
  // GrantPosition for a position (type 3), GrantUser for a user (type 4); null for null or any
  // other object.
  CDataObject* GrantRole(CDataObject* role, long permission);
  // RefusePosition for type 8, RefuseUser for type 9 (the caller owns the removed entry); 0
  // otherwise.
  int RefuseRole(CDataObject* entry);

 private:
  OwnedList<CDOAuthLevelByPosition> position_auths_;
  OwnedList<CDOAuthLevelByUser> user_auths_;
  CDODepartment* owner_ = nullptr;  // a back reference, never deleted through the policy
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_POLICY_H_
