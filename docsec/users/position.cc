#include "docsec/users/position.h"

#include "docsec/org/department.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOPosition, kObjectTypePosition, "Position", "position", s_clsPosition)

CDOPosition::CDOPosition(CDOPosition* other) : CDOPosition() {
  CopyAttrValues(other);
  if (other != nullptr) owner_ = other->owner_;
}

CDOPosition::~CDOPosition() = default;

CDODepartment* CDOPosition::GetOwnerDepartment() { return owner_; }
void CDOPosition::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

int CDOPosition::GetDepartmentPath(char*, unsigned long) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
