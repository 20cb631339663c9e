// Construction, identity, comparison, copying and the ownership functions.
#include "docsec/core/data_object.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

using testing::AppointmentLike;
using testing::DepartmentLike;
using testing::ExtendLike;
using testing::SupervisorLike;
using testing::UserLike;

// Counts live instances, to see what the ownership functions delete.
class Counted : public CDataObject {
 public:
  Counted() { ++alive; }
  ~Counted() override { --alive; }
  static inline int alive = 0;
};

TEST(DataObject, FreshObjectHasDataSourceOneNoValuesAndIsNotSystemDefault) {
  DepartmentLike d;
  EXPECT_EQ(d.GetDataSource(), 1);
  EXPECT_EQ(d.GetAttrValue("id"), nullptr);
  EXPECT_EQ(d.IsSystemDefault(), 0);
  d.SetAttrValue("isSystemDefault", Variant(true));
  EXPECT_EQ(d.IsSystemDefault(), 1);
  CDataObject base;
  EXPECT_EQ(base.GetObjectType(), kObjectTypeNone);
  EXPECT_EQ(base.GetObjectName(), "CDataObject");
  EXPECT_EQ(base.GetObjectXMLTagName(), "CDataObject");
}

TEST(DataObject, CreateInstanceMakesAnEmptyObjectOfTheSameClass) {
  DepartmentLike d;
  d.SetAttrValue("id", Variant(3));
  CDataObject* copy = d.CreateInstance();
  ASSERT_NE(dynamic_cast<DepartmentLike*>(copy), nullptr);
  EXPECT_EQ(static_cast<DepartmentLike*>(copy)->GetAttrValue("id"), nullptr);
  delete copy;
  ASSERT_NE(DepartmentLike::GetClassInstance(), nullptr);
  EXPECT_EQ(DepartmentLike::GetClassInstance(), DepartmentLike::GetClassInstance());
}

TEST(DataObject, SubclassDeclarationsFollowTheParents) {
  SupervisorLike s;
  const NameList& names = *s.GetAttrNames();
  ASSERT_EQ(names.size(), 7u);
  EXPECT_EQ(names.front(), "id");
  EXPECT_EQ(names.back(), "level");
  EXPECT_EQ(s.GetKeyAttrNames(), s.GetAttrNames());  // the key accessor gives the attribute list
  EXPECT_EQ(s.GetAttrType("level"), kVtInt);
  // The parent class's schema is not changed by the subclass.
  UserLike u;
  EXPECT_EQ(u.GetAttrNames()->size(), 6u);
}

TEST(DataObject, EqualsComparesKeysWhenTheClassHasThem) {
  DepartmentLike a, b;
  a.SetAttrValue("id", Variant(5));
  b.SetAttrValue("id", Variant(5));
  a.SetAttrValue("name", Variant("Sales"));
  b.SetAttrValue("name", Variant("Marketing"));
  EXPECT_EQ(a.Equals(&b), 1);
  a.SetAttrValue("isDelSubDeptIpSegment", Variant(false));
  EXPECT_EQ(a.Equals(&b), 0);
  EXPECT_EQ(b.Equals(&a), 0);
  b.SetAttrValue("isDelSubDeptIpSegment", Variant("false"));
  EXPECT_EQ(a.Equals(&b), 1);
  b.SetAttrValue("id", Variant(6));
  EXPECT_EQ(a.Equals(&b), 0);
  EXPECT_EQ(a.Equals(nullptr), 0);
}

TEST(DataObject, EqualsRejectsObjectsOfAnotherType) {
  DepartmentLike d;
  UserLike u;
  d.SetAttrValue("id", Variant(1));
  u.SetAttrValue("id", Variant(1));
  EXPECT_EQ(d.Equals(&u), 0);
  EXPECT_EQ(u.Equals(&d), 0);
}

TEST(DataObject, EqualsWithoutKeysComparesEveryAttribute) {
  AppointmentLike a, b;
  EXPECT_EQ(a.Equals(&b), 1);  // nothing set on either side
  a.SetAttrValue("userId", Variant(1));
  EXPECT_EQ(a.Equals(&b), 0);
  b.SetAttrValue("userId", Variant(1));
  b.SetAttrValue("positionId", Variant(2));
  EXPECT_EQ(a.Equals(&b), 0);
  a.SetAttrValue("positionId", Variant(2));
  EXPECT_EQ(a.Equals(&b), 1);
}

TEST(DataObject, TextComparisonIgnoresCaseOnlyForFileExtensions) {
  ExtendLike e;
  e.SetAttrValue("name", Variant("DOC"));
  Variant lower("doc"), longer("docx");
  EXPECT_EQ(e.EqualsValue("name", &lower), 1);
  EXPECT_EQ(e.EqualsValue("name", &longer), 0);
  UserLike u;
  u.SetAttrValue("name", Variant("Word"));
  Variant word("word"), exact("Word");
  EXPECT_EQ(u.EqualsValue("name", &word), 0);
  EXPECT_EQ(u.EqualsValue("name", &exact), 1);
  EXPECT_EQ(u.EqualsValue("name", nullptr), 0);
  EXPECT_EQ(u.EqualsValue("loginName", nullptr), 1);
  EXPECT_EQ(u.EqualsValue("loginName", &exact), 0);
}

TEST(DataObject, LongTextsCompareInFull) {
  UserLike a, b;
  std::string long_text(5000, 'z');
  a.SetAttrValue("name", Variant(long_text));
  Variant same(long_text), differs(long_text + "!");
  EXPECT_EQ(a.EqualsValue("name", &same), 1);
  EXPECT_EQ(a.EqualsValue("name", &differs), 0);
}

TEST(DataObject, DatesCompareByValue) {
  UserLike u;
  u.SetAttrValue("createTime", Variant::Date(100.5));
  Variant same = Variant::Date(100.5), other = Variant::Date(100.25);
  EXPECT_EQ(u.EqualsValue("createTime", &same), 1);
  EXPECT_EQ(u.EqualsValue("createTime", &other), 0);
}

TEST(DataObject, CopyAttrValuesConvertsAndKeepsWhatTheSourceLacks) {
  DepartmentLike source, target;
  source.SetAttrValue("id", Variant(9));
  source.SetAttrValue("superDeptPath", Variant("/a/b"));  // load-only values are copied too
  target.SetAttrValue("name", Variant("kept"));
  target.CopyAttrValues(&source);
  EXPECT_EQ(target.GetAttrValue("id")->Int32(), 9);
  EXPECT_STREQ(target.GetAttrValue("superDeptPath")->Text(), "/a/b");
  EXPECT_STREQ(target.GetAttrValue("name")->Text(), "kept");
  // A user's "name" copied into a department; the department's declared type wins.
  UserLike u;
  u.SetAttrValue("id", Variant("12"));
  DepartmentLike d;
  d.CopyAttrValues(&u);
  EXPECT_EQ(d.GetAttrValue("id")->Type(), kVtInt);
}

TEST(DataObject, CopyFromItselfKeepsEveryValue) {
  DepartmentLike d;
  d.SetAttrValue("id", Variant(4));
  d.SetAttrValue("name", Variant(std::string(100, 'n')));
  d.CopyAttrValues(&d);
  ASSERT_NE(d.GetAttrValue("name"), nullptr);
  EXPECT_EQ(std::string(d.GetAttrValue("name")->Text()), std::string(100, 'n'));
  EXPECT_EQ(d.GetAttrValue("id")->Int32(), 4);
  // Storing a value's own pointer back is safe too.
  EXPECT_EQ(d.SetAttrValue("name", *d.GetAttrValue("name")), 1);
  EXPECT_EQ(std::string(d.GetAttrValue("name")->Text()), std::string(100, 'n'));
}

TEST(DataObject, ValuePointersStayValidAcrossOtherStores) {
  UserLike u;
  u.SetAttrValue("name", Variant("alpha"));
  Variant* name = u.GetAttrValue("name");
  for (int i = 0; i < 100; ++i) u.SetAttrValue("id", Variant(i));
  u.SetAttrValue("extra", Variant("x"));
  EXPECT_EQ(u.GetAttrValue("name"), name);
  EXPECT_STREQ(name->Text(), "alpha");
}

TEST(DataObject, ShallowDeleteKeepsMembersAndDestructElementsDeletesThem) {
  Counted::alive = 0;
  Counted a, b, c;
  auto* list = new DataObjectList{&a, &b, &c};
  ShallowDelete(list);
  EXPECT_EQ(Counted::alive, 3);

  DataObjectList owned{new Counted, nullptr, new Counted};
  EXPECT_EQ(Counted::alive, 5);
  DestructElements(&owned);
  EXPECT_EQ(Counted::alive, 3);
  EXPECT_TRUE(owned.empty());
  DestructElements(static_cast<DataObjectList*>(nullptr));
  ShallowDelete(nullptr);
}

TEST(DataObject, ValueMapOwnsItsValues) {
  ValueMap map;
  map.Set("name", Variant("a"));
  map.SetAt("id", new Variant(1));
  map.SetAt("id", new Variant(2));  // the first value is freed
  map.SetAt("none", nullptr);
  EXPECT_EQ(map.GetCount(), 3);
  EXPECT_EQ(map.Lookup("id")->Int32(), 2);
  EXPECT_EQ(map.Lookup("none"), nullptr);
  EXPECT_TRUE(map.Contains("none"));
  EXPECT_EQ(map.begin()->first, "name");  // insertion order
  EXPECT_TRUE(map.RemoveKey("name"));
  EXPECT_FALSE(map.RemoveKey("name"));
  DestructElements(&map);
  EXPECT_TRUE(map.IsEmpty());
  DestructElements(static_cast<ValueMap*>(nullptr));
}

}  // namespace
}  // namespace docsec

namespace docsec {
namespace {

// Used by this test only, so its schema is first built by the racing threads.
class RacedClass : public testing::Open<CDataObject> {
 public:
  RacedClass() { InitializeClass(s_schema); }

 protected:
  void Initialize() override {
    AddAttribute("a", kVtInt);
    AddAttribute("b");
    AddKeyAttribute("a");
  }

 private:
  static inline ClassSchemaSlot s_schema;
};

TEST(DataObject, ConcurrentFirstConstructionBuildsOneSchema) {
  std::vector<std::thread> threads;
  std::vector<const NameList*> seen(8);
  std::vector<int> values(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &seen, &values] {
      RacedClass object;
      object.SetAttrValue("a", Variant(std::to_string(t).c_str()));
      seen[t] = object.GetAttrNames();
      values[t] = object.GetAttrValue("a")->Int32();
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) {
    EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(values[t], t);
  }
  EXPECT_EQ(seen[0]->size(), 2u);
}

}  // namespace
}  // namespace docsec
