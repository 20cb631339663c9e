#include "docsec/org/ip_segment.h"

#include "docsec/org/department.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOIpSegment, kObjectTypeIpSegment, "IpSegment", "ip", s_clsIpSegment)

CDOIpSegment::CDOIpSegment(CDOIpSegment* other) : CDOIpSegment() { CopyAttrValues(other); }

CDODepartment* CDOIpSegment::GetOwnerDepartment() { return owner_; }
void CDOIpSegment::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

int CDOIpSegment::UpdateIpSegment(CDOIpSegment*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::AddIpSegment(DataObjectList*, bool) {
  return 0;  // Not yet implemented.
}
int CDODepartment::RemoveIpSegment(DataObjectList*, bool) {
  return 0;  // Not yet implemented.
}
int CDODepartment::ClearComputerIpSegment(bool) {
  return 0;  // Not yet implemented.
}
void CDODepartment::RemoveAllIpSegmentsFromDept(int) {}  // Not yet implemented.

}  // namespace docsec
