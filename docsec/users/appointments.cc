// Appointments of users to positions, kept and sent from both sides.
#include "docsec/users/position.h"
#include "docsec/users/user.h"
#include "docsec/users/user_appointment.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOUserAppointment, kObjectTypeNone, "UserAccession", "userAccession",
                          s_clsUserAppointment)

DataObjectList* CDOPosition::GetAppointments() {
  return nullptr;  // Not yet implemented.
}
int CDOPosition::ApplyAppointments() {
  return 0;  // Not yet implemented.
}
CDOUser* CDOPosition::AppointUser(CDOUser*) {
  return nullptr;  // Not yet implemented.
}
int CDOPosition::RevokeUser(CDOUser*) {
  return 0;  // Not yet implemented.
}
DataObjectList* CDOPosition::GetSubPositions() {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDOUser::GetAppointments() {
  return nullptr;  // Not yet implemented.
}
int CDOUser::ApplyAppointments() {
  return 0;  // Not yet implemented.
}
CDOPosition* CDOUser::AppointPosition(CDOPosition*) {
  return nullptr;  // Not yet implemented.
}
int CDOUser::RevokePosition(CDOPosition*) {
  return 0;  // Not yet implemented.
}
int CDOUserAppointment::IsAppointTo(CDOUser*) {
  return 0;  // Not yet implemented.
}
int CDOUserAppointment::IsAppointed(CDOPosition*) {
  return 0;  // Not yet implemented.
}
CDOUserAppointment::CDOUserAppointment(CDOUser*, CDOPosition*) : CDOUserAppointment() {
  // Not yet implemented.
}

}  // namespace docsec
