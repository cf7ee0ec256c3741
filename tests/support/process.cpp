// process.cpp - this test process's children, and its standard streams
// sent elsewhere for a while.
#include "support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "support/harness.h"

namespace zibbet::test {

std::vector<child_process> children() {
  std::vector<child_process> out;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return out;
  while (const dirent* t = readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    std::ifstream list(std::string("/proc/self/task/") + t->d_name + "/children");
    for (pid_t pid = 0; list >> pid;) {
      std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
      std::size_t paren = stat.rfind(')');
      char state = paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
      out.push_back({pid, state});
    }
  }
  closedir(tasks);
  return out;
}

int zombies() {
  int n = 0;
  for (const child_process& c : children()) n += c.state == 'Z' ? 1 : 0;
  return n;
}

fd_capture::fd_capture(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  std::fflush(nullptr);
  saved_ = dup(fd_);
  int to = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (to >= 0) {
    dup2(to, fd_);
    close(to);
  }
}

fd_capture::~fd_capture() {
  std::fflush(nullptr);
  if (saved_ >= 0) {
    dup2(saved_, fd_);
    close(saved_);
  }
}

std::string fd_capture::text() const {
  std::fflush(nullptr);
  return read_file(path_);
}

captured capture(const std::string& stem, const std::function<void()>& fn) {
  {
    fd_capture out(1, stem + ".out");
    fd_capture err(2, stem + ".err");
    fn();
  }
  return {read_file(stem + ".out"), read_file(stem + ".err"), stem + ".err"};
}

}  // namespace zibbet::test
