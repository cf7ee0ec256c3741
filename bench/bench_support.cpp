// bench_support.cpp - child processes for the benchmarks: programs run
// to their end, and crowds of sleepers.
#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace zibbet::bench {

int run_quietly(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> inherited_env(const std::vector<std::string>& extra) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string var = *e;
    std::string name = var.substr(0, var.find('='));
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.substr(0, x.find('=')) == name;
    if (!replaced) out.push_back(var);
  }
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

std::string fixed_name(const char* prefix, std::size_t i, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%0*zu", prefix, digits, i);
  return buf;
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

crowd::crowd(std::size_t n) {
  pids_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) pause();
    }
    if (pid < 0) {
      error_ = "fork after " + std::to_string(i) + " children: " + std::strerror(errno);
      break;
    }
    pids_.push_back(pid);
  }
}

crowd::~crowd() {
  for (pid_t pid : pids_) kill(pid, SIGKILL);
  for (pid_t pid : pids_) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bool heavy_cases() {
  const char* heavy = std::getenv("ZIBBET_BENCH_HEAVY");
  return heavy != nullptr && std::string(heavy) == "1";
}

std::size_t read_scope_members(const std::vector<std::string>& procs_files) {
  std::size_t total = 0;
  char list[4096];
  char text[1024];
  char path[48];
  for (const std::string& file : procs_files) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t got = read(fd, list, sizeof list - 1);
    close(fd);
    if (got <= 0) continue;
    list[got] = '\0';
    for (char* p = list; *p != '\0';) {
      char* end = std::strchr(p, '\n');
      if (end == nullptr) break;
      *end = '\0';
      std::snprintf(path, sizeof path, "/proc/%.20s/stat", p);
      int st = open(path, O_RDONLY | O_CLOEXEC);
      if (st >= 0) {
        ssize_t n = read(st, text, sizeof text);
        close(st);
        if (n > 0) total += static_cast<std::size_t>(n);
      }
      p = end + 1;
    }
  }
  return total;
}

}  // namespace zibbet::bench
