// process.h - this test process's children, and its standard streams sent
// elsewhere for a while.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace zibbet::test {

/// One child of this process and its state letter from /proc (`Z` for a
/// child that has ended and not been collected).
struct child_process {
  pid_t pid;
  char state;
};

/// children - this process's children, defunct ones included.
std::vector<child_process> children();

/// zombies - how many of this process's children are defunct.
int zombies();

/// Sends a descriptor (standard output by default) to a file, /dev/null
/// unless named, while it lives; stdio is flushed at both ends.
class fd_capture {
 public:
  explicit fd_capture(int fd = 1, std::string path = "/dev/null");
  ~fd_capture();
  fd_capture(const fd_capture&) = delete;
  fd_capture& operator=(const fd_capture&) = delete;

  /// text - what has been written so far (stdio flushed first).
  [[nodiscard]] std::string text() const;

 private:
  int fd_;
  std::string path_;
  int saved_ = -1;
};

/// What a captured call wrote.
struct captured {
  std::string out;
  std::string err;
  std::string err_path;  ///< children that outlive the call write here
};

/// capture - runs fn with standard output and standard error appended to
/// the files `stem`.out and `stem`.err, and returns what it wrote there.
captured capture(const std::string& stem, const std::function<void()>& fn);

}  // namespace zibbet::test
