#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "store/content_hash.h"

// Files read and hashed in a second thread while the first goes on (a copy's read-back runs
// beside the copy). The files are opened by the caller, in its own thread, so the calls on the
// file system keep their order; only the reading and the hashing move.
namespace kdr {

class DigestWorker {
 public:
  // At most `max_queued` opened files wait to be read; Add waits for room beyond that. The
  // thread starts with the first file to read (a thread costs a run of server requests under
  // Wine, and many folders hold nothing to read).
  explicit DigestWorker(size_t max_queued = 64);
  // Stops the thread: files not read yet are closed unread.
  ~DigestWorker();
  DigestWorker(const DigestWorker&) = delete;
  DigestWorker& operator=(const DigestWorker&) = delete;

  // Reads `reader` under `key` (a null reader: a file that could not be opened), keeping
  // `stamp` (the file's, taken before it was opened) with its digest. A key already added keeps
  // its first file.
  void Add(const std::string& key, std::optional<FileStamp> stamp,
           std::unique_ptr<FileReader> reader);
  // False when nothing was added under `key`; else waits for the file and sets *digest
  // (nullopt when it could not be opened or read whole) and *stamp.
  bool Take(const std::string& key, std::optional<FileDigest>* digest,
            std::optional<FileStamp>* stamp);
  // The same without waiting and without taking: false unless the file under `key` is read.
  bool Peek(const std::string& key, std::optional<FileDigest>* digest,
            std::optional<FileStamp>* stamp);
  // Drops every file added and not taken (those not read yet are closed unread), so that the
  // worker can serve another copy whose keys may repeat these.
  void Forget();

 private:
  // One file added: the caller's until handed over, the thread's while it reads it. `done` is
  // set by the thread once `digest` is final.
  struct Job {
    std::optional<FileStamp> stamp;
    std::unique_ptr<FileReader> reader;
    std::optional<FileDigest> digest;
    std::atomic<bool> done{false};
  };

  void Run();
  // How the thread waits for files: a few at once, or a doze, whichever comes first.
  size_t WakeFor() const { return std::min<size_t>(16, max_queued_); }
  static constexpr std::chrono::milliseconds kDoze{1};
  static constexpr int kDozes = 20;  // then it sleeps until woken

  // Only the caller's thread touches these.
  std::map<std::string, std::unique_ptr<Job>> jobs_;  // every key added, not taken
  size_t max_queued_;
  bool thread_tried_ = false;  // started, or failed to start: then each file is read in Add

  // Shared with the thread, under mutex_. Each side wakes the other only when it waits, so
  // that a run of small files costs no wake-up a file.
  std::mutex mutex_;
  std::condition_variable work_;      // the thread waits here for files
  std::condition_variable progress_;  // the caller waits here for room, or for a file read
  std::vector<Job*> queue_;           // added, not yet taken by the thread
  bool stopping_ = false;
  bool dozing_ = false;       // the thread waits a doze for files
  bool asleep_ = false;       // the thread waits for files until woken
  bool reading_ = false;      // the thread holds files taken from the queue
  bool room_wanted_ = false;  // Add waits for room in the queue
  bool taker_waits_ = false;  // Take waits for a file
  bool forgetting_ = false;   // Forget waits for the thread's files
  std::thread thread_;
};

}  // namespace kdr
