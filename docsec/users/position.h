// CDOPosition: a named post inside a department, to which users are appointed; policies and file
// authorizations may be granted to a position instead of to each user.
//
// Ownership: the position owns its appointed users and its sub-positions with their members; the
// owner department is a back reference. Thread safety: one thread at a time.
#ifndef DOCSEC_USERS_POSITION_H_
#define DOCSEC_USERS_POSITION_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDODepartment;
class CDOUser;

class DOCSEC_EXPORT CDOPosition : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOPosition)

  static constexpr Attr kId{"id", kVtInt, kAttrKey};
  static constexpr Attr kIsWithSubPositions{"isWithSubPositions", kVtBool, kAttrKey};
  static constexpr Attr kDepartmentId{"departmentId", kVtInt, kAttrKey};
  static constexpr Attr kPositionName{"positionName", kVtBstr, kAttrKey};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kIsSysCreate{"isSysCreate", kVtBool};
  static constexpr Attr kDepartmentPath{"departmentPath", kVtBstr, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kId, &kIsWithSubPositions, &kDepartmentId, &kPositionName, &kDescription,
            &kIsSysCreate, &kDepartmentPath);

  // Copies every attribute value and the owner department, neither list.
  explicit CDOPosition(CDOPosition* other);
  ~CDOPosition() override;

  // Own virtual operations, in slot order.
  virtual CDODepartment* GetOwnerDepartment();
  virtual void SetOwnerDepartment(CDODepartment* owner);

  long GetPositionId() { return GetInt32(kId); }
  DOCSEC_TEXT_PROPERTY(PositionName, kPositionName)
  DOCSEC_INT_PROPERTY(DepartmentId, kDepartmentId)
  DOCSEC_TEXT_PROPERTY(Description, kDescription)
  DOCSEC_BOOL_PROPERTY(IsSystemCreate, kIsSysCreate)
  // Non-zero asks the server for the positions below this one.
  int SetSubPosition(long on) { return SetInt32(kIsWithSubPositions, on); }

  // As CDOUser::GetDepartmentPath: from the loaded tree, else the "departmentPath" sent.
  int GetDepartmentPath(char* buffer, unsigned long size);
  // Appointed users, freshly read ("QueryPositionAppointment"; unapplied changes are dropped);
  // owned by the position. Null when the exchange failed.
  DataObjectList* GetAppointments();
  // "SetPositionAppointment": the key element holding every appointed user's full element.
  int ApplyAppointments();
  // Appends a copy of `user` (owned by the position) and returns it; null when an equal user is
  // appointed already. Nothing is sent.
  CDOUser* AppointUser(CDOUser* user);
  // Removes and deletes the first appointed user equal to `user`; 1, or 0 when none is.
  int RevokeUser(CDOUser* user);
  // Positions below this one, freshly read ("QueryPosition" with isWithSubPositions, which stays
  // set); owned by the position. Null when the exchange failed.
  DataObjectList* GetSubPositions();

 private:
  OwnedList<CDOUser> users_;
  OwnedList<CDOPosition> sub_positions_;
  CDODepartment* owner_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_USERS_POSITION_H_
