#include "tools/agent/file_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace docsec::agent {
namespace {

// A scratch tree under a fresh mkdtemp folder, removed with everything in it afterwards.
class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/docsec-fs-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
  }
  ~TempTree() {
    if (!path_.empty()) {
      std::string command = "rm -rf '" + path_ + "'";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  }
  const std::string& path() const { return path_; }
  std::string At(const std::string& relative) const { return path_ + "/" + relative; }
  void Dir(const std::string& relative) const { ASSERT_EQ(mkdir(At(relative).c_str(), 0755), 0); }
  void File(const std::string& relative, const std::string& content) const {
    std::ofstream(At(relative), std::ios::binary) << content;
  }
  void Link(const std::string& relative, const std::string& target) const {
    ASSERT_EQ(symlink(target.c_str(), At(relative).c_str()), 0);
  }

 private:
  std::string path_;
};

uint64_t InodeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ResolveBeneathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Dir("share");
    tree_.Dir("share/docs");
    tree_.Dir("share/docs/sub");
    tree_.File("share/docs/a.txt", "alpha");
    tree_.File("share/docs/sub/b.txt", "beta");
    tree_.Dir("outside");
    tree_.File("outside/secret.txt", "secret");
    tree_.Link("share/link_in", "docs");
    tree_.Link("share/docs/up_ok", "../docs/a.txt");
    tree_.Link("share/docs/sub/up_twice", "../../docs/./a.txt");
    tree_.Link("share/link_out", "../outside");
    tree_.Link("share/docs/deep_out", "../../outside/secret.txt");
    tree_.Link("share/abs_out", "/etc");
    tree_.Link("share/abs_missing_out", "/nonexistent-docsec-dir/x");
    tree_.Link("share/loop1", "loop2");
    tree_.Link("share/loop2", "loop1");
    tree_.Link("share/dangling", "missing.txt");
    std::string error;
    root_ = DirHandle::Open(tree_.At("share"), &error);
    ASSERT_TRUE(root_.IsOpen()) << error;
    // The absolute link needs the canonical spelling of the share, which /tmp may not be.
    tree_.Link("share/abs_in", root_.CanonicalPath() + "/docs/a.txt");
  }

  TempTree tree_;
  DirHandle root_;
};

TEST_F(ResolveBeneathTest, FollowsLinksThatStayInside) {
  struct Case {
    std::vector<std::string> names;
    std::string parent;  // relative to the tree
    std::string name;
    FileKind kind;
  };
  const Case cases[] = {
      {{"docs", "a.txt"}, "share/docs", "a.txt", FileKind::kRegular},
      {{"link_in", "a.txt"}, "share/docs", "a.txt", FileKind::kRegular},
      {{"docs", "up_ok"}, "share/docs", "a.txt", FileKind::kRegular},
      {{"docs", "sub", "up_twice"}, "share/docs", "a.txt", FileKind::kRegular},
      {{"abs_in"}, "share/docs", "a.txt", FileKind::kRegular},
      {{"link_in"}, "share", "docs", FileKind::kDirectory},
      {{"docs", "sub"}, "share/docs", "sub", FileKind::kDirectory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.front() + "/.../" + c.names.back());
    ResolvedPath resolved;
    ASSERT_EQ(ResolveBeneath(root_, c.names, &resolved), ResolveStatus::kOk);
    EXPECT_EQ(resolved.name, c.name);
    EXPECT_EQ(resolved.info.kind, c.kind);
    FileInfo parent;
    ASSERT_TRUE(resolved.parent.StatSelf(&parent));
    EXPECT_EQ(parent.inode, InodeOf(tree_.At(c.parent)));
  }
}

TEST_F(ResolveBeneathTest, NoNamesIsTheRootItself) {
  ResolvedPath resolved;
  ASSERT_EQ(ResolveBeneath(root_, {}, &resolved), ResolveStatus::kOk);
  EXPECT_FALSE(resolved.parent.IsOpen());
  EXPECT_EQ(resolved.name, "");
  EXPECT_EQ(resolved.info.kind, FileKind::kDirectory);
  EXPECT_EQ(resolved.info.inode, InodeOf(tree_.At("share")));
}

TEST_F(ResolveBeneathTest, RefusesEverythingThatLeavesTheRoot) {
  struct Case {
    std::vector<std::string> names;
    ResolveStatus status;
  };
  const Case cases[] = {
      {{".."}, ResolveStatus::kEscapes},
      {{"docs", ".."}, ResolveStatus::kEscapes},
      {{"."}, ResolveStatus::kEscapes},
      {{""}, ResolveStatus::kEscapes},
      {{"docs/../../outside"}, ResolveStatus::kEscapes},
      {{"/etc"}, ResolveStatus::kEscapes},
      {{std::string("docs\0/../..", 11)}, ResolveStatus::kEscapes},
      {{"link_out"}, ResolveStatus::kEscapes},
      {{"link_out", "secret.txt"}, ResolveStatus::kEscapes},
      {{"docs", "deep_out"}, ResolveStatus::kEscapes},
      {{"link_in", "deep_out"}, ResolveStatus::kEscapes},
      {{"abs_out"}, ResolveStatus::kEscapes},
      {{"abs_out", "passwd"}, ResolveStatus::kEscapes},
      {{"abs_missing_out"}, ResolveStatus::kEscapes},
      {{"loop1"}, ResolveStatus::kTooManyLinks},
      {{"dangling"}, ResolveStatus::kNotFound},
      {{"missing"}, ResolveStatus::kNotFound},
      {{"docs", "a.txt", "more"}, ResolveStatus::kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.front() + " (" + std::to_string(c.names.size()) + " names)");
    ResolvedPath resolved;
    EXPECT_EQ(ResolveBeneath(root_, c.names, &resolved), c.status);
    EXPECT_FALSE(resolved.parent.IsOpen());
  }
}

TEST_F(ResolveBeneathTest, HandlesRefuseLinksWhereTheyOpenByName) {
  EXPECT_FALSE(root_.OpenSubdirectory("link_in").IsOpen());
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kWrongKind);
  DirHandle docs = root_.OpenSubdirectory("docs");
  ASSERT_TRUE(docs.IsOpen());
  EXPECT_FALSE(docs.OpenForReading("up_ok").IsOpen());
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kWrongKind);
  EXPECT_FALSE(docs.OpenForReading("sub").IsOpen());
  EXPECT_FALSE(docs.OpenForReading("../../outside/secret.txt").IsOpen());
  FileHandle file = docs.OpenForReading("a.txt");
  ASSERT_TRUE(file.IsOpen());
  char buffer[16];
  EXPECT_EQ(file.ReadFull(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "alpha");
}

TEST(DirHandle, OpenForReadingRefusesFifoWithoutBlocking) {
  TempTree tree;
  ASSERT_EQ(mkfifo(tree.At("pipe").c_str(), 0600), 0);
  DirHandle dir = DirHandle::Open(tree.path(), nullptr);
  ASSERT_TRUE(dir.IsOpen());
  EXPECT_FALSE(dir.OpenForReading("pipe").IsOpen());
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kWrongKind);
}

TEST(DirHandle, TemporaryRenameAndLinkNoReplace) {
  TempTree tree;
  tree.File("target", "old");
  DirHandle dir = DirHandle::Open(tree.path(), nullptr);
  ASSERT_TRUE(dir.IsOpen());

  const std::string temp = ".tmp-1";
  FileHandle file = dir.CreateExclusive(temp, 0600);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_FALSE(dir.CreateExclusive(temp, 0600).IsOpen());
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kExists);
  ASSERT_TRUE(file.WriteAll("new", 3));
  ASSERT_TRUE(file.Sync());
  FileInfo info;
  ASSERT_TRUE(file.Stat(&info));
  EXPECT_EQ(info.mode, 0600u);
  file.Close();

  EXPECT_FALSE(dir.LinkNoReplace(temp, "target"));
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kExists);
  ASSERT_TRUE(dir.LinkNoReplace(temp, "second"));
  ASSERT_TRUE(dir.Rename(temp, "target"));
  ASSERT_TRUE(dir.Sync());

  std::vector<std::string> names;
  ASSERT_TRUE(dir.List(&names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"second", "target"}));
  FileHandle reread = dir.OpenForReading("target");
  char buffer[8];
  ASSERT_EQ(reread.ReadFull(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "new");
  ASSERT_TRUE(dir.Remove("second"));
  EXPECT_FALSE(dir.Remove("second"));
  EXPECT_EQ(LastFsErrorKind(), FsErrorKind::kNotFound);
}

TEST(DirHandle, OpenOrCreateMakesMissingLevels) {
  TempTree tree;
  std::string error;
  DirHandle dir = DirHandle::OpenOrCreate(tree.At("a/b/c"), 0700, &error);
  ASSERT_TRUE(dir.IsOpen()) << error;
  struct stat st;
  ASSERT_EQ(stat(tree.At("a/b/c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(DirHandle::Open(tree.At("missing"), &error).IsOpen());
  EXPECT_NE(error.find("missing"), std::string::npos);
}

class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(LocalTimeTest, FormatsAndParsesWallClockText) {
  EXPECT_EQ(FormatLocalTime(1236434709), "2009-03-07 14:05:09");
  int64_t seconds = 0;
  ASSERT_TRUE(ParseLocalTime("2009-03-07 14:05:09", &seconds));
  EXPECT_EQ(seconds, 1236434709);
  ASSERT_TRUE(ParseLocalTime("2009-03-07", &seconds));
  EXPECT_EQ(seconds, 1236384000);
}

TEST_F(LocalTimeTest, RefusesTextThatIsNoDate) {
  for (const char* text : {"", "garbage", "2009-02-30 00:00:00", "2009-03-07 14:05",
                           "2009-03-07 24:00:00", "2009-13-01 00:00:00", "2009-03-07 14:05:09x"}) {
    int64_t seconds = 42;
    EXPECT_FALSE(ParseLocalTime(text, &seconds)) << text;
    EXPECT_EQ(seconds, 42) << text;
  }
}

}  // namespace
}  // namespace docsec::agent
