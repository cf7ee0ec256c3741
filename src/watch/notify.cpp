// notify.cpp - the status line, the greeting through write(1), and the
// command of a login that appeared or disappeared.
#include "watch/notify.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/diag.h"
#include "common/login_record.h"
#include "common/unique_fd.h"
#include "watch/expand.h"

namespace zibbet {

namespace {

// safe_line - whether a line name stays inside /dev: not empty, not
// absolute, and without a ".." component.
bool safe_line(std::string_view line) {
  if (line.empty() || line.front() == '/') return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = line.find('/', start);
    std::string_view part = line.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (part == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// reset_child_signals - a new child starts with the default SIGPIPE and
// an empty signal mask; the watcher's stop handlers give way to the
// default action (an ignored signal stays ignored).
void reset_child_signals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGPIPE, &dfl, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// sigpipe_ignored - ignores SIGPIPE while it lives, so a write utility
// that ends before reading cannot end the watcher.
class sigpipe_ignored {
 public:
  sigpipe_ignored() {
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    saved_ = sigaction(SIGPIPE, &ign, &old_) == 0;
  }
  ~sigpipe_ignored() {
    if (saved_) sigaction(SIGPIPE, &old_, nullptr);
  }
  sigpipe_ignored(const sigpipe_ignored&) = delete;
  sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

 private:
  struct sigaction old_ {};
  bool saved_ = false;
};

using steady = std::chrono::steady_clock;

// ms_until - milliseconds left until `deadline`, at least 0.
int ms_until(steady::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// write_all - writes all of `data` to the non-blocking fd, across
// interruptions and short writes, until `deadline`. Returns false when the
// reader is gone, another error stops it, or time runs out.
bool write_all(int fd, const char* data, std::size_t size, steady::time_point deadline) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return false;
      pollfd out{fd, POLLOUT, 0};
      int left = ms_until(deadline);
      if (left == 0) return false;
      (void)poll(&out, 1, left);
      continue;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// wait_until - reaps `pid`, waiting until `deadline` at most. Returns
// false, with the child still running, when time runs out.
bool wait_until(pid_t pid, steady::time_point deadline) {
  int nap_ms = 1;
  for (;;) {
    pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    int left = ms_until(deadline);
    if (left == 0) return false;
    (void)poll(nullptr, 0, std::min(nap_ms, left));
    nap_ms = std::min(nap_ms * 2, 50);
  }
}

// refuse - the warning of a greeting that is not sent; returns -1.
int refuse(const std::string& prog, std::string_view user, std::string_view line) {
  warn(prog, "warning, not writing to %s on %s", shown(user).c_str(), shown(line).c_str());
  return -1;
}

// terminal_ok - whether /dev/<line> opens as a terminal. The open never
// makes it our controlling terminal and never blocks (a FIFO, say).
bool terminal_ok(std::string_view line) {
  std::string device = "/dev/" + std::string(line);
  unique_fd fd(open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    int err = errno;
    warn(shown(device), "%s", std::strerror(err));
    return false;
  }
  return isatty(fd.get()) != 0;
}

// send_greeting - runs "write USER LINE" without a shell, feeds it the
// greeting (and one more newline unless no_newline), and waits for it.
void send_greeting(const watch_context& ctx, std::string_view user, std::string_view line,
                   const std::string& greeting) {
  std::string user_arg(user);
  std::string line_arg(line);
  char write_name[] = "write";
  char* argv[] = {write_name, user_arg.data(), line_arg.data(), nullptr};
  const std::string& prog = ctx.run.prog_name;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    std::perror("unable to alloc pipe in write_to_buddy");
    return;
  }
  unique_fd read_end(fds[0]);
  unique_fd write_end(fds[1]);
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("unable to fork in write_to_buddy");
    return;
  }
  if (pid == 0) {
    reset_child_signals();
    if (dup2(read_end.get(), STDIN_FILENO) < 0) _exit(127);
    execvp(argv[0], argv);
    int err = errno;
    warn(prog, "cannot run write: %s", std::strerror(err));
    _exit(127);
  }
  read_end.reset();
  const steady::time_point deadline = steady::now() + ctx.greeting_limit;
  {
    sigpipe_ignored guard;
    (void)fcntl(write_end.get(), F_SETFL, O_NONBLOCK);
    // A reader that went away (EPIPE) only means the greeting is lost.
    if (write_all(write_end.get(), greeting.data(), greeting.size(), deadline) &&
        ctx.run.no_newline == 0)
      (void)write_all(write_end.get(), "\n", 1, deadline);
    write_end.reset();
  }
  if (!wait_until(pid, deadline)) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    warn(prog, "warning, write to %s on %s took too long; stopped it", shown(user).c_str(),
         shown(line).c_str());
  }
}

}  // namespace

void notify_buddy(watch_context& ctx, const buddy& b, const presence& p, std::int16_t greet_mode) {
  reap_children(ctx);
  if (p.state != PRESENCE_GONE && p.state != PRESENCE_NEW) return;

  const settings& s = b.overrides ? *b.overrides : ctx.run;
  const bool greet = b.overrides ? greet_mode != -1 && s.write_buddies != 0 : greet_mode > 0;

  // Every text is expanded before any is used, for a gone login too.
  std::optional<std::string> status = bud_expand_fmt(ctx, &p, s.status_message.c_str());
  std::optional<std::string> greeting;
  if (greet) greeting = bud_expand_fmt(ctx, &p, s.message.c_str());
  std::optional<std::string> command;
  if (s.exec_command)
    command = bud_expand_fmt(ctx, &p, s.exec_command->c_str(), expand_use::command);

  if (status) std::fputs(status->c_str(), stdout);
  if (p.state != PRESENCE_NEW) return;
  if (greeting) (void)write_to_buddy(ctx, utmpx_user(p.record), utmpx_line(p.record), *greeting);
  if (command) (void)fork_and_exec(ctx, *command);
}

int write_to_buddy(const watch_context& ctx, std::string_view user, std::string_view line,
                   const std::string& greeting) {
  std::printf("can i write to %s?", shown(line).c_str());
  if (!safe_line(line) || !terminal_ok(line)) return refuse(ctx.run.prog_name, user, line);
  send_greeting(ctx, user, line, greeting);
  return 0;
}

pid_t fork_and_exec(watch_context& ctx, const std::string& command) {
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("unable to fork in fork_and_exec");
    return -1;
  }
  if (pid > 0) {
    ++ctx.pending_commands;
    return pid;
  }
  reset_child_signals();
  // Running the user's command through the shell is the point; the values
  // a login record put into it were made shell-safe by the expansion.
  int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  if (status == -1) std::perror("fork_and_exec");
  if (status != 0)
    std::fprintf(stderr, "warning: system(%s) returned %d\n", command.c_str(), status);
  // _exit, not exit: the watcher's buffered output belongs to the watcher.
  _exit(status & 0xff);
}

void reap_children(watch_context& ctx) {
  while (ctx.pending_commands > 0) {
    pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) {
      --ctx.pending_commands;
    } else if (pid < 0 && errno == EINTR) {
      continue;
    } else {
      if (pid < 0) ctx.pending_commands = 0;  // no children left at all
      break;
    }
  }
}

}  // namespace zibbet
