#include "tools/agent/replacement_group.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/retired_files.h"

namespace docsec::agent {
namespace {

const uint8_t kKey[kFileKeySize] = {3, 1, 4, 1, 5, 9, 2, 6};

// Five files replaced through a group, the third changed by someone else after its new content
// was written, and a step between the first two: whatever the group's size, every other file
// gets its new content, the changed one keeps the other writer's, the calls come in order and
// the folder holds nothing but the originals. The same holds when the replaced files are closed
// on a worker, and once the worker has ended none of them is still held open.
TEST(ReplacementGroup, CommitsInOrderAndSparesFilesChangedMeanwhile) {
  for (size_t files : {size_t{1}, size_t{2}, size_t{256}})
    for (bool retire : {false, true}) {
      SCOPED_TRACE("groups of " + std::to_string(files) +
                   (retire ? ", replaced files retired" : ""));
      auto retired = std::make_unique<RetiredFiles>();
      testing::ScratchTree tree;
      const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
      for (const std::string& name : names) ASSERT_TRUE(tree.Write(name, "old " + name));
      DirHandle dir = DirHandle::Open(tree.path(), nullptr);
      std::vector<std::string> calls;
      {
        ReplacementGroup::Limits limits;
        limits.files = files;
        limits.flush_threads = 3;
        if (retire) limits.retire_to = retired.get();
        ReplacementGroup group(limits);
        for (const std::string& name : names) {
          FileInfo before;
          ASSERT_TRUE(dir.StatEntry(name, &before));
          ReplacementFile* out = group.Begin(dir, kKey);
          ASSERT_NE(out, nullptr);
          ASSERT_TRUE(out->Create());
          const std::string bytes = "new " + name;
          ASSERT_TRUE(out->file().WriteAll(bytes.data(), bytes.size()));
          if (name == "c") {
            ASSERT_TRUE(tree.Write("c", "someone else's"));
          }
          group.Finish(name, before, [&calls, name](SealResult result, const DirHandle& folder) {
            EXPECT_TRUE(folder.IsOpen());
            calls.push_back(name + ":" + SealResultText(result));
          });
          if (name == "a") group.Then([&calls] { calls.push_back("step"); });
        }
        group.Commit();
        EXPECT_EQ(group.waiting(), 0u);
      }
      EXPECT_EQ(calls,
                (std::vector<std::string>{"a:done", "step", "b:done",
                                          std::string("c:") + SealResultText(SealResult::kChanged),
                                          "d:done", "e:done"}));
      EXPECT_EQ(tree.Read("c"), "someone else's");
      for (const char* name : {"a", "b", "d", "e"})
        EXPECT_EQ(tree.Read(name), std::string("new ") + name);
      EXPECT_EQ(tree.List("."), names);
      retired.reset();  // closes what still waits
      EXPECT_EQ(testing::OpenDeletedFiles(), 0);
    }
}

// A group given up before its commit (the request failed, the agent is stopping) installs
// nothing, tells nobody and leaves no file of its own.
TEST(ReplacementGroup, AbandonedGroupLeavesOriginals) {
  testing::ScratchTree tree;
  ASSERT_TRUE(tree.Write("a", "old"));
  DirHandle dir = DirHandle::Open(tree.path(), nullptr);
  bool told = false;
  {
    ReplacementGroup group;
    FileInfo before;
    ASSERT_TRUE(dir.StatEntry("a", &before));
    ReplacementFile* out = group.Begin(dir, kKey);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->Create());
    ASSERT_TRUE(out->file().WriteAll("new", 3));
    group.Finish("a", before, [&told](SealResult, const DirHandle&) { told = true; });
    group.Then([&told] { told = true; });
    EXPECT_EQ(group.waiting(), 1u);
  }
  EXPECT_FALSE(told);
  EXPECT_EQ(tree.Read("a"), "old");
  EXPECT_EQ(tree.List("."), (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace docsec::agent
