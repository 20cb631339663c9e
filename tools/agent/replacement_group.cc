#include "tools/agent/replacement_group.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "docsec/platform/trace.h"

namespace docsec::agent {

ReplacementGroup::ReplacementGroup(Limits limits) : limits_(limits) {
  limits_.files = std::max<size_t>(1, limits_.files);
  limits_.flush_threads = std::max(1, limits_.flush_threads);
}

ReplacementGroup::~ReplacementGroup() = default;

ReplacementGroup::Folder* ReplacementGroup::FolderOf(const DirHandle& dir) {
  FileInfo self;
  if (!dir.StatSelf(&self)) return nullptr;
  // Files come folder by folder, so the last one is nearly always the one.
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
    if ((*it)->device == self.device && (*it)->inode == self.inode) return it->get();
  }
  auto folder = std::make_unique<Folder>();
  folder->dir = dir.Duplicate();
  if (!folder->dir.IsOpen()) return nullptr;
  folder->device = self.device;
  folder->inode = self.inode;
  folders_.push_back(std::move(folder));
  return folders_.back().get();
}

ReplacementFile* ReplacementGroup::Begin(const DirHandle& dir, const uint8_t* key) {
  Drop();
  begun_folder_ = FolderOf(dir);
  if (begun_folder_ == nullptr) return nullptr;
  begun_ = std::make_unique<ReplacementFile>(begun_folder_->dir, key);
  return begun_.get();
}

void ReplacementGroup::Drop() {
  begun_.reset();
  begun_folder_ = nullptr;
}

void ReplacementGroup::Finish(const std::string& name, const FileInfo& before, Done done) {
  if (begun_ == nullptr) return;
  Entry entry;
  entry.folder = begun_folder_;
  entry.file = std::move(begun_);
  entry.name = name;
  entry.before = before;
  entry.done = std::move(done);
  if (!entry.file->temporary_name().empty()) ++named_;
  held_.insert({before.device, before.inode});
  begun_folder_ = nullptr;
  entries_.push_back(std::move(entry));
  if (++waiting_ >= limits_.files) Commit();
}

void ReplacementGroup::Then(std::function<void()> step) {
  if (entries_.empty()) {
    step();
    return;
  }
  Entry entry;
  entry.step = std::move(step);
  entries_.push_back(std::move(entry));
}

void ReplacementGroup::FlushAll(std::vector<Entry*>* files) {
  if (limits_.flush_file_system && !files->empty()) {
    // One flush a file system; a failure fails every file of it, as which one's data was lost
    // cannot be told.
    std::vector<std::pair<uint64_t, bool>> flushed;  // device, result
    bool unsupported = false;
    for (Entry* entry : *files) {
      auto it = std::find_if(flushed.begin(), flushed.end(),
                             [&](const auto& done) { return done.first == entry->folder->device; });
      if (it == flushed.end()) {
        const bool ok = entry->folder->dir.SyncFileSystem();
        if (!ok && LastFsErrorKind() == FsErrorKind::kWrongKind) unsupported = true;
        flushed.emplace_back(entry->folder->device, ok);
        it = flushed.end() - 1;
      }
      if (!it->second) entry->result = FailedWriteResult();
    }
    if (!unsupported) return;
    for (Entry* entry : *files) entry->result = SealResult::kOk;
  }
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < files->size(); i = next++) {
      Entry* entry = (*files)[i];
      entry->result = entry->file->Flush();
    }
  };
  const size_t wanted = std::min(files->size(), static_cast<size_t>(limits_.flush_threads));
  std::vector<std::thread> threads;
  try {
    for (size_t i = 1; i < wanted; ++i) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads only means fewer flushes at once.
  }
  work();
  for (std::thread& thread : threads) thread.join();
}

void ReplacementGroup::Commit() {
  Drop();
  std::vector<Entry> entries = std::move(entries_);
  entries_.clear();
  waiting_ = 0;
  named_ = 0;
  held_.clear();
  std::vector<Entry*> files;
  for (Entry& entry : entries) {
    if (entry.file == nullptr) continue;
    entry.result = entry.file->TakeOver(entry.name, entry.before);
    if (entry.result == SealResult::kOk) files.push_back(&entry);
  }
  FlushAll(&files);
  // In order, and only what is stored: a rename never names content that a crash could lose.
  for (Entry* entry : files) {
    if (entry->result != SealResult::kOk) continue;
    entry->result = entry->file->Install(entry->name, entry->before, limits_.retire_to);
    if (entry->result == SealResult::kOk) entry->folder->changed = true;
  }
  for (const std::unique_ptr<Folder>& folder : folders_) {
    if (folder->changed && !folder->dir.Sync()) {
      Trace("agent: folder flush after replacing files failed: %s", LastFsErrorText().c_str());
    }
    folder->changed = false;
  }
  // The folder handles stay until the Done calls have used them.
  std::vector<std::unique_ptr<Folder>> folders = std::move(folders_);
  folders_.clear();
  for (Entry& entry : entries) {
    if (entry.file == nullptr) {
      entry.step();
      continue;
    }
    // An uninstalled named temporary goes with its file, before the caller hears of it.
    entry.file.reset();
    if (entry.done) entry.done(entry.result, entry.folder->dir);
  }
}

}  // namespace docsec::agent
