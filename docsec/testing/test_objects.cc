#include "docsec/testing/test_objects.h"

namespace docsec {
namespace testing {

DOCSEC_DEFINE_DATA_OBJECT(DepartmentLike, kObjectTypeDepartment, "Department", "department",
                          s_clsDepartmentLike)
DOCSEC_DEFINE_DATA_OBJECT(UserLike, kObjectTypeUser, "User", "user", s_clsUserLike)
DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(SupervisorLike, kObjectTypeUser, "User", "user")
DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(AppointmentLike, kObjectTypeNone, "UserAccession",
                                      "userAccession")
DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(ExtendLike, kObjectTypeScanFileExtend, "Extend", "extend")

int DepartmentLike::LoadFromXmlNode(const XmlElement& element) {
  departments_.Load(element, [this](DepartmentLike* child) { child->owner_ = this; });
  users_.Load(element, [this](UserLike* child) { child->owner = this; });
  return CDataObject::LoadFromXmlNode(element);
}

DataObjectList* DepartmentLike::GetUsers() { return users_.get(); }

}  // namespace testing
}  // namespace docsec
