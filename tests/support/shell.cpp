// shell.cpp - documented command lines through bash, and interactive
// programs on a pseudo-terminal.
#include "support/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace zibbet::test {

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

run_options shell_line(const std::string& dir, const std::string& line,
                       std::vector<std::string> env) {
  run_options opts;
  opts.program = find_program("bash");
  // eval: the line is read by the shell exactly as typed, comments included.
  opts.args = {"-c", "cd -- \"$1\" || exit 97; eval \"$2\"", "bash", dir, line};
  opts.env = std::move(env);
  return opts;
}

pty_session::pty_session(const run_options& opts) {
  std::vector<std::string> argv_words{opts.program};
  argv_words.insert(argv_words.end(), opts.args.begin(), opts.args.end());
  std::vector<std::string> env_words = environment_with(opts.env);
  std::vector<char*> argv = argv_pointers(argv_words);
  std::vector<char*> envp = argv_pointers(env_words);

  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("posix_openpt failed");
  std::string slave_path = ptsname(master_);
  winsize size{};
  size.ws_row = 40;
  size.ws_col = 200;  // wide, so that typed lines do not wrap
  ioctl(master_, TIOCSWINSZ, &size);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setsid();
    int slave = open(slave_path.c_str(), O_RDWR);  // becomes the controlling terminal
    if (slave < 0) _exit(126);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    execve(opts.program.c_str(), argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", opts.program.c_str(), std::strerror(errno));
    _exit(127);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

pty_session::~pty_session() {
  if (pid_ > 0) {
    kill(-pid_, SIGHUP);
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

void pty_session::type(const std::string& keys) {
  std::size_t done = 0;
  while (done < keys.size()) {
    ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      wait_for("", out_.size(), std::chrono::milliseconds(10));  // drain, then retry
    } else {
      return;
    }
  }
}

bool pty_session::wait_for(const std::string& text, std::size_t from,
                           std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    char buf[4096];
    for (;;) {
      ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        out_.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      break;  // EAGAIN, or EIO once the program is gone
    }
    if (!text.empty() && from <= out_.size() && out_.find(text, from) != std::string::npos)
      return true;
    if (std::chrono::steady_clock::now() >= deadline) return text.empty();
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, 10);
  }
}

}  // namespace zibbet::test
