// The XML element form of data objects: writing, key form, loading, sub-object lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "docsec/core/data_object.h"
#include "docsec/core/internal/object_arena.h"
#include "docsec/core/variant_functions.h"
#include "docsec/testing/environment.h"
#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

using testing::DepartmentLike;
using testing::UserLike;

class XmlForm : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::SetTimeZone(testing::TestZone::kUtc);
    doc_ = XmlDocument::Create();
    root_ = doc_.CreateDocumentElement("document");
  }
  // Parses `text` and returns its root element.
  static XmlElement Element(const std::string& text) {
    XmlDocument doc = XmlDocument::Create();
    doc.LoadXml(text);
    return doc.DocumentElement();
  }
  XmlDocument doc_;
  XmlElement root_;
};

TEST_F(XmlForm, FullAndKeyFormsInDeclarationOrder) {
  DepartmentLike d;
  d.SetAttrValue("isDelSubDeptIpSegment", Variant(false));
  d.SetAttrValue("superDeptId", Variant(1));
  d.SetAttrValue("name", Variant("Sales"));
  d.SetAttrValue("id", Variant(12));
  d.SetAttrValue("superDeptPath", Variant("/x"));  // load-only: never written
  d.SetAttrValue("undeclared", Variant("y"));      // not declared: never written
  EXPECT_EQ(
      d.AssemblyXmlNode(root_).Xml(),
      "<department id=\"12\" name=\"Sales\" superDeptId=\"1\" isDelSubDeptIpSegment=\"false\"/>");
  EXPECT_EQ(d.AssemblyXmlKeyNode(root_).Xml(),
            "<department id=\"12\" isDelSubDeptIpSegment=\"false\"/>");
  EXPECT_EQ(root_.SelectChildren("department").Length(), 2u);
}

TEST_F(XmlForm, UnsetObjectWritesABareElementAndNullParentWritesNothing) {
  DepartmentLike d;
  EXPECT_EQ(d.AssemblyXmlNode(root_).Xml(), "<department/>");
  EXPECT_EQ(d.AssemblyXmlKeyNode(root_).Xml(), "<department/>");
  EXPECT_FALSE(d.AssemblyXmlNode(XmlElement()));
  EXPECT_FALSE(d.AssemblyXmlKeyNode(XmlElement()));
  testing::AppointmentLike a;  // no key list
  a.SetAttrValue("userId", Variant(3));
  EXPECT_EQ(a.AssemblyXmlKeyNode(root_).Xml(), "<userAccession/>");
}

TEST_F(XmlForm, ValueKindsWriteTheirTextForms) {
  UserLike u;
  u.SetAttrValue("isSupervisor", Variant(true));
  u.SetAttrValue("createTime", Variant("2009-03-07 14:05:09"));
  u.SetAttrValue("id", Variant(-3));
  u.SetAttrValue("name", Variant("a&b<c>\"'"));
  u.SetAttrValue("loginName", Variant(""));
  EXPECT_EQ(u.AssemblyXmlNode(root_).Xml(),
            "<user id=\"-3\" name=\"a&amp;b&lt;c>&quot;'\" loginName=\"\" isSupervisor=\"true\" "
            "createTime=\"2009-03-07 14:05:09\"/>");
  UserLike bad_date;
  bad_date.SetAttrValue("createTime", Variant("no date"));
  EXPECT_EQ(bad_date.AssemblyXmlNode(root_).Xml(), "<user createTime=\"1899-12-30 00:00:00\"/>");
}

TEST_F(XmlForm, LoadingKeepsWhatTheElementLacksAndDropsWhatDoesNotConvert) {
  DepartmentLike d;
  d.SetAttrValue("name", Variant("Sales"));
  EXPECT_EQ(d.LoadFromXmlNode(Element("<department id=\"7\"/>")), 1);
  EXPECT_EQ(d.GetAttrValue("id")->Int32(), 7);
  EXPECT_STREQ(d.GetAttrValue("name")->Text(), "Sales");
  EXPECT_EQ(d.LoadFromXmlNode(Element("<department id=\"x7\"/>")), 1);
  EXPECT_EQ(d.GetAttrValue("id"), nullptr);
}

TEST_F(XmlForm, LoadOnlyAttributesAreReadButNotWritten) {
  DepartmentLike d;
  d.LoadFromXmlNode(Element(
      "<department id=\"2\" superDeptPath=\"/root/a\" isSystemDefault=\"true\" other=\"ignored\">"
      "<department id=\"3\"/></department>"));
  EXPECT_STREQ(d.GetAttrValue("superDeptPath")->Text(), "/root/a");
  EXPECT_EQ(d.IsSystemDefault(), 1);
  EXPECT_EQ(d.GetAttrValue("other"), nullptr);
  EXPECT_EQ(d.AssemblyXmlNode(root_).Xml(), "<department id=\"2\"/>");
}

TEST_F(XmlForm, FlagsRoundTrip) {
  UserLike u;
  u.LoadFromXmlNode(Element("<user isSupervisor=\"true\"/>"));
  EXPECT_EQ(u.GetAttrValue("isSupervisor")->Type(), kVtBool);
  EXPECT_EQ(u.AssemblyXmlNode(root_).Xml(), "<user isSupervisor=\"true\"/>");
  u.LoadFromXmlNode(Element("<user isSupervisor=\"false\"/>"));
  EXPECT_EQ(u.GetAttrValue("isSupervisor")->BoolPayload(), 0);
}

TEST_F(XmlForm, FirstOfDuplicateAttributesWins) {
  UserLike u;
  XmlElement e = Element("<user id=\"1\"/>");
  e.AppendAttribute("id", "2");  // the parser would not make this, a builder can
  u.LoadFromXmlNode(e);
  EXPECT_EQ(u.GetAttrValue("id")->Int32(), 1);
}

TEST_F(XmlForm, ManyAttributesAndHugeValuesLoad) {
  std::string text = "<user";
  for (int i = 0; i < 200; ++i) text += " a" + std::to_string(i) + "=\"v\"";
  std::string huge(10 * 1024 * 1024, 'h');
  text += " id=\"5\" name=\"" + huge + "\"/>";
  UserLike u;
  u.LoadFromXmlNode(Element(text));
  EXPECT_EQ(u.GetAttrValue("id")->Int32(), 5);
  EXPECT_EQ(u.GetAttrValue("name")->TextSize(), huge.size());
}

TEST_F(XmlForm, SubObjectsLoadOnceFromDirectChildrenOfTheTag) {
  XmlElement parent = Element(
      "<department><user id=\"1\"/><position id=\"9\"/><user id=\"2\"><user id=\"99\"/></user>"
      "</department>");
  DepartmentLike d;
  DataObjectList* users = nullptr;
  EXPECT_EQ(d.LoadSubObjectsFromXmlNode(parent, &users, UserLike::GetClassInstance()), 1);
  std::unique_ptr<DataObjectList> owned(users);
  ASSERT_EQ(users->GetSize(), 2);
  EXPECT_EQ(static_cast<UserLike*>(users->GetAt(1))->GetAttrValue("id")->Int32(), 2);
  EXPECT_NE(dynamic_cast<UserLike*>(users->GetAt(0)), nullptr);
  // A second load with the same list pointer changes nothing.
  EXPECT_EQ(d.LoadSubObjectsFromXmlNode(Element("<d><user id=\"5\"/></d>"), &users,
                                        UserLike::GetClassInstance()),
            1);
  EXPECT_EQ(users->GetSize(), 2);
  DestructElements(users);

  DataObjectList* none = nullptr;
  d.LoadSubObjectsFromXmlNode(Element("<d><x/></d>"), &none, UserLike::GetClassInstance());
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->empty());
  delete none;
}

TEST_F(XmlForm, SubObjectElementsAreAppendedInListOrder) {
  UserLike a, b;
  a.SetAttrValue("id", Variant(1));
  b.SetAttrValue("id", Variant(2));
  DataObjectList list{&a, &b};
  DepartmentLike d;
  EXPECT_EQ(d.AssemblySubObjectsXMLNodes(root_, &list), root_);
  EXPECT_EQ(root_.Xml(), "<document><user id=\"1\"/><user id=\"2\"/></document>");
  d.AssemblySubObjectsXMLNodes(root_, nullptr);
  EXPECT_EQ(root_.SelectChildren(nullptr).Length(), 2u);
}

// Objects loaded while an answer's arena is open hold their values compactly; everything read back
// must be what an object loaded on the heap gives.
std::unique_ptr<UserLike> LoadInArena(const XmlElement& element) {
  core_internal::LoadArenaScope scope;
  std::unique_ptr<UserLike> user(new UserLike);
  user->LoadFromXmlNode(element);
  return user;
}

std::string Shown(const Variant* v) {
  if (v == nullptr) return "(unset)";
  return std::to_string(v->Type()) + ":" + v->ToText();
}

TEST_F(XmlForm, ArenaLoadedValuesReadBackAsHeapLoadedOnes) {
  const struct {
    const char* name;
    const char* text;
  } kCases[] = {
      {"name", ""},
      {"name", "abc"},
      {"name", "seven77"},
      {"name", "eight888"},
      {"name", "twelve bytes"},
      {"name", "a text well past any inline size, with \xc3\xa9 in it"},
      {"id", "12"},
      {"id", "-2147483648"},
      {"id", "2147483647"},
      {"id", " 42 "},
      {"id", "4294967296"},
      {"id", "twelve"},
      {"isSupervisor", "true"},
      {"isSupervisor", "false"},
      {"isSupervisor", "TRUE"},
      {"isSupervisor", "1"},
      {"isSupervisor", "maybe"},
      {"createTime", "2024-02-29 23:59:59"},
      {"createTime", "1899-12-30 00:00:00"},
      {"createTime", "1800-06-01 06:30:00"},
      {"createTime", "not a date"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + "=\"" + c.text + "\"");
    XmlDocument doc = XmlDocument::Create();
    XmlElement user = doc.CreateDocumentElement("user");
    user.SetAttribute(c.name, c.text);
    UserLike heap;
    heap.LoadFromXmlNode(user);
    std::unique_ptr<UserLike> packed = LoadInArena(user);
    // Read-only paths first (they decode without making a Variant), then the typed getters and
    // the pointer, then the written form again from the made Variant.
    const std::string written = heap.AssemblyXmlNode(root_).Xml();
    EXPECT_EQ(packed->AssemblyXmlNode(root_).Xml(), written);
    EXPECT_EQ(packed->GetText(UserLike::kName), heap.GetText(UserLike::kName));
    EXPECT_EQ(packed->IsSupervisor(), heap.IsSupervisor());
    EXPECT_EQ(packed->GetCreateTime(), heap.GetCreateTime());
    EXPECT_EQ(Shown(packed->GetAttrValue(c.name)), Shown(heap.GetAttrValue(c.name)));
    EXPECT_EQ(packed->AssemblyXmlNode(root_).Xml(), written);
    EXPECT_EQ(packed->Equals(&heap), 1);
    UserLike copy;
    copy.CopyAttrValues(packed.get());
    EXPECT_EQ(Shown(copy.GetAttrValue(c.name)), Shown(heap.GetAttrValue(c.name)));
  }
}

TEST_F(XmlForm, ArenaLoadedValuePointersKeepTheirLifetime) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml("<user id=\"7\" name=\"a name longer than inline\" deptId=\"12\"/>");
  std::unique_ptr<UserLike> u = LoadInArena(doc.DocumentElement());
  Variant* name = u->GetAttrValue("name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(u->GetAttrValue("name"), name);  // asked again: the same Variant
  // Stores of other names, of slots the answer did not give and of undeclared names leave it.
  u->SetAttrValue("id", Variant(8));
  u->SetAttrValue("loginName", Variant("login"));
  u->SetAttrValue("undeclared", Variant("x"));
  EXPECT_EQ(u->GetAttrValue("name"), name);
  EXPECT_STREQ(name->Text(), "a name longer than inline");
  EXPECT_EQ(u->GetAttrValue("id")->Int32(), 8);
  EXPECT_STREQ(u->GetAttrValue("loginName")->Text(), "login");
  // A store of the name itself changes what the pointer reads; a failed one leaves it unset.
  EXPECT_EQ(u->SetAttrValue("name", Variant("b")), 1);
  EXPECT_STREQ(u->GetAttrValue("name")->Text(), "b");
  EXPECT_EQ(u->SetAttrValue("deptId", Variant("not a number")), 0);
  EXPECT_EQ(u->GetAttrValue("deptId"), nullptr);
  EXPECT_EQ(u->SetAttrValue("deptId", Variant(3)), 1);
  EXPECT_EQ(u->GetInt32(UserLike::kDeptId), 3);
  // An in-place conversion through the pointer sticks, as on any object.
  u->SetAttrValue("name", Variant("12"));
  EXPECT_EQ(GetVariantInt(u->GetAttrValue("name")), 12);
  EXPECT_EQ(u->GetAttrValue("name")->Type(), kVtInt);
  // A later load outside the arena replaces values in place.
  XmlDocument again = XmlDocument::Create();
  again.LoadXml("<user id=\"9\" name=\"c\" createTime=\"2020-01-02 03:04:05\"/>");
  Variant* id = u->GetAttrValue("id");
  u->LoadFromXmlNode(again.DocumentElement());
  EXPECT_EQ(u->GetAttrValue("id"), id);
  EXPECT_EQ(id->Int32(), 9);
  EXPECT_STREQ(u->GetAttrValue("name")->Text(), "c");
  EXPECT_EQ(u->AssemblyXmlNode(root_).Xml(),
            "<user id=\"9\" name=\"c\" loginName=\"login\" deptId=\"3\" "
            "createTime=\"2020-01-02 03:04:05\"/>");
}

TEST(ObjectArena, TextsAndAlignedAllocationsShareBlocksWithoutOverlap) {
  core_internal::LoadArenaScope scope;
  core_internal::ObjectArena* arena = core_internal::ObjectArena::Current();
  ASSERT_NE(arena, nullptr);
  std::vector<std::pair<const char*, std::string>> texts;
  for (int i = 0; i < 5000; ++i) {  // several blocks' worth
    const std::string text(static_cast<size_t>(i % 23 + 1), static_cast<char>('a' + i % 26));
    texts.emplace_back(arena->CopyText(text.c_str(), text.size(), nullptr, i % 300), text);
    const size_t size = static_cast<size_t>(8 + i % 17);
    void* block = arena->Allocate(size);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << i;
    std::memset(block, 0xab, size);
  }
  for (const auto& copy : texts) ASSERT_EQ(std::string(copy.first), copy.second);
}

}  // namespace
}  // namespace docsec
