// command_runner.h - the commands of new logins, run through the shell in
// children that the runner owns: it knows their pids and reaps only them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zibbet {

/// Starts commands without waiting for them, and collects those that have
/// ended, never one it did not start.
class command_runner {
 public:
  command_runner() = default;
  command_runner(const command_runner&) = delete;
  command_runner& operator=(const command_runner&) = delete;
  ~command_runner() = default;

  /// start - runs `command` through the shell in a new child. Returns its
  /// pid, or -1 (after "unable to fork in fork_and_exec") when no child
  /// could be made. In the child it does not return: a failed or
  /// non-zero system() is reported there, and the child ends with _exit,
  /// so that the watcher's buffered output is never written twice.
  pid_t start(const std::string& command);

  /// reap - collects every child of this runner that has ended, without
  /// waiting for a running one.
  void reap();

  /// running - the pids started and not yet collected.
  [[nodiscard]] const std::vector<pid_t>& running() const { return running_; }

 private:
  std::vector<pid_t> running_;
};

}  // namespace zibbet
