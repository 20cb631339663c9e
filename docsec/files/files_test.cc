// The remote-file classes: identity, declarations, keys, and the drive/folder type.
#include <gtest/gtest.h>

#include "docsec/files/agent_file.h"
#include "docsec/files/agent_folder.h"
#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(FilesClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOAgentFile>, kObjectTypeAgentFile, "AgentFile", "file"},
      {&ExpectWellFormedClass<CDOAgentFolder>, kObjectTypeDrive, "AgentFolder", "dir"},
  });
}

// A remote file is identified by GUID, path and department, a folder by its path alone; the
// server file keeps its own key, and the attributes keep their inherited order.
TEST(FilesClasses, KeysReplaceTheInheritedOnes) {
  CDOFile file;
  CDOAgentFile agent_file;
  CDOAgentFolder folder;
  EXPECT_EQ(DataObjectAccess::Schema(file).key_names(), NameList({"id"}));
  EXPECT_EQ(DataObjectAccess::Schema(agent_file).key_names(),
            NameList({"GUID", "path", "departmentId"}));
  EXPECT_EQ(DataObjectAccess::Schema(folder).key_names(), NameList({"path"}));
  EXPECT_EQ(DataObjectAccess::Schema(folder).attribute_names(),
            NameList({"id", "GUID", "createTime", "name", "size", "type", "modifytime", "encrypted",
                      "secretLevelId", "departmentId", "destSecretLevelId", "subfolder"}));
}

TEST(FilesClasses, FilesWithTheSameKeysAreEqualWhateverTheirNames) {
  CDOAgentFile a, b;
  for (CDOAgentFile* f : {&a, &b}) {
    f->SetUuid("g-1");
    f->SetFullPath("C:\\a.doc");
    f->SetDepartmentId("4");
  }
  a.SetName("a.doc");
  b.SetName("other");
  EXPECT_EQ(a.Equals(&b), 1);
  b.SetFullPath("C:\\b.doc");
  EXPECT_EQ(a.Equals(&b), 0);
}

TEST(AgentFolder, IsADriveWithoutParentPathAndAFolderInsideOne) {
  CDOComputer* no_computer = nullptr;
  CDOAgentFolder root(no_computer, "");
  CDOAgentFolder drive(&root, "C:");
  drive.SetFullPath("C:");
  CDOAgentFolder windows(&drive, "Windows");
  CDOAgentFolder by_path(no_computer, "C:\\Windows");
  EXPECT_EQ(root.GetObjectType(), kObjectTypeDrive);
  EXPECT_EQ(drive.GetObjectType(), kObjectTypeDrive);
  EXPECT_EQ(windows.GetObjectType(), kObjectTypeFolder);
  EXPECT_EQ(windows.GetParentFolder(), &drive);
  EXPECT_EQ(by_path.GetObjectType(), kObjectTypeFolder);
}

}  // namespace
}  // namespace docsec
