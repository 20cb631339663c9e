// The data-object kit: schema building, declarations, typed accessors, owned lists.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>

#include "docsec/core/data_object_class.h"
#include "docsec/platform/com_error.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

using testing::DepartmentLike;
using testing::ExpectWellFormedClass;
using testing::ExtendLike;
using testing::UserLike;

// Raises in release builds, aborts on the assertion in debug builds: either way loudly.
#ifdef NDEBUG
#define EXPECT_MISUSE(statement) EXPECT_THROW(statement, ComError)
#else
#define EXPECT_MISUSE(statement) EXPECT_DEATH(statement, "kit misuse")
#endif

// Inner is first constructed inside Outer's Initialize: building Inner's schema while Outer's is
// being built must neither wait on Outer's build nor mix the two.
class Inner : public CDataObject {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(Inner)
  static constexpr Attr kInnerId{"innerId", kVtInt};
  static constexpr auto kAttributes = Attrs(&kInnerId);
};
DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(Inner, kObjectTypeNone, "Inner", "inner")

class Outer : public CDataObject {
 public:
  Outer() { InitializeClass(s_schema); }
  static inline ClassSchemaSlot s_schema;

 protected:
  void Initialize() override {
    Inner prototype;  // first construction of Inner happens here
    AddAttribute("outerId", kVtInt);
  }
};

TEST(DataObjectKit, FirstConstructionInsideAnotherInitializeDoesNotDeadlock) {
  auto built = std::async(std::launch::async, [] {
    Outer outer;
    Inner inner;
    return outer.HasOwnSchema() && inner.HasOwnSchema();
  });
  if (built.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::fprintf(stderr, "schema building deadlocked\n");
    std::abort();
  }
  EXPECT_TRUE(built.get());
  ExpectWellFormedClass<Inner>(kObjectTypeNone, "Inner", "inner");
}

class SelfMaking : public CDataObject {
 public:
  SelfMaking() { InitializeClass(s_schema); }
  static inline ClassSchemaSlot s_schema;

 protected:
  void Initialize() override { SelfMaking again; }
};

TEST(DataObjectKit, ConstructionInsideItsOwnInitializeFailsLoudly) { EXPECT_MISUSE(SelfMaking()); }

class LateDeclarer : public UserLike {
 public:
  void DeclareLate() { AddAttribute("late"); }
  void DeclareLateAttr() { DeclareAttribute(Attr("late")); }
};

TEST(DataObjectKit, DeclarationOutsideInitializeFailsLoudly) {
  LateDeclarer object;
  EXPECT_MISUSE(object.DeclareLate());
  EXPECT_MISUSE(object.DeclareLateAttr());
}

// A subclass whose constructor forgot InitializeClass: it silently keeps its parent's schema.
class Forgetful : public UserLike {
 public:
  static constexpr Attr kExtra{"extra"};
  static constexpr auto kAttributes = Attrs(&kExtra);

 protected:
  void Initialize() override { DeclareAttributes(kAttributes); }
};

TEST(DataObjectKit, ForgottenSchemaAdoptionIsCaught) {
  Forgetful object;
  EXPECT_FALSE(object.HasOwnSchema());
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    ExpectWellFormedClass<Forgetful>(kObjectTypeUser, "User", "user");
  }
  ASSERT_GE(failures.size(), 1);
  EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("own schema"),
            std::string::npos);
}

// kTypo is declared as a constant but left out of kAttributes.
class Misspelt : public CDataObject {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(Misspelt)
  static constexpr Attr kName{"name"};
  static constexpr Attr kTypo{"nmae"};
  static constexpr auto kAttributes = Attrs(&kName);
  int SetTypo(const char* text) { return SetText(kTypo, text); }
  long GetTypoNumber() { return GetInt32(kTypo); }
};
DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(Misspelt, kObjectTypeNone, "Misspelt", "misspelt")

TEST(DataObjectKit, AccessorOfAnUndeclaredAttributeFailsLoudly) {
  Misspelt object;
  EXPECT_MISUSE(object.SetTypo("x"));
  EXPECT_MISUSE(object.GetTypoNumber());
}

TEST(DataObjectKit, TestSideClassesAreWellFormed) {
  ExpectWellFormedClass<DepartmentLike>(kObjectTypeDepartment, "Department", "department");
  ExpectWellFormedClass<UserLike>(kObjectTypeUser, "User", "user");
  ExpectWellFormedClass<testing::SupervisorLike>(kObjectTypeUser, "User", "user");
  ExpectWellFormedClass<testing::AppointmentLike>(kObjectTypeNone, "UserAccession",
                                                  "userAccession");
  ExpectWellFormedClass<ExtendLike>(kObjectTypeScanFileExtend, "Extend", "extend");
}

TEST(DataObjectKit, TypedAccessorsGiveTheUnsetValuesAndConvertThroughTheStore) {
  UserLike user;
  EXPECT_EQ(user.GetInt32(UserLike::kId), -1);
  EXPECT_EQ(user.GetInt64(UserLike::kId), -1);
  EXPECT_FALSE(user.GetBool(UserLike::kIsSupervisor));
  EXPECT_EQ(user.GetDate(UserLike::kCreateTime), -1.0);
  char buffer[8] = "junk";
  EXPECT_EQ(user.GetText(UserLike::kName, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");

  EXPECT_EQ(user.SetText(UserLike::kId, "42"), 1);  // text converts to the declared integer
  EXPECT_EQ(user.GetAttrValue("id")->Type(), kVtInt);
  EXPECT_EQ(user.GetInt32(UserLike::kId), 42);
  EXPECT_EQ(user.SetText(UserLike::kId, "forty"), 0);  // does not convert: left unset
  EXPECT_EQ(user.GetAttrValue("id"), nullptr);
  EXPECT_EQ(user.SetText(UserLike::kName, nullptr), 0);
  EXPECT_EQ(user.SetInt64(UserLike::kId, 7), 1);
  EXPECT_EQ(user.GetInt64(UserLike::kId), 7);
  EXPECT_EQ(user.SetBool(UserLike::kIsSupervisor, true), 1);
  EXPECT_TRUE(user.IsSupervisor());
  EXPECT_EQ(user.SetDate(UserLike::kCreateTime, 45000.5), 1);
  EXPECT_EQ(user.GetCreateTime(), 45000.5);
  EXPECT_EQ(user.GetText(UserLike::kCreateTime), "2023-03-15 12:00:00");

  // Text that does not fit leaves an empty string and writes nothing past the buffer.
  user.SetText(UserLike::kName, "eleven char");
  char small[12];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(user.GetText(UserLike::kName, small, 11), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(small[11], 'x');
  EXPECT_EQ(user.GetText(UserLike::kName, small, 12), 11);
  EXPECT_STREQ(small, "eleven char");
}

TEST(DataObjectKit, OwnedListsLoadOnceLinkOwnersAndDieWithTheOwner) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(
      "<department id='1'><user id='10'/><department id='2'><user id='20'/><user id='21'/>"
      "</department><user id='11'/></department>"));
  DepartmentLike root;
  EXPECT_EQ(root.GetSubDepartments(), nullptr);  // absent until loaded
  root.LoadFromXmlNode(doc.DocumentElement());
  ASSERT_NE(root.GetUsers(), nullptr);
  ASSERT_EQ(root.GetUsers()->GetSize(), 2);
  auto* child = static_cast<DepartmentLike*>(root.GetSubDepartments()->GetAt(0));
  EXPECT_EQ(child->GetOwnerDepartment(), &root);
  EXPECT_EQ(child->GetId(), 2);
  ASSERT_EQ(child->GetUsers()->GetSize(), 2);
  EXPECT_EQ(static_cast<UserLike*>(child->GetUsers()->GetAt(1))->owner, child);
  EXPECT_EQ(static_cast<UserLike*>(root.GetUsers()->GetAt(0))->owner, &root);

  // A second load leaves present lists as they are.
  DataObjectList* users = root.GetUsers();
  root.LoadFromXmlNode(doc.DocumentElement());
  EXPECT_EQ(root.GetUsers(), users);
  EXPECT_EQ(root.GetUsers()->GetSize(), 2);
}

TEST(DataObjectKit, IgnoreCaseIsAPerAttributeDeclaration) {
  struct Case {
    const char* a;
    const char* b;
    int extend_equal;
    int user_equal;
  } cases[] = {
      {"DOC", "doc", 1, 0},
      {"doc", "doc", 1, 1},
      {"doc", "docx", 0, 0},
      {"DOCX", "doc", 0, 0},
  };
  for (const Case& c : cases) {
    ExtendLike x1, x2;
    x1.SetAttrValue("name", Variant(c.a));
    x2.SetAttrValue("name", Variant(c.b));
    EXPECT_EQ(x1.Equals(&x2), c.extend_equal) << c.a << " vs " << c.b;
    UserLike u;
    u.SetAttrValue("name", Variant(c.a));
    Variant other(c.b);
    EXPECT_EQ(u.EqualsValue("name", &other), c.user_equal) << c.a << " vs " << c.b;
  }
}

}  // namespace
}  // namespace docsec
