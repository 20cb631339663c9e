// ExpectWellFormedClass<T>: the check every data-object class test runs once. It catches the
// mistakes that otherwise fail silently: a constructor that does not adopt the class's own schema,
// CreateInstance of the wrong class, identity functions that disagree with the table, a shared
// instance of another class, and an attribute constant whose declaration did not reach the schema
// with its type and lists.
#ifndef DOCSEC_TESTING_CLASS_CHECKS_H_
#define DOCSEC_TESTING_CLASS_CHECKS_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <type_traits>
#include <typeinfo>

#include "docsec/core/data_object.h"

namespace docsec {

// Reads a data object's schema (a friend of CDataObject, for test checks only).
class DataObjectAccess {
 public:
  static const ClassSchema& Schema(const CDataObject& object) { return object.schema(); }
};

namespace testing {

// True when T has a shared instance of its own (not one inherited from its parent).
template <class T, class = void>
struct HasClassInstance : std::false_type {};
template <class T>
struct HasClassInstance<T, std::void_t<decltype(T::GetClassInstance())>>
    : std::is_same<decltype(T::GetClassInstance()), T*> {};

// Checks that `attr` is in T's schema as declared.
inline void ExpectDeclared(const ClassSchema& schema, const Attr& attr) {
  const int slot = schema.SlotOf(attr.name);
  // A copy: binding the class constant by reference would need it exported from the DLL.
  const int no_slot = ClassSchema::kNoSlot;
  ASSERT_NE(slot, no_slot) << attr.name;
  EXPECT_EQ(schema.SlotType(slot), attr.type) << attr.name;
  EXPECT_EQ(schema.IgnoresCase(slot), (attr.flags & kAttrIgnoreCase) != 0) << attr.name;
  auto listed = [&](const NameList& names) {
    for (const std::string& name : names)
      if (name == attr.name) return true;
    return false;
  };
  EXPECT_EQ(listed(schema.attribute_names()), (attr.flags & kAttrListed) != 0) << attr.name;
  EXPECT_EQ(listed(schema.load_only_names()), (attr.flags & kAttrLoadOnly) != 0) << attr.name;
  EXPECT_EQ(listed(schema.key_names()), (attr.flags & kAttrKeyOnly) != 0) << attr.name;
}

template <class T>
void ExpectWellFormedClass(CEnumDataObjectType type, const char* object_name, const char* xml_tag) {
  T object;
  EXPECT_TRUE(object.HasOwnSchema()) << typeid(T).name() << " did not adopt its own schema";
  EXPECT_EQ(object.GetObjectType(), type);
  EXPECT_EQ(object.GetObjectName(), object_name);
  EXPECT_EQ(object.GetObjectXMLTagName(), xml_tag);
  EXPECT_EQ(object.GetDataSource(), 1);
  std::unique_ptr<CDataObject> made(object.CreateInstance());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(typeid(*made), typeid(T)) << "CreateInstance makes another class";
  EXPECT_TRUE(made->HasOwnSchema());
  const ClassSchema& schema = DataObjectAccess::Schema(object);
  for (const Attr* attr : T::kAttributes) ExpectDeclared(schema, *attr);
  if constexpr (HasClassInstance<T>::value) {
    T* shared = T::GetClassInstance();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared, T::GetClassInstance());
    EXPECT_EQ(typeid(*shared), typeid(T));
  }
}

// One row of a folder's class table: the check of one class and the identity it must have.
struct ClassRow {
  void (*check)(CEnumDataObjectType, const char*, const char*);
  CEnumDataObjectType type;
  const char* object_name;
  const char* xml_tag;
};

// Runs every row's check, each failure naming its class.
inline void ExpectWellFormedClasses(std::initializer_list<ClassRow> rows) {
  for (const ClassRow& row : rows) {
    SCOPED_TRACE(row.object_name);
    row.check(row.type, row.object_name, row.xml_tag);
  }
}

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_CLASS_CHECKS_H_
