#include "tools/agent/retired_files.h"

#include <system_error>
#include <utility>

namespace docsec::agent {

RetiredFiles::RetiredFiles(size_t max_waiting) : max_waiting_(max_waiting) {}

RetiredFiles::~RetiredFiles() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  waiting_.clear();  // left only when the worker never started
}

void RetiredFiles::Retire(FileHandle file) {
  if (!file.IsOpen()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_ && waiting_.size() < max_waiting_) {
      if (!worker_.joinable()) {
        try {
          worker_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
          // No thread: the file is closed here, as if nothing were deferred.
        }
      }
      if (worker_.joinable()) {
        waiting_.push_back(std::move(file));
        wake_.notify_one();
        return;
      }
    }
  }
  file.Close();
}

void RetiredFiles::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (waiting_.empty()) return;  // stopping, and nothing left
    FileHandle file = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    file.Close();
    lock.lock();
  }
}

}  // namespace docsec::agent
