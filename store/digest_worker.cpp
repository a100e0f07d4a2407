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
  batch_.push_back(&job);
  if (batch_.size() >= BatchSize()) Hand();
}

void DigestWorker::Hand() {
  if (batch_.empty()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [&] { return queue_.size() + batch_.size() <= max_queued_; });
    queue_.insert(queue_.end(), batch_.begin(), batch_.end());
  }
  batch_.clear();
  work_.notify_one();
}

bool DigestWorker::Take(const std::string& key, std::optional<FileDigest>* digest,
                        std::optional<FileStamp>* stamp) {
  auto it = jobs_.find(key);
  if (it == jobs_.end()) return false;
  Job& job = *it->second;
  if (!job.done.load(std::memory_order_acquire)) {
    Hand();  // the file may still be among those gathered here
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [&] { return job.done.load(std::memory_order_acquire); });
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
    progress_.wait(lock, [&] { return !reading_; });
  }
  batch_.clear();
  jobs_.clear();
}

void DigestWorker::Run() {
  std::vector<Job*> taken;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    // A batch at a time, so that files keep coming back while the next are read.
    const size_t count = std::min(queue_.size(), BatchSize());
    taken.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    reading_ = true;
    lock.unlock();
    progress_.notify_one();  // room for Hand
    for (Job* job : taken) {
      job->digest = Digest(*job->reader);
      job->reader.reset();
      job->done.store(true, std::memory_order_release);
    }
    lock.lock();
    reading_ = false;
    // Under the lock: a Take that found its file not done is waiting by now, not about to.
    progress_.notify_one();
  }
}

}  // namespace kdr
