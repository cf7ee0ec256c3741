// command_runner.cpp - commands in children that the runner owns.
#include "output/command_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/diag.h"
#include "output/children.h"

namespace zibbet {

pid_t command_runner::start(const std::string& command) {
  reap();
  pid_t pid = fork();
  if (pid < 0) {
    report_errno("unable to fork in fork_and_exec", errno);
    return -1;
  }
  if (pid > 0) {
    running_.push_back(pid);
    return pid;
  }
  reset_child_signals();
  // Running the user's command through the shell is the point; the values
  // a login put into it were made shell-safe by the expansion.
  int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  if (status == -1) report_errno("fork_and_exec", errno);
  if (status != 0) say("warning: system(%s) returned %d\n", command.c_str(), status);
  // _exit, not exit: the watcher's buffered output belongs to the watcher.
  _exit(status & 0xff);
}

void command_runner::reap() {
  auto ended = [](pid_t pid) {
    for (;;) {
      pid_t done = waitpid(pid, nullptr, WNOHANG);
      if (done < 0 && errno == EINTR) continue;
      // Collected now, or no longer a child of ours (ECHILD): either way
      // there is nothing left to wait for.
      return done == pid || done < 0;
    }
  };
  running_.erase(std::remove_if(running_.begin(), running_.end(), ended), running_.end());
}

}  // namespace zibbet
