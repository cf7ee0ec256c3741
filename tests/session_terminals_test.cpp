// session_terminals_test.cpp - the terminals of a session's processes:
// the cgroup2 line of mountinfo texts, /proc/PID/stat texts of every shape
// (and every real one on this host), device numbers as lines, and, as
// root, real processes on real pseudo-terminals in real session cgroups:
// several terminals, shared terminals, none, other users' processes,
// nested cgroups, processes that end, and sessions that are not there.
#include "logins/session_terminals.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/logind_host.h"
#include "support/platform.h"

namespace zibbet::test {
namespace {

// ---- cgroup2_mount ----

struct mount_case {
  const char* name;
  std::string text;
  std::optional<std::string> want;
};

// This machine's cgroup lines: v1 controllers and cgroup2 beside them.
const std::string hybrid =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "32 23 0:29 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "33 32 0:30 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
    "41 32 0:38 / /sys/fs/cgroup/systemd rw,relatime - cgroup cgroup rw,name=systemd\n"
    "42 32 0:39 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";

// A host with cgroup2 alone, as Debian 13 mounts it.
const std::string unified_only =
    "25 1 0:22 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "30 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n";

const mount_case mount_cases[] = {
    {"hybrid", hybrid, "/sys/fs/cgroup/unified"},
    {"unified only", unified_only, "/sys/fs/cgroup"},
    {"no newline at the end", "42 32 0:39 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw",
     "/sys/fs/cgroup"},
    {"no optional fields", "1 0 0:1 / /cg rw - cgroup2 none rw\n", "/cg"},
    {"several optional fields",
     "1 0 0:1 / /cg rw shared:2 master:3 propagate_from:4 - cgroup2 x rw\n", "/cg"},
    {"escaped blank", "1 0 0:1 / /mnt/my\\040cgroups rw - cgroup2 none rw\n", "/mnt/my cgroups"},
    {"escaped tab, newline, backslash", "1 0 0:1 / /m\\011a\\012b\\134c rw - cgroup2 none rw\n",
     "/m\ta\nb\\c"},
    {"a backslash that is no escape stays", "1 0 0:1 / /m\\9x\\400\\04 rw - cgroup2 n rw\n",
     "/m\\9x\\400\\04"},
    {"systemd's place wins over an earlier mount",
     "1 0 0:1 / /tmp/mine rw - cgroup2 none rw\n" + unified_only, "/sys/fs/cgroup"},
    {"else the first", "1 0 0:1 / /a rw - cgroup2 none rw\n2 0 0:2 / /b rw - cgroup2 none rw\n",
     "/a"},
    {"none: only cgroup v1", "33 32 0:30 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n",
     std::nullopt},
    {"none: empty text", "", std::nullopt},
    {"a type that only starts like it", "1 0 0:1 / /cg rw - cgroup2x none rw\n", std::nullopt},
    {"cgroup2 as the source, not the type", "1 0 0:1 / /cg rw - tmpfs cgroup2 rw\n", std::nullopt},
    {"cgroup2 as an optional field", "1 0 0:1 / /cg rw cgroup2 - tmpfs t rw\n", std::nullopt},
    {"cut before the separator", "1 0 0:1 / /cg rw\n", std::nullopt},
    {"cut after the separator", "1 0 0:1 / /cg rw -\n", std::nullopt},
    {"too few fields before the separator", "1 0 / /cg - cgroup2 none rw\n", std::nullopt},
    {"a mount point that is no path", "1 0 0:1 / cg rw - cgroup2 none rw\n", std::nullopt},
    {"a mount point with a NUL", "1 0 0:1 / /c\\000g rw - cgroup2 none rw\n", std::nullopt},
    {"malformed lines before a good one",
     "garbage\n\n- cgroup2\n1 0 0:1 / /cg rw - cgroup2 none rw\n", "/cg"},
    {"blank lines and double blanks", "\n\n1  0 0:1 /  /cg rw  -  cgroup2 none rw\n", "/cg"},
};

TEST(SessionTerminalsParse, Cgroup2MountFromMountinfo) {
  for (const mount_case& c : mount_cases) {
    EXPECT_EQ(cgroup2_mount(c.text), c.want) << c.name;
  }
}

TEST(SessionTerminalsParse, Cgroup2MountOfThisHostIsWhereTheTestsFindIt) {
  std::string text = read_file("/proc/self/mountinfo");
  ASSERT_FALSE(text.empty());
  std::string root = cgroup2_root();  // from /proc/mounts
  std::optional<std::string> found = cgroup2_mount(text);
  if (root.empty()) {
    EXPECT_EQ(found, std::nullopt);
  } else {
    EXPECT_EQ(found, root);
  }
}

// ---- parse_proc_stat ----

// stat_text - a /proc/PID/stat text as the kernel writes it, with the
// fields that matter given and plausible values in the others.
std::string stat_text(const std::string& comm, const std::string& state = "S",
                      const std::string& tty = "34816", const std::string& start = "98765") {
  return "1234 (" + comm + ") " + state + " 1200 1234 1234 " + tty +
         " 1240 4194560 1000 0 0 0 5 3 0 0 20 0 1 0 " + start +
         " 12345678 1000 18446744073709551615 1 1 0 0 0 0 65536 3686404 1266761467 1 0 0 17 1 0 "
         "0 0 0 0\n";
}

struct stat_case {
  const char* name;
  std::string text;
  bool ok;
  char state = 0;
  std::uint32_t tty_nr = 0;
  std::uint64_t starttime = 0;
};

const std::string plain = stat_text("bash");

const stat_case stat_cases[] = {
    {"plain", plain, true, 'S', 34816, 98765},
    {"a name with ') ('", stat_text("a) (b"), true, 'S', 34816, 98765},
    {"a name that looks like fields", stat_text("x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 1"),
     true, 'S', 34816, 98765},
    {"a name with blanks", stat_text("tmux: server x"), true, 'S', 34816, 98765},
    {"an empty name", stat_text(""), true, 'S', 34816, 98765},
    {"a name of ')'", stat_text(")"), true, 'S', 34816, 98765},
    {"a name with a NUL and newline", stat_text(std::string("a\0b\nc", 5)), true, 'S', 34816,
     98765},
    {"a name of bytes above 127", stat_text("\xff\xfe\x80"), true, 'S', 34816, 98765},
    {"no terminal", stat_text("sshd", "S", "0"), true, 'S', 0, 98765},
    {"a zombie", stat_text("sh", "Z"), true, 'Z', 34816, 98765},
    {"tty_nr -1", stat_text("x", "S", "-1"), true, 'S', 0xffffffffU, 98765},
    {"tty_nr the least int", stat_text("x", "S", "-2147483648"), true, 'S', 0x80000000U, 98765},
    {"tty_nr the greatest int", stat_text("x", "S", "2147483647"), true, 'S', 0x7fffffffU, 98765},
    {"tty_nr above an int", stat_text("x", "S", "2147483648"), false},
    {"tty_nr below an int", stat_text("x", "S", "-2147483649"), false},
    {"tty_nr huge", stat_text("x", "S", "99999999999999999999999999"), false},
    {"tty_nr not a number", stat_text("x", "S", "12a"), false},
    {"tty_nr a lone minus", stat_text("x", "S", "-"), false},
    {"tty_nr with a plus", stat_text("x", "S", "+5"), false},
    {"starttime the greatest", stat_text("x", "S", "1", "18446744073709551615"), true, 'S', 1,
     18446744073709551615ULL},
    {"starttime above 64 bits", stat_text("x", "S", "1", "18446744073709551616"), false},
    {"starttime negative", stat_text("x", "S", "1", "-5"), false},
    {"a state of two letters", stat_text("x", "SS"), false},
    {"field 22 last, no newline", "1 (x) R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 77", true, 'R', 0,
     77},
    {"field 22 last, a newline", "1 (x) R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 77\n", true, 'R', 0,
     77},
    {"two blanks between fields", "1 (x) R  1 1 1  5 1 1 1 1 1 1 1 1 1 1 1 1 1  1 77", true, 'R', 5,
     77},
    {"cut after field 21", "1 (x) R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1", false},
    {"cut after field 21 and a blank", "1 (x) R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 ", false},
    {"cut after the name", "1 (bash)", false},
    {"cut after the name and a blank", "1 (bash) ", false},
    {"cut in the name", "1 (bash", false},
    {"a newline among the fields", "1 (x) R 1 1 1 0 1 1 1 1\n1 1 1 1 1 1 1 1 1 1 77", false},
    {"a tab between fields", "1 (x) R\t1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 77", false},
    {"no blank after the name", "1 (x)R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 77", false},
    {"a ')' without a '('", "1 x) R 1 1 1 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 77", false},
    {"empty", "", false},
    {"only a ')'", ")", false},
};

TEST(SessionTerminalsParse, ProcStatFields) {
  for (const stat_case& c : stat_cases) {
    proc_stat_fields got;
    ASSERT_EQ(parse_proc_stat(c.text, got), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(got.state, c.state) << c.name;
    EXPECT_EQ(got.tty_nr, c.tty_nr) << c.name;
    EXPECT_EQ(got.starttime, c.starttime) << c.name;
  }
}

TEST(SessionTerminalsParse, ProcStatCutAnywhereBeforeField22Fails) {
  // Every prefix that ends before field 22 begins is refused; none reads
  // past the text (the sanitizers would say so).
  std::string text = "77 (a) (b) R 1 1 1 34817 1 1 1 1 1 1 1 1 1 1 1 1 1 1 123456 9 9\n";
  std::size_t field22 = text.find("123456");
  for (std::size_t n = 0; n < field22; ++n) {
    proc_stat_fields got;
    EXPECT_FALSE(parse_proc_stat(std::string_view(text).substr(0, n), got)) << n;
  }
  proc_stat_fields got;
  ASSERT_TRUE(parse_proc_stat(text, got));
  EXPECT_EQ(got.tty_nr, 34817U);
  EXPECT_EQ(got.starttime, 123456U);
}

TEST(SessionTerminalsParse, EveryProcessOfThisHostParses) {
  DIR* proc = opendir("/proc");
  ASSERT_NE(proc, nullptr);
  int parsed = 0;
  while (const dirent* e = readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::string text = read_file(std::string("/proc/") + e->d_name + "/stat");
    if (text.empty()) continue;  // gone since the listing
    proc_stat_fields got;
    EXPECT_TRUE(parse_proc_stat(text, got)) << text;
    ++parsed;
  }
  closedir(proc);
  EXPECT_GT(parsed, 0);
  if (auto why = skip_reason_under_emulation(emulation_need::own_proc_stat)) GTEST_SKIP() << *why;
  proc_stat_fields self;
  ASSERT_TRUE(parse_proc_stat(read_file("/proc/self/stat"), self));
  EXPECT_EQ(self.state, 'R');
}

// ---- terminal_line ----

// encode - a device number as the kernel writes it in tty_nr: minor bits
// 0-7, major bits 8-19, the minor's upper bits 20-31.
std::uint64_t encode(std::uint64_t major, std::uint64_t minor) {
  return (minor & 0xff) | (major << 8) | ((minor & ~std::uint64_t{0xff}) << 12);
}

struct line_case {
  std::uint64_t tty_nr;
  std::optional<std::string> want;
};

const line_case line_cases[] = {
    {encode(136, 0), "pts/0"},
    {encode(136, 5), "pts/5"},
    {encode(136, 255), "pts/255"},
    {encode(136, 256), "pts/256"},
    {encode(136, 0xfffff), "pts/1048575"},
    {encode(137, 0), "pts/256"},
    {encode(143, 255), "pts/2047"},
    {encode(4, 1), "tty1"},
    {encode(4, 63), "tty63"},
    {encode(4, 64), "ttyS0"},
    {encode(4, 255), "ttyS191"},
    {encode(4, 0), std::nullopt},  // tty0, the current console
    {encode(5, 0), std::nullopt},  // /dev/tty
    {encode(5, 1), std::nullopt},  // /dev/console
    {encode(135, 0), std::nullopt},
    {encode(144, 0), std::nullopt},
    {encode(3, 1), std::nullopt},  // a BSD pty
    {0, std::nullopt},
    {0xffffffffU, std::nullopt},  // tty_nr -1
    {std::uint64_t{1} << 32 | encode(136, 1), std::nullopt},
};

TEST(SessionTerminalsParse, TerminalLineOfADeviceNumber) {
  for (const line_case& c : line_cases) {
    EXPECT_EQ(terminal_line(c.tty_nr), c.want) << std::hex << c.tty_nr;
  }
}

// ---- real processes in real session cgroups ----

// The uids of the sessions made here: no real user's.
constexpr uid_t user = 2000;
constexpr uid_t other_user = 2001;

// pts_order - the lines sorted as the finder sorts them, by device number:
// pts/2 before pts/10.
std::vector<std::string> pts_order(std::vector<std::string> lines) {
  auto number = [](const std::string& l) { return std::stoul(l.substr(l.find('/') + 1)); };
  std::sort(lines.begin(), lines.end(),
            [&](const std::string& a, const std::string& b) { return number(a) < number(b); });
  return lines;
}

class SessionTerminals : public ::testing::Test {
 protected:
  // The processes end first, then the folders go, the last made first:
  // the first scope may have made the user's slice that later ones share.
  ~SessionTerminals() override {
    procs_.clear();
    while (!scopes_.empty()) scopes_.pop_back();
  }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: session cgroups are made in the hierarchy";
    if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why;
  }

  // scope - session `n`'s cgroup folders for `uid`, removed at the end.
  session_scope& scope(int n, uid_t uid = user) {
    scopes_.push_back(std::make_unique<session_scope>(session_id(n), uid));
    return *scopes_.back();
  }

  // start - a process in session `n` of `uid`, ended at the end.
  session_process& start(int n, uid_t uid, const session_process_options& options) {
    procs_.push_back(std::make_unique<session_process>(session_id(n), uid, options));
    return *procs_.back();
  }

  // as - options for a process of `uid` with a terminal of its own.
  static session_process_options as(uid_t uid) {
    session_process_options o;
    o.run_as = uid;
    return o;
  }

  session_terminal_finder finder_;
  std::vector<std::unique_ptr<session_scope>> scopes_;
  std::vector<std::unique_ptr<session_process>> procs_;
};

// One process of a case: how it is made, whether it goes into a cgroup
// nested in the scope, and whether its terminal is to be found.
struct member_case {
  session_process_options options;
  bool counted;
  std::string nested;  // a folder under the scope, or "" for the scope
};

struct session_case {
  const char* name;
  std::vector<member_case> members;
};

session_process_options user_opts(bool terminal = true, int sharers = 0, bool dumpable = true,
                                  uid_t uid = user) {
  session_process_options o;
  o.with_terminal = terminal;
  o.run_as = uid;
  o.sharers = sharers;
  o.dumpable = dumpable;
  return o;
}

const session_case session_cases[] = {
    {"one process on one terminal", {{user_opts(), true, ""}}},
    {"two processes on two terminals", {{user_opts(), true, ""}, {user_opts(), true, ""}}},
    {"two processes on one terminal", {{user_opts(true, 1), true, ""}}},
    {"five processes on one terminal", {{user_opts(true, 4), true, ""}}},
    {"a process without a terminal", {{user_opts(false), false, ""}}},
    {"a process without a terminal beside one with",
     {{user_opts(false, 2), false, ""}, {user_opts(), true, ""}}},
    {"another user's process", {{user_opts(true, 0, true, other_user), false, ""}}},
    {"another user's process beside the user's",
     {{user_opts(true, 0, true, other_user), false, ""}, {user_opts(), true, ""}}},
    {"root's process in the user's session", {{session_process_options{}, false, ""}}},
    {"a process of the user that is not dumpable", {{user_opts(true, 0, false), true, ""}}},
    {"a process in a cgroup nested in the scope", {{user_opts(), true, "inner"}}},
    {"processes two levels down and at the top",
     {{user_opts(true, 1), true, "a/b"}, {user_opts(), true, ""}, {user_opts(), true, "a"}}},
};

TEST_F(SessionTerminals, FindsTheDistinctTerminalsOfTheUsersProcesses) {
  int n = 0;
  for (const session_case& c : session_cases) {
    SCOPED_TRACE(c.name);
    ++n;
    session_scope& folders = scope(n);
    ASSERT_TRUE(folders.ok()) << folders.error();
    std::vector<std::string> want;
    for (const member_case& m : c.members) {
      session_process& p = start(n, user, m.options);
      ASSERT_TRUE(p.ok()) << p.error();
      if (!m.nested.empty()) {
        std::string inner = folders.nest(m.nested);
        ASSERT_FALSE(inner.empty()) << m.nested;
        ASSERT_TRUE(folders.move(p.pid(), inner));
        for (pid_t s : p.sharers()) ASSERT_TRUE(folders.move(s, inner));
      }
      if (m.counted) want.push_back(p.line());
    }
    EXPECT_EQ(finder_.terminals(session_id(n), user), pts_order(want));
    // A second call finds the same with the buffers of the first.
    EXPECT_EQ(finder_.terminals(session_id(n), user), pts_order(want));
  }
}

TEST_F(SessionTerminals, AProcessThatEndedIsGoneAtTheNextCall) {
  ASSERT_TRUE(scope(1).ok());
  session_process& first = start(1, user, as(user));
  session_process& second = start(1, user, as(user));
  ASSERT_TRUE(first.ok()) << first.error();
  ASSERT_TRUE(second.ok()) << second.error();
  EXPECT_EQ(finder_.terminals(session_id(1), user), pts_order({first.line(), second.line()}));
  first.stop();
  EXPECT_EQ(finder_.terminals(session_id(1), user), std::vector<std::string>{second.line()});
  second.stop();
  EXPECT_EQ(finder_.terminals(session_id(1), user), std::vector<std::string>{});
}

TEST_F(SessionTerminals, AnEndedProcessNotYetCollectedIsNoOnesTerminal) {
  // A sharer moved into a session of its own and killed stays a zombie
  // until its leader, in the first session, collects it.
  ASSERT_TRUE(scope(1).ok());
  session_scope& second = scope(2);
  ASSERT_TRUE(second.ok());
  session_process_options o = as(user);
  o.sharers = 1;
  session_process& leader = start(1, user, o);
  ASSERT_TRUE(leader.ok()) << leader.error();
  pid_t sharer = leader.sharers().front();
  ASSERT_TRUE(second.move(sharer, second.path()));
  EXPECT_EQ(finder_.terminals(session_id(2), user), std::vector<std::string>{leader.line()});
  ASSERT_EQ(kill(sharer, SIGKILL), 0);
  ASSERT_TRUE(wait_until([&] {
    proc_stat_fields f;
    return parse_proc_stat(read_file("/proc/" + std::to_string(sharer) + "/stat"), f) &&
           f.state == 'Z';
  }));
  EXPECT_EQ(finder_.terminals(session_id(2), user), std::vector<std::string>{});
  EXPECT_EQ(finder_.terminals(session_id(1), user), std::vector<std::string>{leader.line()});
}

TEST_F(SessionTerminals, SessionsThatAreNotThereOrNotThisUsersGiveNothing) {
  ASSERT_TRUE(scope(1).ok());
  session_process& p = start(1, user, as(user));
  ASSERT_TRUE(p.ok()) << p.error();
  std::string id = session_id(1);
  ASSERT_EQ(finder_.terminals(id, user), std::vector<std::string>{p.line()});
  const std::string asked[] = {
      session_id(99),                  // no such scope
      "",                              // no id
      id + ".scope/../session-" + id,  // a path to the real scope
      id + "/",
      id + " ",
      "../../user-2000.slice/session-" + id,
  };
  for (const std::string& a : asked) {
    EXPECT_EQ(finder_.terminals(a, user), std::vector<std::string>{}) << a;
  }
  EXPECT_EQ(finder_.terminals(id, other_user), std::vector<std::string>{}) << "another uid";
}

TEST_F(SessionTerminals, FindsTheHierarchyItselfOrUsesTheOneGiven) {
  ASSERT_TRUE(scope(1).ok());
  session_process& p = start(1, user, as(user));
  ASSERT_TRUE(p.ok()) << p.error();
  EXPECT_EQ(finder_.cgroup_root(), cgroup2_root());

  session_terminal_finder given(cgroup2_root());
  EXPECT_EQ(given.terminals(session_id(1), user), std::vector<std::string>{p.line()});
  session_terminal_finder none("");
  EXPECT_EQ(none.terminals(session_id(1), user), std::vector<std::string>{});
  temp_dir empty;
  session_terminal_finder elsewhere(empty.path());
  EXPECT_EQ(elsewhere.terminals(session_id(1), user), std::vector<std::string>{});
}

}  // namespace
}  // namespace zibbet::test
