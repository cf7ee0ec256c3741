// logind_source.cpp - the logins of systemd-logind's user sessions.
//
// A session whose record names a TTY is one login on it. A session without
// one (every ssh login on a host without login records) is one login for
// every terminal its processes have, as a records file would have one
// record per pty: a shared ssh connection carries several. Those terminals
// are found each pass through the members of the session's scope cgroup
// alone, never by a walk over /proc. A session with no terminal at all is
// a login on its X display, if it has one.
//
// A pass costs little when nothing changed: logind replaces a session file
// by rename whenever it changes it, so a session is read through the
// library again only when its file's identity (inode, size, mtime) is new,
// and an inotify watch on the sessions folder tells whether the folder
// needs listing at all. (sd_login_monitor watches the same folder, but its
// flush drops the event that says the watch died with a removed folder, so
// a folder made again would go unwatched.) One stat of the folder's path a
// pass tells whether the watch is still on the folder found there.
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
#include "logins/session_terminals.h"
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
  bool name_pending = false;  // a user session whose user's name is not known yet
  uid_t uid = 0;
  std::string user;                // set by the read, bounded by the host's widths
  std::string host;                // the remote host, likewise
  std::string tty;                 // logind's TTY without "/dev/"
  std::string display;             // logind's X display
  std::vector<std::string> lines;  // the lines of its logins this pass
};

// strip_dev - a device path as a line: without a leading "/dev/".
std::string_view strip_dev(std::string_view path) {
  constexpr std::string_view dev = "/dev/";
  if (path.substr(0, dev.size()) == dev) path.remove_prefix(dev.size());
  return path;
}

class logind_source final : public login_source {
 public:
  explicit logind_source(const sd_login_api& sd) : sd_(sd) {}
  ~logind_source() override = default;
  logind_source(const logind_source&) = delete;
  logind_source& operator=(const logind_source&) = delete;

  void read(login_sink sink) override {
    if (folder_may_have_changed()) rescan();
    for (const auto& s : sessions_) {
      if (s->name_pending) retry_name(*s);
      settle(*s);
      for (const std::string& line : s->lines) sink(login_view{s->user, line, s->host});
    }
  }

 private:
  // folder_may_have_changed - false only when the watch on the sessions
  // folder saw nothing since the last pass. Without a watch every pass
  // lists the folder, and tries to set one up.
  bool folder_may_have_changed() {
    if (watch_ && !still_watched()) drop_watch();
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
    // The folder's identity first: a folder put in its place meanwhile
    // shows as another identity at the next pass, which starts over.
    struct stat st {};
    if (stat(sessions_dir, &st) != 0) return;
    unique_fd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd) return;
    constexpr std::uint32_t mask = IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CLOSE_WRITE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (inotify_add_watch(fd.get(), sessions_dir, mask) < 0) return;
    watch_ = std::move(fd);
    watched_dev_ = st.st_dev;
    watched_ino_ = st.st_ino;
  }

  // still_watched - whether the folder at the sessions path is the one the
  // watch is on: not after a mount over it, or a folder made anew there.
  [[nodiscard]] bool still_watched() const {
    struct stat st {};
    return stat(sessions_dir, &st) == 0 && st.st_dev == watched_dev_ && st.st_ino == watched_ino_;
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
    s.name_pending = false;
    s.tty.clear();
    s.display.clear();
    s.user.clear();
    s.host.clear();
    const char* id = s.id.c_str();

    lib_string klass;
    if (sd_.session_get_class(id, &klass.p) < 0 || klass.view().substr(0, 4) != "user") return;
    lib_string state;
    int r = sd_.session_get_state(id, &state.p);
    if (r == -ENXIO || (r >= 0 && state.view() == "closing")) return;  // gone, or a logout
    if (sd_.session_get_uid(id, &s.uid) < 0) return;

    lib_string tty;
    if (sd_.session_get_tty(id, &tty.p) >= 0) s.tty = strip_dev(tty.view());
    lib_string display;
    if (sd_.session_get_display(id, &display.p) >= 0) s.display = display.view();
    lib_string host;
    (void)sd_.session_get_remote_host(id, &host.p);
    s.host = bounded(host.view(), host_login_widths().host);
    s.name_pending = true;
    retry_name(s);
  }

  // retry_name - looks the session's user's name up; until one is found
  // the session is no login, and every pass looks again (the password
  // database may have been in the middle of a change).
  void retry_name(session& s) {
    if (!user_name(s.id.c_str(), s.uid)) return;
    s.user = bounded(name_, host_login_widths().user);
    s.name_pending = false;
    s.user_session = true;
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

  // settle - the session's logins this pass: logind's TTY; else one for
  // every terminal of its processes; else its display.
  void settle(session& s) {
    s.lines.clear();
    if (!s.user_session) return;
    const std::size_t width = host_login_widths().line;
    if (!s.tty.empty()) {
      s.lines.emplace_back(bounded(s.tty, width));
      return;
    }
    for (const std::string& line : terminals_.terminals(s.id, s.uid))
      s.lines.emplace_back(bounded(line, width));
    if (s.lines.empty() && !s.display.empty()) s.lines.emplace_back(bounded(s.display, width));
  }

  const sd_login_api& sd_;  // the library, loaded for the process
  unique_fd watch_;         // inotify on the sessions folder, or none
  dev_t watched_dev_ = 0;   // the folder the watch is on
  ino_t watched_ino_ = 0;
  session_terminal_finder terminals_;               // the terminals of sessions without a TTY
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
