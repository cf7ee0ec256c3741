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

#include "watch/expand.h"

namespace zibbet {

namespace {

// Command children started and not yet collected; reap_children asks the
// kernel only while there may be some.
std::size_t pending_commands = 0;

// shown - a name from a login record made fit for our own messages:
// control bytes become "?".
std::string shown(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) ch = '?';
  }
  return out;
}

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

// How long a greeting may take: a write utility stuck on a buddy's stopped
// terminal (or one that never reads) must not stall the watcher for good.
std::chrono::milliseconds greeting_limit{10000};

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
int refuse(std::string_view user, std::string_view line) {
  std::fprintf(stderr, "%s: warning, not writing to %s on %s\n", global_settings.prog_name.c_str(),
               shown(user).c_str(), shown(line).c_str());
  return -1;
}

// terminal_ok - whether /dev/<line> opens as a terminal. The open never
// makes it our controlling terminal and never blocks (a FIFO, say).
bool terminal_ok(std::string_view line) {
  std::string device = "/dev/" + std::string(line);
  int fd = open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    std::fprintf(stderr, "%s: %s\n", shown(device).c_str(), std::strerror(err));
    return false;
  }
  bool tty = isatty(fd) != 0;
  close(fd);
  return tty;
}

// send_greeting - runs "write USER LINE" without a shell, feeds it the
// greeting (and one more newline unless no_newline), and waits for it.
void send_greeting(std::string_view user, std::string_view line, const std::string& greeting) {
  std::string user_arg(user);
  std::string line_arg(line);
  char write_name[] = "write";
  char* argv[] = {write_name, user_arg.data(), line_arg.data(), nullptr};
  const char* prog = global_settings.prog_name.c_str();

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    std::perror("unable to alloc pipe in write_to_buddy");
    return;
  }
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("unable to fork in write_to_buddy");
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (pid == 0) {
    reset_child_signals();
    if (dup2(fds[0], STDIN_FILENO) < 0) _exit(127);
    execvp(argv[0], argv);
    int err = errno;
    std::fprintf(stderr, "%s: cannot run write: %s\n", prog, std::strerror(err));
    _exit(127);
  }
  close(fds[0]);
  const steady::time_point deadline = steady::now() + greeting_limit;
  {
    sigpipe_ignored guard;
    (void)fcntl(fds[1], F_SETFL, O_NONBLOCK);
    // A reader that went away (EPIPE) only means the greeting is lost.
    if (write_all(fds[1], greeting.data(), greeting.size(), deadline) &&
        global_settings.no_newline == 0)
      (void)write_all(fds[1], "\n", 1, deadline);
    close(fds[1]);
  }
  if (!wait_until(pid, deadline)) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::fprintf(stderr, "%s: warning, write to %s on %s took too long; stopped it\n", prog,
                 shown(user).c_str(), shown(line).c_str());
  }
}

}  // namespace

void notify_buddy(const buddy& b, const presence& p, std::int16_t greet_mode) {
  reap_children();
  if (p.state != PRESENCE_GONE && p.state != PRESENCE_NEW) return;

  const settings& s = b.overrides ? *b.overrides : global_settings;
  const bool greet = b.overrides ? greet_mode != -1 && s.write_buddies != 0 : greet_mode > 0;

  // Every text is expanded before any is used, for a gone login too.
  std::optional<std::string> status = bud_expand_fmt(&p, s.status_message.c_str());
  std::optional<std::string> greeting;
  if (greet) greeting = bud_expand_fmt(&p, s.message.c_str());
  std::optional<std::string> command;
  if (s.exec_command) command = bud_expand_fmt(&p, s.exec_command->c_str(), expand_use::command);

  if (status) std::fputs(status->c_str(), stdout);
  if (p.state != PRESENCE_NEW) return;
  if (greeting) (void)write_to_buddy(utmpx_user(*p.entry), utmpx_line(*p.entry), *greeting);
  if (command) (void)fork_and_exec(*command);
}

int write_to_buddy(std::string_view user, std::string_view line, const std::string& greeting) {
  std::printf("can i write to %s?", shown(line).c_str());
  if (!safe_line(line) || !terminal_ok(line)) return refuse(user, line);
  send_greeting(user, line, greeting);
  return 0;
}

pid_t fork_and_exec(const std::string& command) {
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("unable to fork in fork_and_exec");
    return -1;
  }
  if (pid > 0) {
    ++pending_commands;
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

void set_greeting_limit(std::chrono::milliseconds limit) { greeting_limit = limit; }

void reap_children() {
  while (pending_commands > 0) {
    pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) {
      --pending_commands;
    } else if (pid < 0 && errno == EINTR) {
      continue;
    } else {
      if (pid < 0) pending_commands = 0;  // no children left at all
      break;
    }
  }
}

}  // namespace zibbet
