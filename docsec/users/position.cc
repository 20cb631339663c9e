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

int CDOPosition::GetDepartmentPath(char* buffer, unsigned long size) {
  // The owner's full path is its parent's path, "/" and its name: the path of the position's
  // department.
  if (owner_ != nullptr) return owner_->GetFullPath(buffer, size);
  return GetText(kDepartmentPath, buffer, size);
}

}  // namespace docsec
