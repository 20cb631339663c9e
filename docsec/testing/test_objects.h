// Data-object classes for tests and benchmarks. They declare the attributes of the real classes
// they stand in for (same names, types and keys, same object names and tags), and open the
// protected attribute store so tests can set and read values directly.
#ifndef DOCSEC_TESTING_TEST_OBJECTS_H_
#define DOCSEC_TESTING_TEST_OBJECTS_H_

#include "docsec/core/data_object.h"

namespace docsec {
namespace testing {

// Opens the attribute store of a data-object class.
template <class Base>
class Open : public Base {
 public:
  using Base::GetAttrType;
  using Base::GetAttrValue;
  using Base::SetAttrValue;
  using Base::AssemblyConditionXmlNode;
  using Base::CheckSearchCondition;
  using Base::EqualsValue;
  using Base::GetAttrNames;
  using Base::GetKeyAttrNames;
};

// Stands in for a department: id, name, superDeptId, isDelSubDeptIpSegment; load-only
// superDeptPath and isSystemDefault; keys id and isDelSubDeptIpSegment.
class DepartmentLike : public Open<CDataObject> {
 public:
  DepartmentLike();
  CDataObject* CreateInstance() override;
  CEnumDataObjectType GetObjectType() override { return kObjectTypeDepartment; }
  std::string GetObjectName() override { return "Department"; }
  std::string GetObjectXMLTagName() override { return "department"; }
  static DepartmentLike* GetClassInstance();

 protected:
  void Initialize() override;

 private:
  static ClassSchemaSlot s_schema;
};

// Stands in for a user: id, name, loginName, deptId, isSupervisor, createTime; key id.
class UserLike : public Open<CDataObject> {
 public:
  UserLike();
  CDataObject* CreateInstance() override;
  CEnumDataObjectType GetObjectType() override { return kObjectTypeUser; }
  std::string GetObjectName() override { return "User"; }
  std::string GetObjectXMLTagName() override { return "user"; }
  static UserLike* GetClassInstance();

 protected:
  void Initialize() override;

 private:
  static ClassSchemaSlot s_schema;
};

// A subclass of UserLike adding one attribute: the declarations of both levels, parent first.
class SupervisorLike : public UserLike {
 public:
  SupervisorLike();
  CDataObject* CreateInstance() override;

 protected:
  void Initialize() override;

 private:
  static ClassSchemaSlot s_schema;
};

// Stands in for an appointment: userId, positionId, no keys.
class AppointmentLike : public Open<CDataObject> {
 public:
  AppointmentLike();
  CDataObject* CreateInstance() override;
  std::string GetObjectName() override { return "UserAccession"; }
  std::string GetObjectXMLTagName() override { return "userAccession"; }

 protected:
  void Initialize() override;

 private:
  static ClassSchemaSlot s_schema;
};

// Stands in for a scan file extension (type 14, text compared ignoring case): name.
class ExtendLike : public Open<CDataObject> {
 public:
  ExtendLike();
  CDataObject* CreateInstance() override;
  CEnumDataObjectType GetObjectType() override { return kObjectTypeScanFileExtend; }
  std::string GetObjectName() override { return "Extend"; }
  std::string GetObjectXMLTagName() override { return "extend"; }

 protected:
  void Initialize() override;

 private:
  static ClassSchemaSlot s_schema;
};

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_TEST_OBJECTS_H_
