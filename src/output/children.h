// children.h - what every child of the watcher shares: default signals on
// entry, a bounded wait, and SIGPIPE held off while the watcher writes
// into a child's pipe.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>

namespace zibbet {

using steady = std::chrono::steady_clock;

/// reset_child_signals - in a new child: the default SIGPIPE and an empty
/// signal mask; the watcher's stop handlers give way to the default action
/// (an ignored signal stays ignored).
void reset_child_signals();

/// ms_until - milliseconds left until `deadline`, at least 0.
[[nodiscard]] int ms_until(steady::time_point deadline);

/// wait_until - reaps `pid`, waiting until `deadline` at most. Returns
/// false, with the child still running, when time runs out.
[[nodiscard]] bool wait_until(pid_t pid, steady::time_point deadline);

/// write_all - writes all of `data` to the non-blocking `fd`, across
/// interruptions and short writes, until `deadline`. Returns false when
/// the reader is gone, another error stops it, or time runs out.
[[nodiscard]] bool write_all(int fd, const char* data, std::size_t size,
                             steady::time_point deadline);

/// Ignores SIGPIPE while it lives, so that a reader that ends early
/// cannot end the watcher.
class sigpipe_ignored {
 public:
  sigpipe_ignored();
  ~sigpipe_ignored();
  sigpipe_ignored(const sigpipe_ignored&) = delete;
  sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

 private:
  struct sigaction old_ {};
  bool saved_ = false;
};

}  // namespace zibbet
