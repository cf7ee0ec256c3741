// session_terminals.cpp - a session's terminals from the members of its
// scope cgroup.
//
// A call costs a few system calls per member of the session and none for
// the rest of the host: the scope folder is opened once, its cgroup.procs
// read, and each member's /proc/PID/stat opened, its owner (the process's
// effective uid) looked at, and read. Nested cgroups are looked for only when
// the scope folder's link count says it has subfolders (on the cgroup file
// system a folder has 2 links plus one per subfolder), which a scope that
// logind made never has.
#include "logins/session_terminals.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#if defined(__linux__)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace zibbet {

namespace {

// unescape_mount_path - a mount point as the kernel writes it in
// mountinfo, with its \ooo octal escapes (blank, tab, newline, backslash)
// made bytes again; nullopt when it cannot be a path.
std::optional<std::string> unescape_mount_path(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    auto octal = [](char d) { return d >= '0' && d <= '7'; };
    if (c == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
        octal(field[i + 3]) && field[i + 1] <= '3') {
      int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      c = static_cast<char>(static_cast<unsigned char>(v));
      i += 3;
    }
    if (c == '\0') return std::nullopt;  // no path holds a NUL
    out.push_back(c);
  }
  if (out.empty() || out.front() != '/') return std::nullopt;
  return out;
}

// next_field - the next blank-separated field of `line` from `at`, which
// it moves past the field; empty at the line's end.
std::string_view next_field(std::string_view line, std::size_t& at) {
  while (at < line.size() && line[at] == ' ') ++at;
  std::size_t start = at;
  while (at < line.size() && line[at] != ' ') ++at;
  return line.substr(start, at - start);
}

// cgroup2_mount_point - the unescaped mount point of one mountinfo line
// when it mounts a cgroup2 file system: "ID PARENT MAJ:MIN ROOT POINT
// OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER_OPTIONS".
std::optional<std::string> cgroup2_mount_point(std::string_view line) {
  std::size_t at = 0;
  std::string_view point;
  for (int field = 1; field <= 6; ++field) {
    std::string_view f = next_field(line, at);
    if (f.empty() || f == "-") return std::nullopt;  // cut short
    if (field == 5) point = f;
  }
  // Optional fields ("shared:1", "master:2") up to the lone "-".
  for (;;) {
    std::string_view f = next_field(line, at);
    if (f.empty()) return std::nullopt;
    if (f == "-") break;
  }
  if (next_field(line, at) != "cgroup2") return std::nullopt;
  return unescape_mount_path(point);
}

// parse_decimal - the unsigned number that is all of `text`; false for an
// empty text, any other byte, or a number above `max`.
bool parse_decimal(std::string_view text, std::uint64_t max, std::uint64_t& out) {
  if (text.empty()) return false;
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  out = v;
  return true;
}

}  // namespace

std::optional<std::string> cgroup2_mount(std::string_view mountinfo) {
  std::optional<std::string> first;
  while (!mountinfo.empty()) {
    std::size_t end = mountinfo.find('\n');
    std::string_view line = mountinfo.substr(0, end);
    mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);
    std::optional<std::string> point = cgroup2_mount_point(line);
    if (!point) continue;
    if (*point == "/sys/fs/cgroup" || *point == "/sys/fs/cgroup/unified") return point;
    if (!first) first = std::move(point);
  }
  return first;
}

bool parse_proc_stat(std::string_view text, proc_stat_fields& out) {
  // "PID (COMM) S PPID PGRP SESSION TTY_NR ... STARTTIME ..."
  std::size_t close = text.rfind(')');
  if (close == std::string_view::npos || text.find('(') > close) return false;
  std::string_view rest = text.substr(close + 1);
  std::size_t at = 0;
  for (int field = 3; field <= 22; ++field) {
    // Each field follows a blank; the kernel writes one, more are let be.
    if (at >= rest.size() || rest[at] != ' ') return false;
    while (at < rest.size() && rest[at] == ' ') ++at;
    std::size_t start = at;
    while (at < rest.size() && rest[at] != ' ' && rest[at] != '\n') ++at;
    std::string_view f = rest.substr(start, at - start);
    if (f.empty()) return false;
    if (field == 3) {
      if (f.size() != 1) return false;
      out.state = f[0];
    } else if (field == 7) {
      // The kernel prints a signed int; its 32 bits are the device number.
      bool negative = f[0] == '-';
      if (negative) f.remove_prefix(1);
      std::uint64_t v = 0;
      constexpr auto int_max = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
      if (!parse_decimal(f, negative ? int_max + 1 : int_max, v)) return false;
      if (negative) v = (std::uint64_t{1} << 32) - v;
      out.tty_nr = static_cast<std::uint32_t>(v & 0xffffffffU);
    } else if (field == 22) {
      if (!parse_decimal(f, std::numeric_limits<std::uint64_t>::max(), out.starttime)) return false;
    }
  }
  return true;
}

std::optional<std::string> terminal_line(std::uint64_t tty_nr) {
  if (tty_nr > 0xffffffffU) return std::nullopt;
  // The kernel's encoding: minor bits 0-7 and 20-31, major bits 8-19.
  std::uint64_t major = (tty_nr >> 8) & 0xfff;
  std::uint64_t minor = (tty_nr & 0xff) | ((tty_nr >> 12) & 0xfff00);
  std::string line;
  std::uint64_t n = 0;
  if (major >= 136 && major <= 143) {
    line = "pts/";
    n = (major - 136) * 256 + minor;
  } else if (major == 4 && minor >= 1 && minor < 64) {
    line = "tty";
    n = minor;
  } else if (major == 4 && minor >= 64) {
    line = "ttyS";
    n = minor - 64;
  } else {
    return std::nullopt;
  }
  line += std::to_string(n);
  return line;
}

session_terminal_finder::session_terminal_finder(std::string cgroup_root)
    : given_root_(true), root_(std::move(cgroup_root)) {}

#if defined(__linux__)

namespace {

// Nested cgroups deeper than this under a scope are not looked into: the
// kernel allows deep trees, and a call's cost must stay bounded.
constexpr int max_depth = 8;

// valid_session_id - whether `id` can be put into a path as it is: ASCII
// letters and digits only (logind's ids are "3" or "c12"), not too long.
bool valid_session_id(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// read_all - the whole of fd into `out` (cleared first); false on an error.
bool read_all(int fd, std::string& out) {
  out.clear();
  std::size_t have = 0;
  for (;;) {
    if (out.size() - have < 512) out.resize(std::max<std::size_t>(4096, out.size() * 2));
    ssize_t got = ::read(fd, out.data() + have, out.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      out.clear();
      return false;
    }
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  out.resize(have);
  return true;
}

// read_file - a small file of the mountinfo kind into a string; "" when it
// cannot be read.
std::string read_file(const char* path) {
  std::string text;
  unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd || !read_all(fd.get(), text)) text.clear();
  return text;
}

}  // namespace

// start - the cgroup2 hierarchy (unless given) and /proc, at the first call.
void session_terminal_finder::start() {
  if (started_) return;
  started_ = true;
  if (!given_root_) root_ = cgroup2_mount(read_file("/proc/self/mountinfo")).value_or("");
  proc_.reset(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

const std::string& session_terminal_finder::cgroup_root() {
  start();
  return root_;
}

std::vector<std::string> session_terminal_finder::terminals(std::string_view session_id,
                                                            uid_t uid) {
  std::vector<std::string> lines;
  if (!valid_session_id(session_id)) return lines;
  start();
  if (root_.empty() || !proc_) return lines;
  path_ = root_;
  path_ += "/user.slice/user-";
  path_ += std::to_string(uid);
  path_ += ".slice/session-";
  path_ += session_id;
  path_ += ".scope";
  unique_fd scope(open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!scope) return lines;
  ttys_.clear();
  read_members(scope.get(), uid, 0);
  std::sort(ttys_.begin(), ttys_.end());
  ttys_.erase(std::unique(ttys_.begin(), ttys_.end()), ttys_.end());
  lines.reserve(ttys_.size());
  for (std::uint32_t tty : ttys_) {
    if (std::optional<std::string> line = terminal_line(tty)) lines.push_back(std::move(*line));
  }
  return lines;
}

// read_members - the terminals of the processes listed in the cgroup
// folder `dir` and in the folders nested in it.
void session_terminal_finder::read_members(int dir, uid_t uid, int depth) {
  if (unique_fd procs(openat(dir, "cgroup.procs", O_RDONLY | O_CLOEXEC));
      procs && read_all(procs.get(), procs_)) {
    std::string_view list = procs_;
    while (!list.empty()) {
      std::size_t end = list.find('\n');
      read_process(list.substr(0, end), uid);
      list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    }
  }
  struct stat st {};
  if (fstat(dir, &st) != 0 || st.st_nlink == 2 || depth >= max_depth) return;
  // Subfolders, or a file system that does not count them in links.
  unique_fd listing(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing) return;
  DIR* d = fdopendir(listing.get());
  if (d == nullptr) return;
  (void)listing.release();  // the stream owns it now
  while (const dirent* e = readdir(d)) {
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    unique_fd sub(openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub) read_members(sub.get(), uid, depth + 1);
  }
  closedir(d);
}

// read_process - the terminal of process `pid` (a line of cgroup.procs)
// into ttys_ when it runs as `uid`, has one and has not ended.
void session_terminal_finder::read_process(std::string_view pid, uid_t uid) {
  std::uint64_t number = 0;
  if (!parse_decimal(pid, std::numeric_limits<std::int32_t>::max(), number) || number == 0) return;
  char name[24];  // "PID/stat"
  auto [end, ec] = std::to_chars(name, name + 11, number);
  if (ec != std::errc()) return;
  std::size_t digits = static_cast<std::size_t>(end - name);
  std::memcpy(end, "/stat", sizeof "/stat");
  unique_fd stat_file(openat(proc_.get(), name, O_RDONLY | O_CLOEXEC));
  if (!stat_file) return;  // ended since the listing
  // The file's owner is the process's effective uid, except that the
  // kernel shows a process that is not dumpable (after a change of user,
  // or by its own choice, as agents make themselves) as root's; its
  // folder shows the uid even then. The read below fails if the process
  // has ended, so a process that is still there when read was there when
  // its folder was looked at: the pid was not reused in between.
  struct stat st {};
  if (fstat(stat_file.get(), &st) != 0) return;
  if (st.st_uid != uid) {
    name[digits] = '\0';
    if (st.st_uid != 0 || fstatat(proc_.get(), name, &st, 0) != 0 || st.st_uid != uid) return;
  }
  // Field 22 comes within the first few hundred bytes; the rest may go.
  char text[1024];
  ssize_t got;
  do {
    got = ::read(stat_file.get(), text, sizeof text);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return;
  proc_stat_fields fields;
  if (!parse_proc_stat(std::string_view(text, static_cast<std::size_t>(got)), fields)) return;
  // A process that ended and is not yet collected is no one's terminal.
  if (fields.tty_nr == 0 || fields.state == 'Z' || fields.state == 'X') return;
  ttys_.push_back(fields.tty_nr);
}

#else  // not Linux: no cgroups, no /proc of this kind

void session_terminal_finder::start() {
  started_ = true;
}

const std::string& session_terminal_finder::cgroup_root() {
  root_.clear();
  return root_;
}

std::vector<std::string> session_terminal_finder::terminals(std::string_view session_id,
                                                            uid_t uid) {
  (void)session_id;
  (void)uid;
  return {};
}

void session_terminal_finder::read_members(int dir, uid_t uid, int depth) {
  (void)dir;
  (void)uid;
  (void)depth;
}

void session_terminal_finder::read_process(std::string_view pid, uid_t uid) {
  (void)pid;
  (void)uid;
}

#endif

}  // namespace zibbet
