#include "docsec/org/department.h"

#include "docsec/computers/computer.h"
#include "docsec/org/ip_segment.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDODepartment, kObjectTypeDepartment, "Department", "department",
                          s_clsDepartment)

CDODepartment::~CDODepartment() = default;

CDODepartment* CDODepartment::GetOwnerDepartment() { return owner_; }
void CDODepartment::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

int CDODepartment::LoadFromXmlNode(const XmlElement& element) {
  if (!element) return 0;
  departments_.Load(element, [this](CDODepartment* child) { child->SetOwnerDepartment(this); });
  computers_.Load(element, [this](CDOComputer* child) { child->SetOwnerDepartment(this); });
  positions_.Load(element, [this](CDOPosition* child) { child->SetOwnerDepartment(this); });
  users_.Load(element, [this](CDOUser* child) { child->SetOwnerDepartment(this); });
  segments_.Load(element, [this](CDOIpSegment* child) { child->SetOwnerDepartment(this); });
  return CDataObject::LoadFromXmlNode(element);
}

int CDODepartment::RefreshSubObjects(int, int, int, int, int) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RefreshSubObjectsEx(int, int, int, int, int, int) {
  return 0;  // Not yet implemented.
}
int CDODepartment::GetFullPath(char*, unsigned long) {
  return 0;  // Not yet implemented.
}
int CDODepartment::SetFullPath(char*) {
  return 0;  // Not yet implemented.
}
CDODepartment* CDODepartment::FindDepartmentById(long) {
  return nullptr;  // Not yet implemented.
}
CDOComputer* CDODepartment::FindComputerByUuid(const char*) {
  return nullptr;  // Not yet implemented.
}
CDOComputer* CDODepartment::FindComputerByIp(const char*) {
  return nullptr;  // Not yet implemented.
}
CDOComputer* CDODepartment::FindOnlineComputer(const char*) {
  return nullptr;  // Not yet implemented.
}
CDOComputer* CDODepartment::FindOnlineComputer(unsigned long) {
  return nullptr;  // Not yet implemented.
}
int CDODepartment::AddSubDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::AddComputer(CDOComputer*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::AddPosition(CDOPosition*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::AddUser(CDOUser*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RemoveSubDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RemoveComputer(CDOComputer*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RemovePosition(CDOPosition*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RemoveUser(CDOUser*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveInSubDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveInComputer(CDOComputer*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveInUser(CDOUser*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveOutSubDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveOutComputer(CDOComputer*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::MoveOutUser(CDOUser*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::ChangeDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
