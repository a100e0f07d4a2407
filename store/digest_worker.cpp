#include "store/digest_worker.h"

#include <system_error>

namespace kdr {

namespace {

std::optional<FileDigest> Digest(FileReader& reader) {
  ContentHasher hasher;
  if (!reader.ReadPieces([&](std::string_view piece) { hasher.Add(piece); })) return std::nullopt;
  return FileDigest{hasher.size(), hasher.Finish()};
}

}  // namespace

DigestWorker::DigestWorker(size_t max_queued) : max_queued_(max_queued == 0 ? 1 : max_queued) {}

DigestWorker::~DigestWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void DigestWorker::Add(const std::string& key, std::optional<FileStamp> stamp,
                       std::unique_ptr<FileReader> reader) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto [it, added] = results_.try_emplace(key);
  if (!added) return;
  it->second.stamp = stamp;
  if (reader && !thread_tried_) {
    thread_tried_ = true;
    // Without a second thread each file is read as it is added: slower, never wrong.
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
  }
  if (!reader || !thread_.joinable()) {
    if (reader) it->second.digest = Digest(*reader);
    it->second.done = true;
    changed_.notify_all();
    return;
  }
  changed_.wait(lock, [&] { return queue_.size() < max_queued_; });
  queue_.emplace_back(key, std::move(reader));
  // The thread is woken for a few files at a time, not for each: a wake-up for every small file
  // cost more than reading it. Take wakes it for whatever waits.
  if (queue_.size() >= WakeAt()) changed_.notify_all();
}

bool DigestWorker::Take(const std::string& key, std::optional<FileDigest>* digest,
                        std::optional<FileStamp>* stamp) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto it = results_.find(key);
  if (it == results_.end()) return false;
  if (!it->second.done) changed_.notify_all();
  changed_.wait(lock, [&] { return it->second.done; });
  *digest = it->second.digest;
  *stamp = it->second.stamp;
  results_.erase(it);
  return true;
}

bool DigestWorker::Peek(const std::string& key, std::optional<FileDigest>* digest,
                        std::optional<FileStamp>* stamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = results_.find(key);
  if (it == results_.end() || !it->second.done) return false;
  *digest = it->second.digest;
  *stamp = it->second.stamp;
  return true;
}

void DigestWorker::Forget() {
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.clear();
  // A file being read would come back under its key after the results are cleared.
  changed_.wait(lock, [&] { return !reading_; });
  results_.clear();
  changed_.notify_all();
}

void DigestWorker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    auto [key, reader] = std::move(queue_.front());
    queue_.pop_front();
    reading_ = true;
    if (queue_.size() + WakeAt() <= max_queued_) changed_.notify_all();  // room for Add
    lock.unlock();
    std::optional<FileDigest> digest = Digest(*reader);
    reader.reset();
    lock.lock();
    reading_ = false;
    Result& result = results_[key];
    result.digest = digest;
    result.done = true;
    changed_.notify_all();
  }
}

}  // namespace kdr
