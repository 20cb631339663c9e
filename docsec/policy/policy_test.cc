// The policy folder's classes: identity, declarations, and the comparison rules they rely on.
#include "docsec/policy/policy.h"

#include <gtest/gtest.h>

#include <string>

#include "docsec/platform/xml.h"
#include "docsec/policy/application.h"
#include "docsec/policy/auth_file_by_position.h"
#include "docsec/policy/auth_file_by_user.h"
#include "docsec/policy/auth_level_by_position.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/file.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(PolicyClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOSecretLevel>, kObjectTypeNone, "SecretLevel", "secretLevel"},
      {&ExpectWellFormedClass<CDOPolicy>, kObjectTypeNone, "Policy", "policy"},
      {&ExpectWellFormedClass<CDOAuthLevelByPosition>, kObjectTypeAuthLevelByPosition,
       "PositionAuthorization", "positionAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByUser>, kObjectTypeAuthFileByUser,
       "FileUserAuthorization", "fileUserAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByPosition>, kObjectTypeAuthFileByPosition,
       "FilePositionAuthorization", "filePositionAuthorization"},
      {&ExpectWellFormedClass<CDOApplication>, kObjectTypeNone, "Application", "application"},
      {&ExpectWellFormedClass<CDODeptDefAppSecretLevel>, kObjectTypeNone, "DefAppSecretLevel",
       "defAppSecretLevel"},
      {&ExpectWellFormedClass<CDOFile>, kObjectTypeNone, "File", "file"},
  });
}

TEST(Application, NamesCompareWithLetterCase) {
  const struct {
    const char* mine;
    const char* other;
    int equal;
  } cases[] = {{"Word", "Word", 1}, {"Word", "word", 0}};
  for (const auto& c : cases) {
    CDOApplication a, b;
    a.SetName(c.mine);
    b.SetName(c.other);
    EXPECT_EQ(a.Equals(&b), c.equal) << c.mine << " / " << c.other;
  }
}

// The caller's own file id is in no list: loading an answer never sets it.
TEST(File, IdIsNotLoadedFromAnAnswer) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(std::string("<file id=\"7\" GUID=\"g-1\" innerId=\"3\"/>")));
  CDOFile file;
  ASSERT_EQ(file.LoadFromXmlNode(doc.DocumentElement()), 1);
  EXPECT_EQ(file.GetId(), -1);
  char guid[8];
  EXPECT_EQ(file.GetUuid(guid, sizeof guid), 3);
  EXPECT_EQ(file.SetId(12), 1);
  EXPECT_EQ(file.GetId(), 12);
}

}  // namespace
}  // namespace docsec
