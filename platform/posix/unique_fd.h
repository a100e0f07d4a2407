#pragma once

#include <unistd.h>

#include <utility>

// The one owner of a POSIX file descriptor: closes it exactly once, movable, not copyable.
namespace kdr {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      // As in the destructor: a descriptor whose close matters is closed by Close() first.
      (void)Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // A destructor cannot report; whoever wrote through the descriptor calls Close() and checks.
  ~UniqueFd() { (void)Close(); }

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now; false when close reported an error (a write that did not reach the disk).
  [[nodiscard]] bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace kdr
