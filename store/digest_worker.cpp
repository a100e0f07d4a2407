#include "store/digest_worker.h"

#include <algorithm>
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
  work_.notify_one();
  thread_.join();
}

void DigestWorker::Add(const std::string& key, std::optional<FileStamp> stamp,
                       std::unique_ptr<FileReader> reader) {
  auto [it, added] = jobs_.try_emplace(key);
  if (!added) return;
  it->second = std::make_unique<Job>();
  Job& job = *it->second;
  job.stamp = stamp;
  if (reader && !thread_tried_) {
    thread_tried_ = true;
    // Without a second thread each file is read as it is added: slower, never wrong.
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
  }
  if (!reader || !thread_.joinable()) {
    if (reader) job.digest = Digest(*reader);
    job.done.store(true, std::memory_order_release);
    return;
  }
  job.reader = std::move(reader);
  bool wake = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.size() >= max_queued_) {
      room_wanted_ = true;
      if (dozing_ || asleep_) work_.notify_one();
      progress_.wait(lock, [&] { return queue_.size() < max_queued_; });
      room_wanted_ = false;
    }
    queue_.push_back(&job);
    wake = asleep_ || (dozing_ && queue_.size() >= WakeFor());
  }
  // A thread at work takes what was queued meanwhile when it comes back for more, and one that
  // dozes takes it within its doze: a wake-up for every small file cost more than reading it.
  if (wake) work_.notify_one();
}

bool DigestWorker::Take(const std::string& key, std::optional<FileDigest>* digest,
                        std::optional<FileStamp>* stamp) {
  auto it = jobs_.find(key);
  if (it == jobs_.end()) return false;
  Job& job = *it->second;
  if (!job.done.load(std::memory_order_acquire)) {
    std::unique_lock<std::mutex> lock(mutex_);
    taker_waits_ = true;
    if (dozing_ || asleep_) work_.notify_one();
    progress_.wait(lock, [&] { return job.done.load(std::memory_order_acquire); });
    taker_waits_ = false;
  }
  *digest = job.digest;
  *stamp = job.stamp;
  jobs_.erase(it);
  return true;
}

bool DigestWorker::Peek(const std::string& key, std::optional<FileDigest>* digest,
                        std::optional<FileStamp>* stamp) {
  auto it = jobs_.find(key);
  if (it == jobs_.end() || !it->second->done.load(std::memory_order_acquire)) return false;
  *digest = it->second->digest;
  *stamp = it->second->stamp;
  return true;
}

void DigestWorker::Forget() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.clear();
    // The files the thread holds point into jobs_: they go once it is done with them.
    forgetting_ = true;
    progress_.wait(lock, [&] { return !reading_; });
    forgetting_ = false;
  }
  jobs_.clear();
}

void DigestWorker::Run() {
  std::vector<Job*> taken;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Short dozes while files may come, each ended early by a few files queued; then sleep
    // until woken. A file queued waits a doze at most, open and unread.
    auto enough = [&] {
      return stopping_ || queue_.size() >= WakeFor() || taker_waits_ || room_wanted_;
    };
    for (int doze = 0; doze < kDozes && !enough(); ++doze) {
      dozing_ = true;
      work_.wait_for(lock, kDoze, enough);
      dozing_ = false;
      if (!queue_.empty()) break;
    }
    if (!stopping_ && queue_.empty()) {
      asleep_ = true;
      work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      asleep_ = false;
    }
    if (stopping_) return;
    // Every file queued at once: one lock for the lot, not one a file.
    taken.swap(queue_);
    queue_.clear();
    reading_ = true;
    const bool room = room_wanted_;
    lock.unlock();
    if (room) progress_.notify_one();
    for (Job* job : taken) {
      job->digest = Digest(*job->reader);
      job->reader.reset();
      job->done.store(true, std::memory_order_release);
    }
    lock.lock();
    reading_ = false;
    // Under the lock: a Take that found its file not done is waiting by now, not about to.
    if (taker_waits_ || forgetting_) progress_.notify_one();
  }
}

}  // namespace kdr
