#include "docsec/testing/test_objects.h"

#include <new>

#include "docsec/core/shared_instance.h"

namespace docsec {
namespace testing {

ClassSchemaSlot DepartmentLike::s_schema;
ClassSchemaSlot UserLike::s_schema;
ClassSchemaSlot SupervisorLike::s_schema;
ClassSchemaSlot AppointmentLike::s_schema;
ClassSchemaSlot ExtendLike::s_schema;

namespace {
SharedInstance<DepartmentLike> s_clsDepartmentLike;
SharedInstance<UserLike> s_clsUserLike;
}  // namespace

DepartmentLike::DepartmentLike() { InitializeClass(s_schema); }
CDataObject* DepartmentLike::CreateInstance() { return new (std::nothrow) DepartmentLike; }
DepartmentLike* DepartmentLike::GetClassInstance() { return s_clsDepartmentLike.Get(); }
void DepartmentLike::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("name");
  AddAttribute("superDeptId", kVtInt);
  AddAttribute("isDelSubDeptIpSegment", kVtBool);
  AddLoadOnlyAttribute("superDeptPath");
  AddLoadOnlyAttribute("isSystemDefault", kVtBool);
  AddKeyAttribute("id");
  AddKeyAttribute("isDelSubDeptIpSegment");
}

UserLike::UserLike() { InitializeClass(s_schema); }
CDataObject* UserLike::CreateInstance() { return new (std::nothrow) UserLike; }
UserLike* UserLike::GetClassInstance() { return s_clsUserLike.Get(); }
void UserLike::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("name");
  AddAttribute("loginName");
  AddAttribute("deptId", kVtInt);
  AddAttribute("isSupervisor", kVtBool);
  AddAttribute("createTime", kVtDate);
  AddKeyAttribute("id");
}

SupervisorLike::SupervisorLike() { InitializeClass(s_schema); }
CDataObject* SupervisorLike::CreateInstance() { return new (std::nothrow) SupervisorLike; }
void SupervisorLike::Initialize() { AddAttribute("level", kVtInt); }

AppointmentLike::AppointmentLike() { InitializeClass(s_schema); }
CDataObject* AppointmentLike::CreateInstance() { return new (std::nothrow) AppointmentLike; }
void AppointmentLike::Initialize() {
  AddAttribute("userId", kVtInt);
  AddAttribute("positionId", kVtInt);
}

ExtendLike::ExtendLike() { InitializeClass(s_schema); }
CDataObject* ExtendLike::CreateInstance() { return new (std::nothrow) ExtendLike; }
void ExtendLike::Initialize() { AddAttribute("name"); }

}  // namespace testing
}  // namespace docsec
