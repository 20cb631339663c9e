// Appointments of users to positions, kept and sent from both sides: a position lists its users, a
// user its positions. Local changes stay in memory until the side's ApplyAppointments sends them.
#include "docsec/channel/outcome.h"
#include "docsec/core/copied_text.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"
#include "docsec/users/user_appointment.h"
#include "docsec/users/internal/user_lists.h"

namespace docsec {
namespace {

// Replaces `list` with the members `owner`'s look-up `operation` reads: the list present (possibly
// empty) after a good exchange, absent after a failed one. Unapplied local changes are dropped.
template <class T>
DataObjectList* Reload(CDataObject* owner, const char* operation, OwnedList<T>& list,
                       CDataObject* prototype) {
  list.Reset();
  DataObjectList* loaded = nullptr;
  const int ok = owner->LookupSubObjects(operation, &loaded, prototype);
  list.Adopt(loaded);
  if (!ok) list.Reset();
  return list.get();
}

// Appends a copy of `item` unless an equal member is there; the copy (owned by the list) or null.
template <class T>
T* AppendCopy(const char* operation, OwnedList<T>& list, T* item) {
  if (item == nullptr) {
    SetLibraryFailure(operation, "no object given");
    return nullptr;
  }
  list.Ensure();
  for (T* member : list) {
    if (member->Equals(item)) {
      SetLibraryFailure(operation, "appointed already");
      return nullptr;
    }
  }
  T* copy = new T(item);
  list.Add(copy);
  return copy;
}

}  // namespace

DOCSEC_DEFINE_DATA_OBJECT(CDOUserAppointment, kObjectTypeNone, "UserAccession", "userAccession",
                          s_clsUserAppointment)

// ---- the position's side ----

DataObjectList* CDOPosition::GetAppointments() {
  return Reload(this, "QueryPositionAppointment", users_, CDOUser::GetClassInstance());
}

int CDOPosition::ApplyAppointments() {
  return UpdateSubObjects("SetPositionAppointment", users_.get());
}

CDOUser* CDOPosition::AppointUser(CDOUser* user) { return AppendCopy("AppointUser", users_, user); }

int CDOPosition::RevokeUser(CDOUser* user) {
  if (user == nullptr) return SetLibraryFailure("RevokeUser", "no user given");
  for (CDOUser* member : users_) {
    if (member->Equals(user)) return users_.Delete(member) ? 1 : 0;
  }
  return SetLibraryFailure("RevokeUser", "the user is not appointed to the position");
}

DataObjectList* CDOPosition::GetSubPositions() {
  SetSubPosition(1);
  return Reload(this, "QueryPosition", sub_positions_, this);
}

// ---- the user's side ----

DataObjectList* CDOUser::GetAppointments() {
  return Reload(this, "QueryUserAccession", EnsureUserLists(lists_).appointments,
                CDOPosition::GetClassInstance());
}

int CDOUser::ApplyAppointments() {
  return UpdateSubObjects("SetUserAccession", lists_ ? lists_->appointments.get() : nullptr);
}

CDOPosition* CDOUser::AppointPosition(CDOPosition* position) {
  return AppendCopy("AppointPosition", EnsureUserLists(lists_).appointments, position);
}

int CDOUser::RevokePosition(CDOPosition* position) {
  // Only the list's own member: an equal copy held elsewhere is not this user's appointment.
  if (lists_ && lists_->appointments.Delete(position)) return 1;
  return SetLibraryFailure("RevokePosition", "the position is not one of the user's appointments");
}

// ---- the record of one appointment ----

CDOUserAppointment::CDOUserAppointment(CDOUser* user, CDOPosition* position)
    : CDOUserAppointment() {
  if (position != nullptr) {
    SetPositionDeptId(position->GetDepartmentId());
    SetPostionId(position->GetPositionId());
    SetPositionDeptPath(CopiedText(position, &CDOPosition::GetDepartmentPath).c_str());
    SetPositionName(CopiedText(position, &CDOPosition::GetPositionName).c_str());
  }
  if (user != nullptr) {
    SetUserDeptPath(CopiedText(user, &CDOUser::GetDepartmentPath).c_str());
    SetUserId(CopiedText(user, &CDOUser::GetId).c_str());
    SetUserName(CopiedText(user, &CDOUser::GetName).c_str());
  }
}

int CDOUserAppointment::IsAppointTo(CDOUser* user) {
  return HasText(user, &CDOUser::GetId, GetText(kUserId)) ? 1 : 0;
}

int CDOUserAppointment::IsAppointed(CDOPosition* position) {
  if (position == nullptr || position->GetDepartmentId() != GetInt32(kDepartmentId)) return 0;
  return HasText(position, &CDOPosition::GetPositionName, GetText(kPositionName)) ? 1 : 0;
}

}  // namespace docsec
