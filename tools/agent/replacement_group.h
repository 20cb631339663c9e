// Replacements of many files made durable together. Flushing each new file and its folder on its
// own costs two trips to the disk a file, which bounds a folder of small files at a few hundred
// files a second on an ordinary disk. A group instead holds the finished new files of up to
// `Limits::files` originals, flushes their data with several flushes under way at once (the file
// system then writes them in a few journal commits), renames each over its original in the order
// the files were finished, and flushes each folder once.
//
// Crash safety is that of a single replacement: a new file is renamed over its original only
// after its own data is on stable storage, so a crash leaves each original with its old bytes or
// its complete new bytes; a new file not renamed yet is unnamed (or one of the agent's own named
// temporaries, which the next sweep removes). Callers learn how each replacement ended only after
// the folder flushes, so nothing is reported done before it is stored.
//
// Thread safety: a group is used by one thread; Commit starts and joins its own flush threads.
// The folder handles given to Begin need not outlive the group: it keeps its own, one a folder.
#ifndef DOCSEC_TOOLS_AGENT_REPLACEMENT_GROUP_H_
#define DOCSEC_TOOLS_AGENT_REPLACEMENT_GROUP_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/agent/replacement_file.h"

namespace docsec::agent {

class ReplacementGroup {
 public:
  using Done = ReplacementDone;

  struct Limits {
    // Finished replacements held before they are committed; each holds one open descriptor, and
    // the group one more a folder.
    size_t files = 256;
    // Flushes under way at once during a commit (threads, the caller's own among them).
    int flush_threads = 16;
    // Flush the whole file system of each folder once instead of each file: one write-back and
    // one journal commit for the group, however many files, where each file's flush costs a
    // commit of its own. Others' unwritten data on that file system is written too. Where the
    // system cannot, the files are flushed one by one.
    bool flush_file_system = true;
    // Where the files replaced are closed, off the committing thread; null frees them in the
    // rename.
    RetiredFiles* retire_to = nullptr;
  };

  ReplacementGroup() : ReplacementGroup(Limits()) {}
  explicit ReplacementGroup(Limits limits);
  // Abandons what is not committed: those originals keep their old bytes, and no Done is called.
  ~ReplacementGroup();
  ReplacementGroup(const ReplacementGroup&) = delete;
  ReplacementGroup& operator=(const ReplacementGroup&) = delete;

  // A new replacement for a file of `dir`, owned by the group until Finish or Drop (the caller
  // still calls Create). Null when the folder could not be looked at or its handle duplicated.
  ReplacementFile* Begin(const DirHandle& dir, const uint8_t* key);
  // The replacement begun last is written in full: at commit it goes in place of `name` when that
  // is still the file `before` describes, and then `done` is told. A group that is full commits.
  void Finish(const std::string& name, const FileInfo& before, Done done);
  // Abandons the replacement begun last.
  void Drop();
  // Runs `step` in its turn among the Done calls, so that what callers report keeps the order in
  // which the files were handled; at once when nothing waits before it.
  void Then(std::function<void()> step);

  // True while a replacement with a named temporary waits: a caller that removes the agent's own
  // temporaries from a folder commits first.
  bool HasNamedTemporaries() const { return named_ > 0; }
  // True while a replacement of the file `file` describes waits: a second operation on it would
  // read the old content, so callers commit first.
  bool Holds(const FileInfo& file) const { return held_.count({file.device, file.inode}) > 0; }
  size_t waiting() const { return waiting_; }

  // Flushes the data of every waiting file, renames each over its original, flushes each folder
  // once, then makes the Done calls and runs the steps in order.
  void Commit();

 private:
  struct Folder {
    DirHandle dir;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool changed = false;
  };
  struct Entry {
    Folder* folder = nullptr;  // null for a step
    std::unique_ptr<ReplacementFile> file;
    std::string name;
    FileInfo before;
    Done done;
    std::function<void()> step;
    SealResult result = SealResult::kOk;
  };

  Folder* FolderOf(const DirHandle& dir);
  void FlushAll(std::vector<Entry*>* files);

  Limits limits_;
  std::vector<std::unique_ptr<Folder>> folders_;
  std::vector<Entry> entries_;
  std::unique_ptr<ReplacementFile> begun_;
  Folder* begun_folder_ = nullptr;
  size_t waiting_ = 0;
  size_t named_ = 0;
  std::set<std::pair<uint64_t, uint64_t>> held_;  // the originals waiting, by device and inode
};

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_REPLACEMENT_GROUP_H_
