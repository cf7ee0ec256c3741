// logind_source.cpp - one login record per systemd-logind user session.
//
// A pass costs little when nothing changed: logind replaces a session file
// by rename whenever it changes it, so a session is read through the
// library again only when its file's identity (inode, size, mtime) is new,
// and an inotify watch on the sessions folder tells whether the folder
// needs listing at all. (sd_login_monitor watches the same folder, but its
// flush drops the event that says the watch died with a removed folder, so
// a folder made again would go unwatched.) A session without a TTY gets its
// line from the controlling terminal of its processes, found by one walk
// over /proc per pass while some session still lacks a line; the line found
// is kept for as long as the session lasts.
#include "logins/logind_source.h"

#if ZIBBET_HAVE_LOGIND

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "logins/sd_login.h"
#include "logins/utmp_source.h"

#endif

namespace zibbet {

#if ZIBBET_HAVE_LOGIND

namespace {

// Where logind keeps one file per session; sd-login reads the same files.
constexpr const char* sessions_dir = "/run/systemd/sessions";

// A string that libsystemd allocated, freed when the scope ends.
struct lib_string {
  char* p = nullptr;
  lib_string() = default;
  lib_string(const lib_string&) = delete;
  lib_string& operator=(const lib_string&) = delete;
  ~lib_string() { std::free(p); }
  [[nodiscard]] std::string_view view() const { return p != nullptr ? p : ""; }
};

// A list of strings that libsystemd allocated, freed when the scope ends.
struct lib_string_list {
  char** p = nullptr;
  lib_string_list() = default;
  lib_string_list(const lib_string_list&) = delete;
  lib_string_list& operator=(const lib_string_list&) = delete;
  ~lib_string_list() {
    if (p == nullptr) return;
    for (char** s = p; *s != nullptr; ++s) std::free(*s);
    std::free(p);
  }
};

// A directory stream closed when the scope ends.
struct dir_guard {
  DIR* d;
  explicit dir_guard(DIR* dir) : d(dir) {}
  dir_guard(const dir_guard&) = delete;
  dir_guard& operator=(const dir_guard&) = delete;
  ~dir_guard() {
    if (d != nullptr) closedir(d);
  }
};

// What tells one version of a file from another.
struct file_identity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};

  static file_identity of(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  }
  bool operator==(const file_identity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

// Session ids are numbers ("3", "12") or a letter and a number ("c1"):
// shorter ids first, then by bytes, so that numbers sort by value.
bool id_less(std::string_view a, std::string_view b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// What is known of one session.
struct session {
  std::string id;
  file_identity identity;     // of the file the fields below were read from
  bool user_session = false;  // a user class, not closing, with a user name
  std::string tty;            // logind's TTY without "/dev/"
  std::string display;        // logind's X display
  std::string process_line;   // the terminal of its processes, once found
  bool walked = false;        // a walk over /proc looked for it since the read
  bool dirty = false;         // its record is to be made again
  bool has_record = false;
  // The walk's best match so far: the oldest process with a terminal.
  unsigned long long walk_start = 0;
  std::string walk_line;
  std::string user;  // set by the read, bounded by the host's widths
  std::string host;
  std::string line;  // set by settle()

  // lacks_line - whether a walk over /proc has something to find for it:
  // no TTY, no terminal found yet, and no display to fall back on (a
  // display waits for one walk, since a terminal comes first).
  [[nodiscard]] bool lacks_line() const {
    return user_session && tty.empty() && process_line.empty() && (display.empty() || !walked);
  }
};

// strip_dev - a device path as a line: without a leading "/dev/".
std::string_view strip_dev(std::string_view path) {
  constexpr std::string_view dev = "/dev/";
  if (path.substr(0, dev.size()) == dev) path.remove_prefix(dev.size());
  return path;
}

// terminal_line - the line of the terminal whose device number /proc
// gives as `tty_nr`: "pts/N" or "ttyN" (or "ttySN"); false for any other.
bool terminal_line(unsigned long long tty_nr, char (&out)[64]) {
  unsigned long long major = (tty_nr >> 8) & 0xfff;
  unsigned long long minor = (tty_nr & 0xff) | ((tty_nr >> 12) & 0xfff00);
  int n = -1;
  if (major >= 136 && major <= 143) {
    n = std::snprintf(out, sizeof out, "pts/%llu", (major - 136) * 256 + minor);
  } else if (major == 4 && minor >= 1 && minor < 64) {
    n = std::snprintf(out, sizeof out, "tty%llu", minor);
  } else if (major == 4 && minor >= 64) {
    n = std::snprintf(out, sizeof out, "ttyS%llu", minor - 64);
  }
  return n > 0 && static_cast<std::size_t>(n) < sizeof out;
}

// stat_fields - the controlling terminal (field 7) and the start time
// (field 22) from the text of /proc/PID/stat; false when malformed. The
// command name (field 2) may hold blanks and parentheses, so the fields
// are counted from its last ')'.
bool stat_fields(const char* text, unsigned long long& tty_nr, unsigned long long& start) {
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return false;
  ++p;
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (*p == '\0') return false;
    if (field == 7 || field == 22) {
      char* end = nullptr;
      long long v = std::strtoll(p, &end, 10);
      if (end == p) return false;
      // tty_nr is a signed int in the kernel's text; the bits are the number.
      if (field == 7) tty_nr = static_cast<unsigned long long>(v) & 0xffffffffULL;
      if (field == 22) start = static_cast<unsigned long long>(v);
      p = end;
      continue;
    }
    while (*p != ' ' && *p != '\0') ++p;
  }
  return true;
}

class logind_source final : public login_source {
 public:
  explicit logind_source(const sd_login_api& sd) : sd_(sd) {}
  ~logind_source() override = default;
  logind_source(const logind_source&) = delete;
  logind_source& operator=(const logind_source&) = delete;

  void read(login_sink sink) override {
    if (folder_may_have_changed()) rescan();
    bool lacking = false;
    for (const auto& s : sessions_) lacking = lacking || s->lacks_line();
    if (lacking) walk_processes();
    for (const auto& s : sessions_) {
      if (s->dirty) settle(*s);
      if (s->has_record) sink(login_view{s->user, s->line, s->host});
    }
  }

 private:
  // folder_may_have_changed - false only when the watch on the sessions
  // folder saw nothing since the last pass. Without a watch every pass
  // lists the folder, and tries to set one up.
  bool folder_may_have_changed() {
    if (!watch_) {
      start_watch();
      return true;
    }
    bool changed = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
      ssize_t got = ::read(watch_.get(), events, sizeof events);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        // EAGAIN: all read. Anything else leaves the watch in doubt.
        if (got == 0 || errno != EAGAIN) drop_watch();
        return changed || !watch_;
      }
      changed = true;
      for (ssize_t at = 0; at < got;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        // The folder went (removed, moved away, unmounted), or events were
        // lost: the watch no longer tells everything.
        if ((e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW)) != 0) {
          drop_watch();
          return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

  // start_watch - watches the sessions folder for files renamed into
  // place, written, moved away or removed; fails (and the next pass tries
  // again) while the folder does not exist.
  void start_watch() {
    unique_fd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd) return;
    constexpr std::uint32_t mask = IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CLOSE_WRITE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (inotify_add_watch(fd.get(), sessions_dir, mask) < 0) return;
    watch_ = std::move(fd);
  }

  void drop_watch() { watch_.reset(); }

  // rescan - lists the sessions, forgets the gone ones, and reads through
  // the library each new session and each whose file was replaced.
  void rescan() {
    unique_fd dir(open(sessions_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    lib_string_list ids;
    int count = sd_.get_sessions(&ids.p);
    if (count < 0) {
      // Keep what was known and list again next pass.
      drop_watch();
      return;
    }
    auto n = static_cast<std::size_t>(count);
    if (ids.p != nullptr) {
      std::sort(ids.p, ids.p + n, [](const char* a, const char* b) { return id_less(a, b); });
    }

    // Merge the sorted list into the sorted sessions; the ones not listed
    // (or whose file went before it was looked at) stay behind and go.
    next_.clear();
    std::size_t old = 0;
    for (std::size_t i = 0; i < n; ++i) {
      std::string_view id = ids.p[i];
      while (old < sessions_.size() && id_less(sessions_[old]->id, id)) ++old;
      std::unique_ptr<session> s;
      if (old < sessions_.size() && sessions_[old]->id == id) s = std::move(sessions_[old++]);
      struct stat st {};
      if (!dir || fstatat(dir.get(), ids.p[i], &st, 0) != 0) continue;
      if (!s) {
        s = std::make_unique<session>();
        s->id = id;
      } else if (s->identity == file_identity::of(st)) {
        next_.push_back(std::move(s));
        continue;
      }
      // Identity first: a replacement made during the read shows as a
      // new identity next pass, and is read again.
      s->identity = file_identity::of(st);
      read_session(*s);
      next_.push_back(std::move(s));
    }
    sessions_.swap(next_);
    next_.clear();
  }

  // read_session - the session's fields through the library.
  void read_session(session& s) {
    s.user_session = false;
    s.tty.clear();
    s.display.clear();
    s.walked = false;
    s.dirty = true;
    s.user.clear();
    s.host.clear();
    const char* id = s.id.c_str();

    lib_string klass;
    if (sd_.session_get_class(id, &klass.p) < 0 || klass.view().substr(0, 4) != "user") return;
    lib_string state;
    int r = sd_.session_get_state(id, &state.p);
    if (r == -ENXIO || (r >= 0 && state.view() == "closing")) return;  // gone, or a logout
    uid_t uid = 0;
    if (sd_.session_get_uid(id, &uid) < 0) return;
    if (!user_name(id, uid)) return;

    lib_string tty;
    if (sd_.session_get_tty(id, &tty.p) >= 0) s.tty = strip_dev(tty.view());
    lib_string display;
    if (sd_.session_get_display(id, &display.p) >= 0) s.display = display.view();
    lib_string host;
    (void)sd_.session_get_remote_host(id, &host.p);

    s.user_session = true;
    const login_widths widths = host_login_widths();
    s.user = bounded(name_, widths.user);
    s.host = bounded(host.view(), widths.host);
  }

  // user_name - puts the session user's login name into name_: the
  // library's where it has one, else the password entry of `uid`. False
  // when the user has no name.
  bool user_name(const char* id, uid_t uid) {
    name_.clear();
    lib_string name;
    if (sd_.session_get_username != nullptr && sd_.session_get_username(id, &name.p) >= 0 &&
        !name.view().empty()) {
      name_ = name.view();
      return true;
    }
    if (pw_buf_.empty()) {
      long size = sysconf(_SC_GETPW_R_SIZE_MAX);
      pw_buf_.resize(size > 0 ? static_cast<std::size_t>(size) : 1024);
    }
    for (;;) {
      passwd pw{};
      passwd* found = nullptr;
      int r = getpwuid_r(uid, &pw, pw_buf_.data(), pw_buf_.size(), &found);
      if (r == ERANGE && pw_buf_.size() < (1U << 20)) {
        pw_buf_.resize(pw_buf_.size() * 2);
        continue;
      }
      if (r != 0 || found == nullptr || found->pw_name == nullptr || found->pw_name[0] == '\0')
        return false;
      name_ = found->pw_name;
      return true;
    }
  }

  // find - the session with this id, or null.
  session* find(std::string_view id) {
    auto it = std::lower_bound(sessions_.begin(), sessions_.end(), id,
                               [](const std::unique_ptr<session>& s, std::string_view key) {
                                 return id_less(s->id, key);
                               });
    return it != sessions_.end() && (*it)->id == id ? it->get() : nullptr;
  }

  // walk_processes - one walk over /proc: for every session that lacks a
  // line, the terminal of its oldest process that has one.
  void walk_processes() {
    for (const auto& s : sessions_) s->walk_line.clear();
    if (dir_guard proc{opendir("/proc")}; proc.d != nullptr) {
      char path[64];
      char text[4096];
      while (const dirent* e = readdir(proc.d)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        if (std::strlen(e->d_name) > 20) continue;  // no pid is that long
        std::snprintf(path, sizeof path, "%.20s/stat", e->d_name);
        unique_fd f(openat(dirfd(proc.d), path, O_RDONLY | O_CLOEXEC));
        if (!f) continue;  // gone since the listing
        ssize_t got = ::read(f.get(), text, sizeof text - 1);
        if (got <= 0) continue;
        text[got] = '\0';
        unsigned long long tty_nr = 0;
        unsigned long long start = 0;
        if (!stat_fields(text, tty_nr, start) || tty_nr == 0) continue;
        char line[64];
        if (!terminal_line(tty_nr, line)) continue;
        // Only now ask which session the process is in: most processes
        // have no terminal.
        lib_string id;
        auto pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
        if (sd_.pid_get_session(pid, &id.p) < 0) continue;
        session* s = find(id.view());
        if (s == nullptr || !s->lacks_line()) continue;
        if (s->walk_line.empty() || start < s->walk_start) {
          s->walk_start = start;
          s->walk_line = line;
        }
      }
    }
    for (const auto& s : sessions_) {
      if (!s->lacks_line()) continue;
      s->walked = true;
      s->dirty = true;
      if (!s->walk_line.empty()) s->process_line = s->walk_line;
    }
  }

  // settle - the session's record gets its line: logind's TTY, else the
  // terminal of its processes, else its display once a walk found no
  // terminal. Without one the session has no record this pass.
  static void settle(session& s) {
    s.dirty = false;
    const std::string* line = nullptr;
    if (!s.tty.empty()) {
      line = &s.tty;
    } else if (!s.process_line.empty()) {
      line = &s.process_line;
    } else if (s.walked && !s.display.empty()) {
      line = &s.display;
    }
    s.has_record = s.user_session && line != nullptr;
    s.line = line != nullptr ? bounded(*line, host_login_widths().line) : std::string_view();
  }

  const sd_login_api& sd_;                          // the library, loaded for the process
  unique_fd watch_;                                 // inotify on the sessions folder, or none
  std::vector<std::unique_ptr<session>> sessions_;  // sorted by id_less
  std::vector<std::unique_ptr<session>> next_;      // rescan's scratch
  std::vector<char> pw_buf_;                        // getpwuid_r's scratch
  std::string name_;                                // user_name's result
};

}  // namespace

logind_support logind_support_here() {
  return systemd_runs() ? logind_support::available : logind_support::not_booted;
}

std::unique_ptr<login_source> make_logind_source(std::string& why) {
  const sd_login_api* sd = load_sd_login(why);
  if (sd == nullptr) return nullptr;
  return std::make_unique<logind_source>(*sd);
}

#else  // built without libsystemd

logind_support logind_support_here() {
  return logind_support::not_built;
}

std::unique_ptr<login_source> make_logind_source(std::string& why) {
  why = "this zibbet was built without logind support";
  return nullptr;
}

#endif

}  // namespace zibbet
