// RetiredFiles: the files a replacement took the place of, given back to the file system on a
// worker thread. Removing the last name of a large file frees its storage (and drops its cached
// pages) inside the rename that replaces it: about 100 ms for 256 MiB on an ordinary disk, paid
// while the command waits. Holding the old file open across the rename and closing it here moves
// that cost off the command's path; the new bytes are stored and named exactly as before.
#ifndef DOCSEC_TOOLS_AGENT_RETIRED_FILES_H_
#define DOCSEC_TOOLS_AGENT_RETIRED_FILES_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "tools/agent/file_system.h"

namespace docsec::agent {

class RetiredFiles {
 public:
  // At most `max_waiting` handles wait at once; beyond that, and where no worker can be started,
  // Retire closes on the caller's thread, so descriptors stay bounded.
  explicit RetiredFiles(size_t max_waiting = kDefaultMaxWaiting);
  // Closes whatever still waits and ends the worker.
  ~RetiredFiles();
  RetiredFiles(const RetiredFiles&) = delete;
  RetiredFiles& operator=(const RetiredFiles&) = delete;

  static constexpr size_t kDefaultMaxWaiting = 64;

  void Retire(FileHandle file);

 private:
  void Run();

  const size_t max_waiting_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<FileHandle> waiting_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_RETIRED_FILES_H_
