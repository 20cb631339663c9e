// Every data-object class of the library, reached through the umbrella header alone: each has its
// identity (type, object name, XML tag), adopts its own schema, and owns a shared instance of its
// own class, except the three classes that have none.
#include <gtest/gtest.h>

#include "docsec/docsec.h"
#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;
using testing::HasClassInstance;

TEST(AllClasses, EachHasItsIdentityAndSharedInstance) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDODepartment>, kObjectTypeDepartment, "Department", "department"},
      {&ExpectWellFormedClass<CDOComputer>, kObjectTypeComputer, "Computer", "computer"},
      {&ExpectWellFormedClass<CDOPosition>, kObjectTypePosition, "Position", "position"},
      {&ExpectWellFormedClass<CDOUser>, kObjectTypeUser, "User", "user"},
      // A fresh folder has no parent path: it is a drive.
      {&ExpectWellFormedClass<CDOAgentFolder>, kObjectTypeDrive, "AgentFolder", "dir"},
      {&ExpectWellFormedClass<CDOAgentFile>, kObjectTypeAgentFile, "AgentFile", "file"},
      {&ExpectWellFormedClass<CDOAuthLevelByPosition>, kObjectTypeAuthLevelByPosition,
       "PositionAuthorization", "positionAuthorization"},
      {&ExpectWellFormedClass<CDOAuthLevelByUser>, kObjectTypeAuthLevelByUser, "UserAuthorization",
       "userAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByPosition>, kObjectTypeAuthFileByPosition,
       "FilePositionAuthorization", "filePositionAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByUser>, kObjectTypeAuthFileByUser,
       "FileUserAuthorization", "fileUserAuthorization"},
      {&ExpectWellFormedClass<CDOIpSegment>, kObjectTypeIpSegment, "IpSegment", "ip"},
      {&ExpectWellFormedClass<CDOAutoScanAppType>, kObjectTypeAutoScanAppType, "AppExe", "appExe"},
      {&ExpectWellFormedClass<CDOScanFileExtend>, kObjectTypeScanFileExtend, "Extend", "extend"},
      {&ExpectWellFormedClass<CDOFile>, kObjectTypeNone, "File", "file"},
      {&ExpectWellFormedClass<CDOApplication>, kObjectTypeNone, "Application", "application"},
      {&ExpectWellFormedClass<CDOSecretLevel>, kObjectTypeNone, "SecretLevel", "secretLevel"},
      {&ExpectWellFormedClass<CDOPolicy>, kObjectTypeNone, "Policy", "policy"},
      {&ExpectWellFormedClass<CDODeptDefAppSecretLevel>, kObjectTypeNone, "DefAppSecretLevel",
       "defAppSecretLevel"},
      {&ExpectWellFormedClass<CDOUserAppointment>, kObjectTypeNone, "UserAccession",
       "userAccession"},
      {&ExpectWellFormedClass<CDODrmLog>, kObjectTypeNone, "Log", "log"},
      {&ExpectWellFormedClass<CDOScanDrmLog>, kObjectTypeNone, "ScanLog", "scanLog"},
      {&ExpectWellFormedClass<CDOScanLogApp>, kObjectTypeNone, "ScanLogApp", "scanLogApp"},
      {&ExpectWellFormedClass<CDOScanLogFile>, kObjectTypeNone, "ScanLogFile", "scanLogFile"},
      {&ExpectWellFormedClass<CDOperation>, kObjectTypeNone, "Operations", "operation"},
      {&ExpectWellFormedClass<CNameOfOper>, kObjectTypeNone, "CDataObject", "name"},
      {&ExpectWellFormedClass<CDOWaterMark>, kObjectTypeNone, "CDataObject", "CDataObject"},
  });
}

TEST(AllClasses, OnlyTheBaseTheExtensionAndTheWatermarkHaveNoSharedInstance) {
  static_assert(!HasClassInstance<CDataObject>::value);
  static_assert(!HasClassInstance<CDOScanFileExtend>::value);
  static_assert(!HasClassInstance<CDOWaterMark>::value);
  // A subclass's instance is its own, not its parent's.
  static_assert(HasClassInstance<CDOAgentFile>::value && HasClassInstance<CDOAgentFolder>::value);
  CDataObject base;
  EXPECT_EQ(base.GetObjectType(), kObjectTypeNone);
  EXPECT_EQ(base.GetObjectName(), "CDataObject");
  EXPECT_EQ(base.GetObjectXMLTagName(), "CDataObject");
}

}  // namespace
}  // namespace docsec
