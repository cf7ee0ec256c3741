// unique_fd.h - a file descriptor with one owner, closed when it goes.
#pragma once

#include <unistd.h>

#include <utility>

namespace zibbet {

/// Owns one descriptor (or none, -1): moving hands it over, and it is
/// closed once, when its owner goes or takes another.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
  unique_fd& operator=(unique_fd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() { reset(); }

  /// The descriptor, still owned.
  [[nodiscard]] int get() const { return fd_; }
  /// Whether a descriptor is held.
  explicit operator bool() const { return fd_ >= 0; }
  /// Gives up ownership without closing.
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }
  /// Closes the held descriptor (not retried on EINTR) and holds `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) (void)close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace zibbet
