// session_terminals.h - the terminals a logind session's processes have,
// found through the members of the session's scope cgroup alone (no walk
// over /proc), and the small parsers that takes: where the cgroup2
// hierarchy is mounted, the fields of /proc/PID/stat, and a terminal's
// device number as a login line. Linux only: elsewhere the parsers still
// parse, and the finder finds nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"

namespace zibbet {

/// cgroup2_mount - the mount point of the cgroup2 hierarchy in the text of
/// /proc/self/mountinfo, unescaped (the kernel writes a blank as \040), or
/// nullopt when no line mounts a cgroup2 file system. Where several do,
/// the one at /sys/fs/cgroup or /sys/fs/cgroup/unified (where systemd
/// mounts it, and so where logind makes its scopes) wins, else the first.
[[nodiscard]] std::optional<std::string> cgroup2_mount(std::string_view mountinfo);

/// The fields of /proc/PID/stat that tell a process's terminal.
struct proc_stat_fields {
  char state = '\0';            ///< field 3: R, S, D, Z, T, ...
  std::uint32_t tty_nr = 0;     ///< field 7: the controlling terminal's device number, 0 for none
  std::uint64_t starttime = 0;  ///< field 22: clock ticks after boot
};

/// parse_proc_stat - fields 3, 7 and 22 from the text of /proc/PID/stat.
/// The command name (field 2) may hold any bytes, blanks and parentheses
/// among them, so the fields are counted from its last ')'. tty_nr is the
/// kernel's signed int: a negative one keeps its 32 bits. False (and `out`
/// unspecified) when the text is cut short or a field is malformed.
[[nodiscard]] bool parse_proc_stat(std::string_view text, proc_stat_fields& out);

/// terminal_line - the login line of the terminal with this device number
/// (as tty_nr gives it): "pts/N" for majors 136 to 143, "ttyN" for major 4
/// and minors 1 to 63, "ttySN" for major 4 and minors from 64; nullopt for
/// any other device, and for numbers that do not fit the kernel's 32 bits.
[[nodiscard]] std::optional<std::string> terminal_line(std::uint64_t tty_nr);

/// Finds the terminals of a logind session through its scope cgroup,
/// <cgroup2>/user.slice/user-UID.slice/session-ID.scope: its members (and
/// those of any cgroups nested in it) are read from cgroup.procs, and each
/// member's /proc/PID/stat gives its terminal. Made once and kept: the
/// first call reads /proc/self/mountinfo and opens /proc, and the buffers
/// are reused from call to call. Not for use by several threads at once.
class session_terminal_finder {
 public:
  /// Finds the cgroup2 hierarchy in /proc/self/mountinfo at the first call.
  session_terminal_finder() = default;
  /// Uses `cgroup_root` as the cgroup2 hierarchy; none when empty.
  explicit session_terminal_finder(std::string cgroup_root);
  session_terminal_finder(const session_terminal_finder&) = delete;
  session_terminal_finder& operator=(const session_terminal_finder&) = delete;
  session_terminal_finder(session_terminal_finder&&) noexcept = default;
  session_terminal_finder& operator=(session_terminal_finder&&) noexcept = default;
  ~session_terminal_finder() = default;

  /// terminals - the distinct login lines of the controlling terminals of
  /// the session's processes that run as `uid` (the effective uid, which
  /// the owner of /proc/PID shows even for a process that is not
  /// dumpable), ordered by device number (so tty1 comes before pts/0, and
  /// pts/2 before pts/10). Cgroups nested in the scope count, 8 levels
  /// down at most. Empty when the session has no such process, or no scope
  /// cgroup, when there is no cgroup2 hierarchy, and for an id that is
  /// empty, longer than 64 bytes or holds anything but ASCII letters and
  /// digits (it goes into a path). Processes that end meanwhile, or have
  /// ended and wait to be collected, are left out.
  [[nodiscard]] std::vector<std::string> terminals(std::string_view session_id, uid_t uid);

  /// cgroup_root - the cgroup2 hierarchy in use ("" for none), looked for
  /// now if no call has looked for it yet.
  [[nodiscard]] const std::string& cgroup_root();

 private:
  void start();
  void read_members(int dir, uid_t uid, int depth);
  void read_process(std::string_view pid, uid_t uid);

  bool started_ = false;             // root_ and proc_ are set up
  bool given_root_ = false;          // root_ came from the maker, not mountinfo
  std::string root_;                 // the cgroup2 mount point, "" for none
  unique_fd proc_;                   // /proc
  std::string path_;                 // the scope folder's path
  std::string procs_;                // a cgroup.procs text
  std::vector<std::uint32_t> ttys_;  // the devices found this call
};

}  // namespace zibbet
