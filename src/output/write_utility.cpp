// write_utility.cpp - a greeting through the host's write(1): a pipe, a
// child, a deadline.
#include "output/write_utility.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/diag.h"
#include "common/unique_fd.h"
#include "common/untrusted.h"
#include "output/children.h"

namespace zibbet {

namespace {

// terminal_ok - whether /dev/<line> opens as a terminal. The open never
// makes it our controlling terminal and never blocks (a FIFO, say).
bool terminal_ok(std::string_view line) {
  std::string device = "/dev/" + std::string(line);
  unique_fd fd(open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    report_errno(terminal_safe(device), errno);
    return false;
  }
  return isatty(fd.get()) != 0;
}

// send - runs "write USER LINE" without a shell, feeds it `text`, and
// waits for it until the limit.
void send(const greeting_settings& s, std::string_view user, std::string_view line,
          std::string_view text) {
  std::string user_arg(user);
  std::string line_arg(line);
  char write_name[] = "write";
  char* argv[] = {write_name, user_arg.data(), line_arg.data(), nullptr};

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    report_errno("unable to alloc pipe in write_to_buddy", errno);
    return;
  }
  unique_fd read_end(fds[0]);
  unique_fd write_end(fds[1]);
  pid_t pid = fork();
  if (pid < 0) {
    report_errno("unable to fork in write_to_buddy", errno);
    return;
  }
  if (pid == 0) {
    reset_child_signals();
    if (dup2(read_end.get(), STDIN_FILENO) < 0) _exit(127);
    execvp(argv[0], argv);
    int err = errno;
    warn(s.prog_name, "cannot run write: %s", std::strerror(err));
    _exit(127);
  }
  read_end.reset();
  const steady::time_point deadline = steady::now() + s.limit;
  {
    sigpipe_ignored guard;
    (void)fcntl(write_end.get(), F_SETFL, O_NONBLOCK);
    // A reader that went away (EPIPE) only means the greeting is lost.
    (void)write_all(write_end.get(), text.data(), text.size(), deadline);
    write_end.reset();
  }
  if (!wait_until(pid, deadline)) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    warn(s.prog_name, "warning, write to %s on %s took too long; stopped it",
         terminal_safe(user).c_str(), terminal_safe(line).c_str());
  }
}

}  // namespace

int write_with_utility(const greeting_settings& s, std::string_view user, std::string_view line,
                       std::string_view text) {
  if (!device_line_safe(line) || !terminal_ok(line)) return refuse_greeting(s, user, line);
  send(s, user, line, text);
  return 0;
}

}  // namespace zibbet
