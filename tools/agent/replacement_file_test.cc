#include "tools/agent/replacement_file.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/agent/agent_test_util.h"

namespace docsec::agent {
namespace {

const uint8_t kKey[kFileKeySize] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
const uint8_t kOtherKey[kFileKeySize] = {2, 2, 3, 4, 5, 6, 7, 8, 9};

// While new content is written, the folder shows the original alone (unnamed file) or also one of
// our own names (named file); Commit leaves the new content under the original name and nothing
// else; an abandoned replacement leaves the original as it was and nothing else.
TEST(ReplacementFile, OnlyTheOriginalNameOutlivesTheReplacement) {
  for (bool unnamed : {true, false}) {
    testing::ScratchTree tree;
    ASSERT_TRUE(tree.Write("target", "old"));
    DirHandle dir = DirHandle::Open(tree.path(), nullptr);
    FileInfo folder, before;
    ASSERT_TRUE(dir.StatSelf(&folder));
    ASSERT_TRUE(dir.StatEntry("target", &before));
    TempNames names(kKey);
    for (bool commit : {false, true}) {
      {
        ReplacementFile replacement(dir, kKey, unnamed);
        ASSERT_TRUE(replacement.Create());
        ASSERT_TRUE(replacement.file().WriteAll("new", 3));
        std::vector<std::string> during = tree.List(".");
        if (unnamed) {
          EXPECT_EQ(during, (std::vector<std::string>{"target"}));
        } else {
          ASSERT_EQ(during.size(), 2u);
          EXPECT_TRUE(names.IsOurs(replacement.temporary_name(), folder));
          EXPECT_FALSE(TempNames(kOtherKey).IsOurs(replacement.temporary_name(), folder));
        }
        if (commit) {
          EXPECT_EQ(replacement.Commit("target", before), SealResult::kOk);
        }
      }
      EXPECT_EQ(tree.List("."), (std::vector<std::string>{"target"})) << unnamed << commit;
      EXPECT_EQ(tree.Read("target"), commit ? "new" : "old") << unnamed;
    }
  }
}

TEST(ReplacementFile, LeftoversAreFoundInEveryFolderButNotThroughLinks) {
  testing::ScratchTree tree;
  ASSERT_TRUE(tree.Dir("a"));
  ASSERT_TRUE(tree.Dir("a/b"));
  ASSERT_TRUE(tree.Dir("elsewhere"));
  ASSERT_TRUE(tree.Link("a/link", "../elsewhere"));
  TempNames names(kKey);
  std::vector<std::string> planted;
  for (const char* folder : {"a", "a/b", "elsewhere"}) {
    DirHandle dir = DirHandle::Open(tree.At(folder), nullptr);
    FileInfo info;
    ASSERT_TRUE(dir.StatSelf(&info));
    planted.push_back(std::string(folder) + "/" + names.NewName(info));
    ASSERT_TRUE(tree.Write(planted.back(), "x"));
  }
  DirHandle root = DirHandle::Open(tree.At("a"), nullptr);
  EXPECT_EQ(SweepOwnLeftovers(root, names), 2u);
  EXPECT_FALSE(tree.Exists(planted[0]));
  EXPECT_FALSE(tree.Exists(planted[1]));
  EXPECT_TRUE(tree.Exists(planted[2]));
}

}  // namespace
}  // namespace docsec::agent
