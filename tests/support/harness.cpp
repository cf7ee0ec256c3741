// harness.cpp - spawning programs with pipes or a pseudo-terminal, and
// reading what they write with bounded waits.
#include "support/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zibbet::test {

std::vector<std::string> environment_with(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const std::string& change : changes) {
    std::string key = change.substr(0, change.find('='));
    std::erase_if(
        env, [&](const std::string& e) { return e.compare(0, key.size() + 1, key + "=") == 0; });
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  return env;
}

std::vector<char*> argv_pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (std::string& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

namespace {

using clock = std::chrono::steady_clock;

void fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// read_some - appends what fd has now; false at its end (or EIO of a pty
// whose other side is gone).
bool read_some(int fd, std::string& into) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;
  }
}

}  // namespace

std::string zibbet_binary() {
  return ZIBBET_BINARY;
}
std::string tools_dir() {
  return ZIBBET_TOOLS_DIR;
}
std::string source_dir() {
  return ZIBBET_SOURCE_DIR;
}

live_process::live_process(const run_options& opts) {
  std::string program = opts.program.empty() ? zibbet_binary() : opts.program;
  std::vector<std::string> argv_words{program};
  argv_words.insert(argv_words.end(), opts.args.begin(), opts.args.end());
  std::vector<std::string> env_words = environment_with(opts.env);
  std::vector<char*> argv = argv_pointers(argv_words);
  std::vector<char*> envp = argv_pointers(env_words);

  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (opts.stdin_data && pipe2(in_pipe, O_CLOEXEC) != 0) fail("pipe");
  if (opts.stdout_pty) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) fail("posix_openpt");
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) fail("open pty");
    out_pipe[0] = master;
    out_pipe[1] = slave;
  } else if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    fail("pipe");
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) fail("pipe");
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  pid_ = fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    setpgid(0, 0);  // its own group, so that stop() reaches its children too
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    dup2(opts.stdin_data ? in_pipe[0] : devnull, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    execve(program.c_str(), argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", program.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(devnull);
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  set_nonblocking(out_fd_);
  set_nonblocking(err_fd_);
  if (opts.stdin_data) {
    close(in_pipe[0]);
    // Feed standard input in full before anything else; the buddy loader
    // reads it all before the first pass, so this cannot deadlock on
    // output unless the program writes megabytes first.
    const std::string& data = *opts.stdin_data;
    std::size_t done = 0;
    auto deadline = clock::now() + opts.timeout;
    set_nonblocking(in_pipe[1]);
    while (done < data.size() && clock::now() < deadline) {
      ssize_t n = write(in_pipe[1], data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // reader gone
      pump(clock::now() + std::chrono::milliseconds(5), nullptr, nullptr);
    }
    close(in_pipe[1]);
  }
}

live_process::~live_process() {
  if (!reaped_ && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

// pump - reads both streams until the deadline, or until a wanted text has
// appeared, or (with nothing wanted) until the program has ended and both
// streams are drained. Returns whether the wanted text appeared / the
// program ended.
bool live_process::pump(clock::time_point deadline, const std::string* want_out,
                        const std::string* want_err) {
  bool out_open = out_fd_ >= 0;
  bool err_open = err_fd_ >= 0;
  clock::time_point exited_at{};
  for (;;) {
    if (want_out != nullptr && result_.out.find(*want_out) != std::string::npos) return true;
    if (want_err != nullptr && result_.err.find(*want_err) != std::string::npos) return true;
    if (!reaped_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        exited_at = clock::now();
        if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.term_signal = WTERMSIG(status);
      }
    } else if (exited_at == clock::time_point{}) {
      exited_at = clock::now();
    }
    bool nothing_wanted = want_out == nullptr && want_err == nullptr;
    // Once the program is gone, its children may still hold the streams:
    // read what is there for a short while, then stop.
    if (reaped_ &&
        ((!out_open && !err_open) || clock::now() - exited_at > std::chrono::milliseconds(300)))
      return nothing_wanted;
    if (clock::now() >= deadline) return false;
    pollfd fds[2];
    nfds_t n = 0;
    if (out_open) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_open) fds[n++] = {err_fd_, POLLIN, 0};
    if (n == 0) {
      usleep(10000);
      continue;
    }
    poll(fds, n, 10);
    if (out_open) out_open = read_some(out_fd_, result_.out);
    if (err_open) err_open = read_some(err_fd_, result_.err);
  }
}

bool live_process::wait_for_output(const std::string& text, std::chrono::milliseconds timeout) {
  return pump(clock::now() + timeout, &text, nullptr);
}

bool live_process::wait_for_error(const std::string& text, std::chrono::milliseconds timeout) {
  return pump(clock::now() + timeout, nullptr, &text);
}

run_result live_process::stop(int sig) {
  if (!reaped_) kill(pid_, sig);
  if (!pump(clock::now() + std::chrono::seconds(5), nullptr, nullptr)) {
    result_.timed_out = true;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    pump(clock::now() + std::chrono::seconds(5), nullptr, nullptr);
  }
  kill(-pid_, SIGKILL);  // command children left behind
  return result_;
}

bool live_process::wait_exit(std::chrono::milliseconds timeout) {
  return pump(clock::now() + timeout, nullptr, nullptr);
}

run_result run(const run_options& given) {
  run_options opts = given;
  // Unless the test says where logins come from, the binary under test
  // reads an empty records file: this machine has none of its own, and
  // zibbet would say so.
  if (opts.program.empty()) {
    bool says_source = false;
    for (const std::string& e : opts.env)
      says_source =
          says_source || e.rfind("ZIBBET_UTMP", 0) == 0 || e.rfind("ZIBBET_SOURCE", 0) == 0;
    if (!says_source) opts.env.push_back("ZIBBET_UTMP=" + empty_records_file());
  }
  live_process p(opts);
  if (p.wait_exit(opts.timeout)) {
    kill(-p.pid(), SIGKILL);  // command children left behind
    return p.stop(SIGKILL);
  }
  run_result r = p.stop(SIGKILL);
  r.timed_out = true;
  return r;
}

const std::string& empty_records_file() {
  static const temp_dir dir;
  static const std::string path = dir.write_file("empty-utmp", "");
  return path;
}

run_result run_zibbet(std::vector<std::string> args, std::vector<std::string> env,
                      std::optional<std::string> stdin_data) {
  run_options opts;
  opts.args = std::move(args);
  opts.env = std::move(env);
  opts.stdin_data = std::move(stdin_data);
  return run(opts);
}

temp_dir::temp_dir() {
  char tmpl[] = "/tmp/zibbet-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) fail("mkdtemp");
  path_ = tmpl;
}

namespace {
void remove_tree(const std::string& path) {
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      struct stat st {};
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        chmod(child.c_str(), 0700);
        remove_tree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(d);
  }
  rmdir(path.c_str());
}
}  // namespace

temp_dir::~temp_dir() {
  remove_tree(path_);
}

std::string temp_dir::write_file(const std::string& name, const std::string& content) const {
  std::string full = path_ + "/" + name;
  std::ofstream f(full, std::ios::binary | std::ios::trunc);
  f << content;
  f.close();
  chmod(full.c_str(), 0644);
  return full;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string preload(const std::vector<std::string>& libs) {
  std::string value = ZIBBET_ASAN_RUNTIME;
  for (const std::string& lib : libs) {
    if (!value.empty()) value += ' ';
    value += lib;
  }
  return "LD_PRELOAD=" + value;
}

namespace {
std::string existing(const char* path) {
  return access(path, R_OK) == 0 ? path : "";
}
}  // namespace

std::string nss_wrapper_lib() {
  return existing("/usr/lib/x86_64-linux-gnu/libnss_wrapper.so");
}
std::string uid_wrapper_lib() {
  return existing("/usr/lib/x86_64-linux-gnu/libuid_wrapper.so");
}

}  // namespace zibbet::test
