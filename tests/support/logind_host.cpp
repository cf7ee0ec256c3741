// logind_host.cpp - session files, session processes in cgroups, and
// private mount namespaces with a test's folder on /run.
#include "support/logind_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zibbet::test {

namespace {

std::string errno_text(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// write_all - the whole buffer to fd; false when it could not be written.
bool write_all(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// read_exact - `size` bytes from fd within `timeout`; false at its end, on
// an error, or when time runs out.
bool read_exact(int fd, void* data, std::size_t size, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char* p = static_cast<char*>(data);
  while (size > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd in{fd, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void remove_files_and_folder(const std::string& path) {
  if (DIR* d = opendir(path.c_str())) {
    while (const dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") unlink((path + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}

}  // namespace

std::string session_id(int n) {
  return "zt" + std::to_string(getpid()) + "n" + std::to_string(n);
}

logind_host::logind_host(bool booted, bool sessions_folder) {
  mkdir((dir_ / "systemd").c_str(), 0755);
  if (booted) mkdir((dir_ / "systemd/system").c_str(), 0755);
  if (sessions_folder) make_sessions_folder();
}

std::string logind_host::session_text(const std::string& id, const session_fields& f) {
  std::ostringstream out;
  out << "# This is private data. Do not parse.\n";
  out << "UID=" << f.uid << "\n";
  if (!f.user.empty()) out << "USER=" << f.user << "\n";
  out << "ACTIVE=1\nIS_DISPLAY=0\n";
  out << "STATE=" << f.state << "\n";
  out << "REMOTE=" << (f.remote_host.empty() ? 0 : 1) << "\n";
  out << "TYPE=" << f.type << "\nORIGINAL_TYPE=" << f.type << "\n";
  if (!f.session_class.empty()) out << "CLASS=" << f.session_class << "\n";
  out << "SCOPE=session-" << id << ".scope\n";
  out << "FIFO=/run/systemd/sessions/" << id << ".ref\n";
  if (!f.tty.empty()) out << "TTY=" << f.tty << "\n";
  if (!f.display.empty()) out << "DISPLAY=" << f.display << "\n";
  if (!f.remote_host.empty()) out << "REMOTE_HOST=" << f.remote_host << "\n";
  if (!f.service.empty()) out << "SERVICE=" << f.service << "\n";
  out << "REALTIME=1700000000000000\nMONOTONIC=12345678\n";
  return out.str();
}

void logind_host::write_session(const std::string& id, const session_fields& fields) {
  std::string folder = sessions_dir();
  std::string temp = folder + "/.#" + id + "XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return;
  std::string text = session_text(id, fields);
  bool written = write_all(fd, text.data(), text.size()) && fchmod(fd, 0644) == 0;
  close(fd);
  if (!written || rename(temp.c_str(), (folder + "/" + id).c_str()) != 0) {
    unlink(temp.c_str());
    return;
  }
  sessions_[id] = fields;
}

void logind_host::close_session(const std::string& id) {
  session_fields fields = sessions_[id];
  fields.state = "closing";
  write_session(id, fields);
}

void logind_host::remove_session(const std::string& id) {
  unlink((sessions_dir() + "/" + id).c_str());
  sessions_.erase(id);
}

void logind_host::make_sessions_folder() const {
  mkdir((dir_ / "systemd").c_str(), 0755);
  mkdir(sessions_dir().c_str(), 0755);
}

void logind_host::remove_sessions_folder() {
  remove_files_and_folder(sessions_dir());
  sessions_.clear();
}

std::string cgroup2_root() {
  std::ifstream mounts("/proc/mounts");
  std::string device;
  std::string where;
  std::string type;
  std::string rest;
  while (mounts >> device >> where >> type && std::getline(mounts, rest)) {
    if (type == "cgroup2") return where;
  }
  return "";
}

namespace {

// session_parts - the cgroup folders of a session, outermost first.
std::vector<std::string> session_parts(const std::string& session, uid_t uid) {
  return {"user.slice", "user-" + std::to_string(uid) + ".slice", "session-" + session + ".scope"};
}

// The mark on the cgroup folders that tests make: a shared parent (the
// user.slice, a user's slice) that one test process made may outlive it
// while another's session is in it; the last one out removes it when it
// carries the mark, and only then, so no folder of a real host goes.
constexpr const char* test_mark = "trusted.zibbet-test";

// make_folders - makes root/parts... (those missing), marked as made by a
// test, adding the ones it made to `made`; returns the deepest path, or
// sets `error`.
std::string make_folders(const std::string& root, const std::vector<std::string>& parts,
                         std::vector<std::string>& made, std::string& error) {
  std::string path = root;
  for (const std::string& part : parts) {
    path += "/" + part;
    if (mkdir(path.c_str(), 0755) == 0) {
      (void)setxattr(path.c_str(), test_mark, "1", 1, 0);
      made.push_back(path);
    } else if (errno != EEXIST) {
      error = errno_text("mkdir " + path);
      return "";
    }
  }
  return path;
}

// remove_folders - removes the folders in `made` under `own` (deepest
// first, waiting for the kernel to let go of ended processes), then the
// parents of `own` up to `levels` levels that this object made or that
// carry the test mark, when nothing else is in them.
void remove_folders(const std::string& own, const std::vector<std::string>& made, int levels) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    if (it->compare(0, own.size(), own) != 0) continue;
    (void)wait_until([&] { return rmdir(it->c_str()) == 0 || errno == ENOENT; },
                     std::chrono::seconds(2));
  }
  std::string parent = own;
  for (int i = 0; i < levels; ++i) {
    std::size_t slash = parent.rfind('/');
    if (slash == std::string::npos || slash == 0) break;
    parent.resize(slash);
    char mark = 0;
    bool ours = std::find(made.begin(), made.end(), parent) != made.end() ||
                getxattr(parent.c_str(), test_mark, &mark, 1) >= 0;
    if (ours) rmdir(parent.c_str());
  }
}

// move_into - writes `pid` into the cgroup.procs of `folder`.
bool move_into(const std::string& folder, pid_t pid) {
  int procs = open((folder + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC);
  std::string pid_text = std::to_string(pid);
  bool moved = procs >= 0 && write_all(procs, pid_text.data(), pid_text.size());
  if (procs >= 0) close(procs);
  return moved;
}

// become - all of this process's uids and gids `uid`, and no groups.
bool become(uid_t uid, bool dumpable) {
  auto gid = static_cast<gid_t>(uid);
  if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
    return false;
  return !dumpable || prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) == 0;
}

// reap - waits up to `timeout` for child `pid` to end; false if it did not.
bool reap(pid_t pid, std::chrono::milliseconds timeout) {
  return wait_until(
      [&] {
        pid_t r = waitpid(pid, nullptr, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
      },
      timeout);
}

}  // namespace

namespace {

// as_user - the options of a process of the session's own user, as a
// login's processes are, with a terminal or without.
session_process_options as_user(uid_t uid, bool with_terminal) {
  session_process_options o;
  o.with_terminal = with_terminal;
  o.run_as = uid;
  return o;
}

}  // namespace

session_process::session_process(const std::string& session, uid_t uid, bool with_terminal)
    : session_process(session, uid, as_user(uid, with_terminal)) {}

session_process::session_process(const std::string& session, uid_t uid,
                                 const session_process_options& options) {
  std::string root = cgroup2_root();
  if (root.empty()) {
    error_ = "no cgroup2 hierarchy";
    return;
  }
  std::string slave;
  if (options.with_terminal) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char* name = nullptr;
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        (name = ptsname(master_)) == nullptr) {
      error_ = errno_text("posix_openpt");
      return;
    }
    slave = name;
    line_ = slave.substr(std::strlen("/dev/"));
  }
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    error_ = errno_text("pipe");
    return;
  }
  pid_ = fork();
  if (pid_ < 0) {
    error_ = errno_text("fork");
    close(ready[0]);
    close(ready[1]);
    return;
  }
  if (pid_ == 0) {
    // A session leader of its own whose first terminal opened becomes its
    // controlling terminal.
    close(ready[0]);
    setsid();
    if (!slave.empty() && open(slave.c_str(), O_RDWR) < 0) _exit(1);
    if (options.run_as && !become(*options.run_as, options.dumpable)) _exit(1);
    // Sharers inherit the session and so the terminal. The leader waits
    // for SIGTERM, then ends them and collects them itself, so that none
    // is left for init to collect while its cgroup is to be removed.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, nullptr);
    std::vector<pid_t> sharers;
    for (int i = 0; i < options.sharers; ++i) {
      pid_t c = fork();
      if (c == 0) {
        for (;;) pause();
      }
      if (c < 0) _exit(1);
      sharers.push_back(c);
      (void)write_all(ready[1], &c, sizeof c);
    }
    (void)write_all(ready[1], "r", 1);
    int sig = 0;
    sigwait(&term, &sig);
    for (pid_t c : sharers) kill(c, SIGKILL);
    for (pid_t c : sharers) waitpid(c, nullptr, 0);
    _exit(0);
  }
  close(ready[1]);
  bool started = true;
  for (int i = 0; i < options.sharers && started; ++i) {
    pid_t c = -1;
    started = read_exact(ready[0], &c, sizeof c, std::chrono::seconds(5));
    if (started) sharers_.push_back(c);
  }
  char byte = 0;
  started = started && read_exact(ready[0], &byte, 1, std::chrono::seconds(5));
  close(ready[0]);
  if (!started) {
    error_ = "the session process did not start";
    return;
  }

  // Another test process may remove a shared parent folder between our
  // mkdir and the move: try the whole chain a few times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    error_.clear();
    std::string path = make_folders(root, session_parts(session, uid), made_, error_);
    if (!error_.empty()) continue;
    scope_ = path;
    bool moved = move_into(path, pid_);
    for (pid_t c : sharers_) moved = moved && move_into(path, c);
    if (moved) return;
    error_ = errno_text("moving the process into " + path);
  }
}

void session_process::stop() {
  if (pid_ > 0) {
    // A leader ends its sharers on SIGTERM; SIGKILL if it does not end.
    bool ended = false;
    if (!sharers_.empty()) {
      kill(pid_, SIGTERM);
      ended = reap(pid_, std::chrono::seconds(5));
    }
    if (!ended) {
      kill(pid_, SIGKILL);
      for (pid_t c : sharers_) kill(c, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  sharers_.clear();
  // The session's own folder, if this object made it, is its alone; the
  // shared parents go only when nothing else is in them.
  if (!scope_.empty()) remove_folders(scope_, made_, 2);
  made_.clear();
  scope_.clear();
  if (master_ >= 0) close(master_);
  master_ = -1;
}

session_process::~session_process() {
  stop();
}

session_scope::session_scope(const std::string& session, uid_t uid) {
  std::string root = cgroup2_root();
  if (root.empty()) {
    error_ = "no cgroup2 hierarchy";
    return;
  }
  // Another test process may remove a shared parent folder between our
  // mkdirs: try the chain a few times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    error_.clear();
    path_ = make_folders(root, session_parts(session, uid), made_, error_);
    if (error_.empty() && access(path_.c_str(), F_OK) == 0) return;
  }
}

std::string session_scope::nest(const std::string& relative) {
  if (!ok()) return "";
  std::vector<std::string> parts;
  for (std::size_t at = 0; at <= relative.size();) {
    std::size_t slash = std::min(relative.find('/', at), relative.size());
    if (slash > at) parts.push_back(relative.substr(at, slash - at));
    at = slash + 1;
  }
  std::string error;
  std::string path = make_folders(path_, parts, made_, error);
  return error.empty() ? path : "";
}

bool session_scope::move(pid_t pid, const std::string& folder) const {
  return move_into(folder, pid);
}

session_scope::~session_scope() {
  // The scope and the folders in it are ours alone; the shared parents go
  // only when nothing else is in them.
  if (!path_.empty()) remove_folders(path_, made_, 2);
}

std::string private_run_unavailable() {
#if !ZIBBET_HAVE_LOGIND
  return "built without libsystemd: no logind support";
#else
  static const std::string why = [] {
    if (access("/usr/bin/unshare", X_OK) != 0) return std::string("no /usr/bin/unshare");
    pid_t pid = fork();
    if (pid == 0) {
      bool ok = unshare(CLONE_NEWNS) == 0 &&
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
      return std::string("no private mount namespace here (unshare -m needs CAP_SYS_ADMIN)");
    return std::string();
  }();
  return why;
#endif
}

std::string session_processes_unavailable() {
  std::string root = cgroup2_root();
  if (root.empty()) return "no cgroup2 hierarchy in /proc/mounts";
  if (access((root + "/cgroup.procs").c_str(), W_OK) != 0)
    return "the cgroup2 hierarchy at " + root + " is not writable";
  return "";
}

run_options on_private_run(const std::string& root, run_options opts,
                           const std::vector<std::string>& inner_env) {
  std::string program = opts.program.empty() ? zibbet_binary() : opts.program;
  std::vector<std::string> args = {"-m", "sh", "-c", "mount --bind \"$0\" /run && exec \"$@\"",
                                   root};
  if (!inner_env.empty()) {
    args.emplace_back("/usr/bin/env");
    args.insert(args.end(), inner_env.begin(), inner_env.end());
  }
  args.push_back(program);
  args.insert(args.end(), opts.args.begin(), opts.args.end());
  opts.program = "/usr/bin/unshare";
  opts.args = std::move(args);
  return opts;
}

namespaced_source::namespaced_source(const std::string& root) {
  // One channel both ways; the test's side sends with MSG_NOSIGNAL, so a
  // child that died makes a failed pass, not a SIGPIPE.
  int channel[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
    error_ = errno_text("socketpair");
    return;
  }
  pid_ = fork();
  if (pid_ < 0) {
    error_ = errno_text("fork");
    close(channel[0]);
    close(channel[1]);
    return;
  }
  if (pid_ == 0) {
    close(channel[0]);
    int fd = channel[1];
    std::string why;
    if (unshare(CLONE_NEWNS) != 0) {
      why = errno_text("unshare");
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why = errno_text("making / private");
    } else if (mount(root.c_str(), "/run", nullptr, MS_BIND, nullptr) != 0) {
      why = errno_text("binding onto /run");
    }
    if (!why.empty()) {
      why.insert(0, "e");
      (void)write_all(fd, why.data(), why.size());
      _exit(1);
    }
    logind_support support = logind_support_here();
    char code = support == logind_support::available    ? 'a'
                : support == logind_support::not_booted ? 'n'
                                                        : 'b';
    (void)write_all(fd, &code, 1);
    std::string unused;
    std::unique_ptr<login_source> source = make_logind_source(unused);
    if (!source) _exit(0);
    // Each login goes back as its three fields, each ended by a NUL.
    std::string blob;
    auto keep = [&blob](const login_view& l) {
      for (std::string_view field : {l.user, l.line, l.host}) {
        blob += field;
        blob += '\0';
      }
    };
    char command = 0;
    while (read(fd, &command, 1) == 1 && command == 'r') {
      blob.clear();
      source->read(keep);
      auto size = static_cast<std::uint32_t>(blob.size());
      if (!write_all(fd, &size, sizeof size) || !write_all(fd, blob.data(), blob.size())) break;
    }
    _exit(0);
  }
  close(channel[1]);
  channel_ = channel[0];
  char code = 0;
  if (!read_exact(channel_, &code, 1, std::chrono::seconds(10))) {
    error_ = "the namespace child did not answer";
  } else if (code == 'e') {
    char text[512];
    ssize_t n = read(channel_, text, sizeof text);
    error_.assign(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  } else {
    support_ = code == 'a'   ? logind_support::available
               : code == 'n' ? logind_support::not_booted
                             : logind_support::not_built;
    if (support_ != logind_support::available) error_ = "no logind source in the namespace";
  }
}

namespaced_source::~namespaced_source() {
  if (channel_ >= 0) shutdown(channel_, SHUT_WR);  // the child's cue to end
  if (pid_ > 0) {
    bool ended = wait_until([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; },
                            std::chrono::seconds(5));
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (channel_ >= 0) close(channel_);
}

std::vector<zibbet::login> namespaced_source::pass() {
  std::vector<zibbet::login> logins;
  if (!error_.empty()) return logins;
  std::uint32_t size = 0;
  if (send(channel_, "r", 1, MSG_NOSIGNAL) != 1 ||
      !read_exact(channel_, &size, sizeof size, std::chrono::seconds(10))) {
    error_ = "the namespace child did not read";
    return logins;
  }
  std::string blob(size, '\0');
  if (!read_exact(channel_, blob.data(), size, std::chrono::seconds(10))) {
    error_ = "the namespace child sent a short answer";
    return logins;
  }
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < blob.size();) {
    std::size_t end = blob.find('\0', at);
    fields.push_back(blob.substr(at, end - at));
    at = end + 1;
  }
  for (std::size_t i = 0; i + 2 < fields.size(); i += 3)
    logins.emplace_back(fields[i], fields[i + 1], fields[i + 2]);
  return logins;
}

}  // namespace zibbet::test
