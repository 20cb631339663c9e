// Data-object classes for tests and benchmarks, written with the data-object kit. They declare the
// attributes of the classes they stand in for (same names, types and keys, same object names and
// tags), and open the protected attribute store so tests can set and read values directly.
#ifndef DOCSEC_TESTING_TEST_OBJECTS_H_
#define DOCSEC_TESTING_TEST_OBJECTS_H_

#include "docsec/core/data_object_class.h"

namespace docsec {
namespace testing {

// Opens the attribute store of a data-object class.
template <class Base>
class Open : public Base {
 public:
  using Base::AssemblyConditionXmlNode;
  using Base::CheckSearchCondition;
  using Base::EqualsValue;
  using Base::GetAttrNames;
  using Base::GetAttrType;
  using Base::GetAttrValue;
  using Base::GetBool;
  using Base::GetDate;
  using Base::GetInt32;
  using Base::GetInt64;
  using Base::GetKeyAttrNames;
  using Base::GetText;
  using Base::SetAttrValue;
  using Base::SetBool;
  using Base::SetDate;
  using Base::SetInt32;
  using Base::SetInt64;
  using Base::SetText;
};

// Stands in for a department: keys id and isDelSubDeptIpSegment, two load-only attributes, and
// owned lists of sub-departments and users whose members point back at it.
class UserLike;
class DepartmentLike : public Open<CDataObject> {
  DOCSEC_DATA_OBJECT(DepartmentLike)
  static constexpr Attr kId{"id", kVtInt, kAttrKey};
  static constexpr Attr kName{"name"};
  static constexpr Attr kSuperDeptId{"superDeptId", kVtInt};
  static constexpr Attr kIsDelSubDeptIpSegment{"isDelSubDeptIpSegment", kVtBool, kAttrKey};
  static constexpr Attr kSuperDeptPath{"superDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kIsSystemDefault{"isSystemDefault", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes = Attrs(&kId, &kName, &kSuperDeptId, &kIsDelSubDeptIpSegment,
                                            &kSuperDeptPath, &kIsSystemDefault);

  long GetId() { return GetInt32(kId); }
  int SetId(long id) { return SetInt32(kId, id); }
  int GetName(char* buffer, unsigned long size) { return GetText(kName, buffer, size); }
  int SetName(const char* name) { return SetText(kName, name); }

  int LoadFromXmlNode(const XmlElement& element) override;
  DataObjectList* GetSubDepartments() { return departments_.get(); }
  DataObjectList* GetUsers();
  DepartmentLike* GetOwnerDepartment() { return owner_; }

 private:
  OwnedList<DepartmentLike> departments_;
  OwnedList<UserLike> users_;
  DepartmentLike* owner_ = nullptr;
};

// Stands in for a user: id, name, loginName, deptId, isSupervisor, createTime; key id.
class UserLike : public Open<CDataObject> {
  DOCSEC_DATA_OBJECT(UserLike)
  static constexpr Attr kId{"id", kVtInt, kAttrKey};
  static constexpr Attr kName{"name"};
  static constexpr Attr kLoginName{"loginName"};
  static constexpr Attr kDeptId{"deptId", kVtInt};
  static constexpr Attr kIsSupervisor{"isSupervisor", kVtBool};
  static constexpr Attr kCreateTime{"createTime", kVtDate};
  static constexpr auto kAttributes =
      Attrs(&kId, &kName, &kLoginName, &kDeptId, &kIsSupervisor, &kCreateTime);

  bool IsSupervisor() { return GetBool(kIsSupervisor); }
  double GetCreateTime() { return GetDate(kCreateTime); }
  DepartmentLike* owner = nullptr;
};

// A subclass of UserLike adding one attribute: the declarations of both levels, parent first.
class SupervisorLike : public UserLike {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(SupervisorLike)
  static constexpr Attr kLevel{"level", kVtInt};
  static constexpr auto kAttributes = Attrs(&kLevel);
};

// Stands in for an appointment: userId, positionId, no keys.
class AppointmentLike : public Open<CDataObject> {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(AppointmentLike)
  static constexpr Attr kUserId{"userId", kVtInt};
  static constexpr Attr kPositionId{"positionId", kVtInt};
  static constexpr auto kAttributes = Attrs(&kUserId, &kPositionId);
};

// Stands in for a scan file extension: its name compares ignoring case.
class ExtendLike : public Open<CDataObject> {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(ExtendLike)
  static constexpr Attr kName{"name", kVtBstr, kAttrListed | kAttrIgnoreCase};
  static constexpr auto kAttributes = Attrs(&kName);
};

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_TEST_OBJECTS_H_
