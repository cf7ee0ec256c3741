// logind_host.h - a private systemd-logind host for tests: a folder laid
// out as logind keeps /run (session files written as logind writes them),
// real processes on real pseudo-terminals placed in a session's cgroup, and
// ways to run programs, or the logind source itself, with that folder bound
// onto /run in a private mount namespace.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/login.h"
#include "logins/logind_source.h"
#include "support/harness.h"

namespace zibbet::test {

/// The fields of one session file; empty strings are left out of the file,
/// as logind leaves out what it does not know.
struct session_fields {
  uid_t uid = 0;
  std::string user;                    ///< USER=
  std::string state = "active";        ///< STATE=: active, online or closing
  std::string session_class = "user";  ///< CLASS=
  std::string type = "tty";            ///< TYPE=
  std::string tty;                     ///< TTY=
  std::string display;                 ///< DISPLAY=
  std::string remote_host;             ///< REMOTE_HOST=, with REMOTE=1
  std::string service;                 ///< SERVICE=
};

/// session_id - a session id of this test process that no real session
/// uses (logind's own are numbers, or "c" and a number).
[[nodiscard]] std::string session_id(int n);

/// A folder standing for /run: systemd/system/ (so that sd_booted() is
/// true) when booted, systemd/sessions/ with one file per session, and no
/// utmp unless a test writes one.
class logind_host {
 public:
  explicit logind_host(bool booted = true, bool sessions_folder = true);
  logind_host(const logind_host&) = delete;
  logind_host& operator=(const logind_host&) = delete;

  /// The folder to bind onto /run.
  [[nodiscard]] const std::string& root() const { return dir_.path(); }
  /// root()/systemd/sessions.
  [[nodiscard]] std::string sessions_dir() const { return dir_ / "systemd/sessions"; }
  /// root()/utmp: what the host's records file is inside the namespace.
  [[nodiscard]] std::string records_file() const { return dir_ / "utmp"; }

  /// write_session - writes (or replaces) session `id`'s file as logind
  /// does: a temporary file in the same folder, renamed into place.
  void write_session(const std::string& id, const session_fields& fields);
  /// close_session - replaces the file with STATE=closing.
  void close_session(const std::string& id);
  /// remove_session - removes the file.
  void remove_session(const std::string& id);
  /// The text write_session writes for these fields.
  [[nodiscard]] static std::string session_text(const std::string& id,
                                                const session_fields& fields);

  /// make_sessions_folder - creates systemd/sessions (and systemd).
  void make_sessions_folder() const;
  /// remove_sessions_folder - removes systemd/sessions and its files.
  void remove_sessions_folder();

 private:
  temp_dir dir_;
  std::map<std::string, session_fields> sessions_;
};

/// How a session_process is made.
struct session_process_options {
  /// A pseudo-terminal of its own as its controlling terminal.
  bool with_terminal = true;
  /// The user it runs as (all of its uids and gids, no groups), changed
  /// after its terminal is set up; it stays root's when not given.
  std::optional<uid_t> run_as;
  /// Whether it is dumpable again after the change of user, as a program
  /// it executed would be; the kernel makes it not dumpable otherwise.
  bool dumpable = true;
  /// How many more processes share its session and terminal: children of
  /// it, in its cgroup as well.
  int sharers = 0;
};

/// A real process that belongs to a session: placed in the cgroup logind
/// gives the session (user.slice/user-UID.slice/session-ID.scope in the
/// cgroup2 hierarchy), with a pseudo-terminal of its own as its controlling
/// terminal unless made without one. Killed (with its sharers), and its
/// cgroup folders that it made removed, when the object goes.
class session_process {
 public:
  /// A process of the session's user `uid`.
  session_process(const std::string& session, uid_t uid, bool with_terminal = true);
  session_process(const std::string& session, uid_t uid, const session_process_options& options);
  ~session_process();
  session_process(const session_process&) = delete;
  session_process& operator=(const session_process&) = delete;

  /// Whether it runs in its cgroup; error() says why not.
  [[nodiscard]] bool ok() const { return error_.empty(); }
  [[nodiscard]] const std::string& error() const { return error_; }
  /// Its terminal as a login line ("pts/N"); empty without one.
  [[nodiscard]] const std::string& line() const { return line_; }
  [[nodiscard]] pid_t pid() const { return pid_; }
  /// The master side of its terminal (-1 without one): what is written to
  /// the terminal reads back here.
  [[nodiscard]] int master() const { return master_; }
  /// The processes that share its terminal.
  [[nodiscard]] const std::vector<pid_t>& sharers() const { return sharers_; }
  /// stop - kills the process and its sharers and removes its cgroup
  /// folders now.
  void stop();

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string line_;
  std::string error_;
  std::vector<pid_t> sharers_;
  std::string scope_;              // its session's folder, once moved there
  std::vector<std::string> made_;  // cgroup folders made, outermost first
};

/// The cgroup folders of one session, user.slice/user-UID.slice/
/// session-ID.scope, made (those missing) when the object is made and
/// removed deepest first when it goes, after the processes in them have
/// ended: a test holds it beside its session_process objects, made before
/// them, so that the processes do not own the folders.
class session_scope {
 public:
  session_scope(const std::string& session, uid_t uid);
  ~session_scope();
  session_scope(const session_scope&) = delete;
  session_scope& operator=(const session_scope&) = delete;

  /// Whether the scope folder exists; error() says why not.
  [[nodiscard]] bool ok() const { return error_.empty(); }
  [[nodiscard]] const std::string& error() const { return error_; }
  /// The scope folder.
  [[nodiscard]] const std::string& path() const { return path_; }
  /// nest - makes the folder `relative` (one level at a time, outer
  /// folders first) under the scope and returns its path, "" on failure.
  std::string nest(const std::string& relative);
  /// move - writes `pid` into the cgroup.procs of `folder` (a path that
  /// nest returned, or path()); false on failure.
  bool move(pid_t pid, const std::string& folder) const;

 private:
  std::string path_;
  std::string error_;
  std::vector<std::string> made_;  // outermost first
};

/// cgroup2_root - where the cgroup2 hierarchy is mounted ("" if nowhere).
[[nodiscard]] std::string cgroup2_root();

/// Why the tests of a private /run cannot run here, or "" when they can:
/// a build without logind, or no private mount namespace.
[[nodiscard]] std::string private_run_unavailable();

/// Why session processes cannot be made here, or "" when they can: no
/// writable cgroup2 hierarchy.
[[nodiscard]] std::string session_processes_unavailable();

/// on_private_run - `opts` made to run its program (the binary under test
/// when empty) in a private mount namespace with `root` bound onto /run,
/// through unshare, sh and mount, each of which execs the next, so that the
/// program keeps the pid and signals reach it. `inner_env` ("KEY=VALUE")
/// is set for the program alone.
[[nodiscard]] run_options on_private_run(const std::string& root, run_options opts,
                                         const std::vector<std::string>& inner_env = {});

/// A logind source read in a forked child that has `root` bound onto /run
/// in a mount namespace of its own; the test process's namespace stays as
/// it is. The child keeps its source from pass to pass.
class namespaced_source {
 public:
  explicit namespaced_source(const std::string& root);
  ~namespaced_source();
  namespaced_source(const namespaced_source&) = delete;
  namespaced_source& operator=(const namespaced_source&) = delete;

  /// What logind_support_here() said inside the namespace.
  [[nodiscard]] logind_support support() const { return support_; }
  /// Whether the child runs with a source; error() says why not.
  [[nodiscard]] bool ok() const { return error_.empty(); }
  [[nodiscard]] const std::string& error() const { return error_; }
  /// pass - one read(): the logins in the source's order (none, with
  /// error() set, when the child failed).
  std::vector<zibbet::login> pass();

 private:
  pid_t pid_ = -1;
  int channel_ = -1;
  logind_support support_ = logind_support::not_built;
  std::string error_;
};

}  // namespace zibbet::test
