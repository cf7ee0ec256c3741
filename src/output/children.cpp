// children.cpp - signals, bounded waits and writes for the watcher's
// children.
#include "output/children.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zibbet {

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

int ms_until(steady::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

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

sigpipe_ignored::sigpipe_ignored() {
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  saved_ = sigaction(SIGPIPE, &ign, &old_) == 0;
}

sigpipe_ignored::~sigpipe_ignored() {
  if (saved_) sigaction(SIGPIPE, &old_, nullptr);
}

}  // namespace zibbet
