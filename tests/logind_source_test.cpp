// logind_source_test.cpp - the logind source against the real libsystemd,
// in a private mount namespace whose /run is a folder the test writes as
// logind would: sessions logging on and off across passes, which sessions
// count, where the user name, the line and the host come from, processes
// on real pseudo-terminals in a session's cgroup, and which session files
// are read again.
#include "logins/logind_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "logins/utmp_source.h"
#include "support/logind_host.h"

namespace zibbet::test {
namespace {

// One record as the scan sees it.
struct seen {
  std::string user;
  std::string line;
  std::string host;
  bool operator==(const seen&) const = default;
  auto operator<=>(const seen&) const = default;
};

void PrintTo(const seen& s, std::ostream* os) {
  *os << "{" << s.user << ", " << s.line << ", \"" << s.host << "\"}";
}

// seen_of - the logins of a pass, sorted.
std::vector<seen> seen_of(const std::vector<zibbet::login>& logins) {
  std::vector<seen> out;
  for (const zibbet::login& l : logins) out.push_back({l.user, l.line, l.host});
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<seen> sorted(std::vector<seen> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The name of `uid` in this host's password database, or "".
std::string passwd_name(uid_t uid) {
  const passwd* pw = getpwuid(uid);
  return pw != nullptr && pw->pw_name != nullptr ? pw->pw_name : "";
}

// A uid that has no password entry.
uid_t nameless_uid() {
  uid_t uid = 4242;
  while (getpwuid(uid) != nullptr) ++uid;
  return uid;
}

#define SKIP_WITHOUT_SESSION_PROCESSES()                                                      \
  do {                                                                                        \
    if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why; \
  } while (false)

class LogindSource : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = private_run_unavailable(); !why.empty()) GTEST_SKIP() << why;
    // Two users every Debian host has, whose uids no login session uses.
    first_ = passwd_name(1);
    second_ = passwd_name(2);
    if (first_.empty() || second_.empty()) GTEST_SKIP() << "no password entries for uids 1 and 2";
  }

  // A session of the first user (or of `uid` named `user`) on `tty`.
  session_fields of_first(std::string tty = "") const {
    session_fields f;
    f.uid = 1;
    f.user = first_;
    f.tty = std::move(tty);
    return f;
  }
  session_fields of_second(std::string tty = "") const {
    session_fields f;
    f.uid = 2;
    f.user = second_;
    f.tty = std::move(tty);
    return f;
  }
  // An ssh login: no TTY, the remote host, its shell on a pseudo-terminal.
  session_fields ssh_of_first(std::string host) const {
    session_fields f = of_first();
    f.service = "sshd";
    f.remote_host = std::move(host);
    return f;
  }

  // pass - one read of `source`, which must work.
  std::vector<seen> pass(namespaced_source& source) {
    std::vector<zibbet::login> logins = source.pass();
    EXPECT_TRUE(source.ok()) << source.error();
    return seen_of(logins);
  }

  std::string first_;
  std::string second_;
  logind_host host_;
};

TEST_F(LogindSource, SessionsLogOnAndOffAcrossPasses) {
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  const std::string a = session_id(1);
  const std::string b = session_id(2);
  EXPECT_EQ(pass(source), std::vector<seen>{});

  host_.write_session(a, of_first("pts/90"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/90", ""}}));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/90", ""}}));

  host_.write_session(b, of_second("tty3"));
  host_.close_session(a);  // closing is a logout
  EXPECT_EQ(pass(source), (std::vector<seen>{{second_, "tty3", ""}}));

  host_.remove_session(a);
  host_.write_session(a, of_first("pts/91"));  // a new login with the same id
  EXPECT_EQ(pass(source), sorted({{first_, "pts/91", ""}, {second_, "tty3", ""}}));

  host_.remove_session(a);
  host_.remove_session(b);
  EXPECT_EQ(pass(source), std::vector<seen>{});
}

TEST_F(LogindSource, OnlyUserSessionsThatAreNotClosingCount) {
  struct {
    const char* session_class;
    const char* state;
    bool counts;
  } cases[] = {
      {"user", "active", true},         {"user", "online", true},
      {"user", "closing", false},       {"user-early", "active", true},
      {"user-early", "closing", false}, {"greeter", "active", false},
      {"lock-screen", "active", false}, {"background", "active", false},
      {"manager", "online", false},     {"", "active", false},  // no class at all
  };
  std::vector<seen> want;
  int n = 0;
  for (const auto& c : cases) {
    session_fields f = of_first("pts/" + std::to_string(100 + n));
    f.session_class = c.session_class;
    f.state = c.state;
    host_.write_session(session_id(n), f);
    if (c.counts) want.push_back({first_, f.tty, ""});
    ++n;
  }
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), sorted(want));
}

TEST_F(LogindSource, LineAndHostAreLogindsWithinTheRecordsWidths) {
  const std::string long_host(300, 'h');
  const std::string long_tty = "pts/" + std::string(40, '7');
  struct {
    std::string tty;
    std::string host;
    seen want;
  } cases[] = {
      {"pts/3", "", {first_, "pts/3", ""}},
      {"/dev/tty2", "", {first_, "tty2", ""}},
      {"pts/4", "10.0.0.7", {first_, "pts/4", "10.0.0.7"}},
      {"pts/5", "2001:db8::7", {first_, "pts/5", "2001:db8::7"}},
      {"pts/6", "host.example", {first_, "pts/6", "host.example"}},
      {"pts/8", long_host, {first_, "pts/8", long_host.substr(0, host_login_widths().host)}},
      {long_tty, "", {first_, long_tty.substr(0, host_login_widths().line), ""}},
  };
  std::vector<seen> want;
  int n = 0;
  for (const auto& c : cases) {
    session_fields f = of_first(c.tty);
    f.remote_host = c.host;
    host_.write_session(session_id(n++), f);
    want.push_back(c.want);
  }
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), sorted(want));
}

TEST_F(LogindSource, UserNameComesFromThePasswordDatabaseAndANamelessUserIsSkipped) {
  host_.write_session(session_id(1), of_first("pts/1"));
  host_.write_session(session_id(2), of_second("pts/2"));
  session_fields nameless;
  nameless.uid = nameless_uid();  // and no USER= either
  nameless.tty = "pts/3";
  host_.write_session(session_id(3), nameless);
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), sorted({{first_, "pts/1", ""}, {second_, "pts/2", ""}}));
}

TEST_F(LogindSource, SshSessionWithoutTtyGetsTheTerminalOfItsShell) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string id = session_id(1);
  session_process shell(id, 1);
  ASSERT_TRUE(shell.ok()) << shell.error();
  host_.write_session(id, ssh_of_first("10.0.0.7"));
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, shell.line(), "10.0.0.7"}}));
}

TEST_F(LogindSource, SessionWithoutTerminalAppearsOnceAProcessWithOneJoins) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string id = session_id(1);
  host_.write_session(id, ssh_of_first("10.0.0.7"));
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), std::vector<seen>{});

  session_process no_terminal(id, 1, false);
  ASSERT_TRUE(no_terminal.ok()) << no_terminal.error();
  EXPECT_EQ(pass(source), std::vector<seen>{});

  session_process shell(id, 1);
  ASSERT_TRUE(shell.ok()) << shell.error();
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, shell.line(), "10.0.0.7"}}));
}

// A session without a TTY is one login for every terminal among its
// processes, as one shared ssh connection carries several ptys: each comes
// with the first pass that sees a process on it, and goes with the first
// that sees none.
TEST_F(LogindSource, EveryTerminalOfASessionWithoutTtyIsALogin) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string id = session_id(1);
  session_process first(id, 1);
  ASSERT_TRUE(first.ok()) << first.error();
  auto second = std::make_unique<session_process>(id, 1);
  ASSERT_TRUE(second->ok()) << second->error();
  // A process with a terminal in another session, and one of another user
  // in this session's scope, change nothing.
  session_process stranger(session_id(2), 1);
  ASSERT_TRUE(stranger.ok()) << stranger.error();
  session_process_options other_user;
  other_user.run_as = 2;
  session_process intruder(id, 1, other_user);
  ASSERT_TRUE(intruder.ok()) << intruder.error();
  host_.write_session(id, ssh_of_first("10.0.0.7"));
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source),
            sorted({{first_, first.line(), "10.0.0.7"}, {first_, second->line(), "10.0.0.7"}}));

  // The second channel ends; the first stays.
  second.reset();
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, first.line(), "10.0.0.7"}}));
  // A later channel is a login from the pass that sees it.
  session_process third(id, 1);
  ASSERT_TRUE(third.ok()) << third.error();
  EXPECT_EQ(pass(source),
            sorted({{first_, first.line(), "10.0.0.7"}, {first_, third.line(), "10.0.0.7"}}));
}

TEST_F(LogindSource, XDisplayIsTheLineOnlyWithoutAnyTerminal) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string display_only = session_id(1);
  const std::string tty_and_display = session_id(2);
  const std::string process_and_display = session_id(3);
  session_process client(process_and_display, 2);
  ASSERT_TRUE(client.ok()) << client.error();
  session_fields x = of_first();
  x.type = "x11";
  x.display = ":0";
  host_.write_session(display_only, x);
  x.tty = "tty7";
  x.display = ":1";
  host_.write_session(tty_and_display, x);
  session_fields y = of_second();
  y.type = "x11";
  y.display = ":2";
  host_.write_session(process_and_display, y);
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  const std::vector<seen> want =
      sorted({{first_, ":0", ""}, {first_, "tty7", ""}, {second_, client.line(), ""}});
  EXPECT_EQ(pass(source), want);
  EXPECT_EQ(pass(source), want);
}

TEST_F(LogindSource, TwoSessionsOfOneUserGiveTwoLines) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string ssh = session_id(2);
  session_process shell(ssh, 1);
  ASSERT_TRUE(shell.ok()) << shell.error();
  host_.write_session(session_id(1), of_first("tty3"));
  host_.write_session(ssh, ssh_of_first("10.0.0.7"));
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), sorted({{first_, "tty3", ""}, {first_, shell.line(), "10.0.0.7"}}));
}

// overwrite_keeping_identity - rewrites the file in place with text of the
// same size and puts its modification time back: the same inode, size and
// mtime, so it looks unchanged.
void overwrite_keeping_identity(const std::string& path, const std::string& text) {
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  ASSERT_EQ(static_cast<std::size_t>(before.st_size), text.size());
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  timespec times[2] = {before.st_atim, before.st_mtim};
  EXPECT_EQ(futimens(fd, times), 0);
  close(fd);
}

TEST_F(LogindSource, ReplacedFileIsReadAgainAndAnUnchangedOneIsNot) {
  SKIP_WITHOUT_SESSION_PROCESSES();
  const std::string id = session_id(1);
  auto shell = std::make_unique<session_process>(id, 1);
  ASSERT_TRUE(shell->ok()) << shell->error();
  const std::string line = shell->line();
  host_.write_session(id, ssh_of_first("10.0.0.7"));
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, line, "10.0.0.7"}}));

  // A file that looks unchanged is not read again.
  overwrite_keeping_identity(host_.sessions_dir() + "/" + id,
                             logind_host::session_text(id, ssh_of_first("10.0.0.8")));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, line, "10.0.0.7"}}));

  // A replaced one is.
  host_.write_session(id, ssh_of_first("10.0.0.9"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, line, "10.0.0.9"}}));
  session_fields with_tty = ssh_of_first("10.0.0.9");
  with_tty.tty = "tty5";
  host_.write_session(id, with_tty);
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "tty5", "10.0.0.9"}}));
  host_.write_session(id, ssh_of_first("10.0.0.9"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, line, "10.0.0.9"}}));

  // Without a process on a terminal the session is no login; a new
  // session under the same id has none either until one comes.
  shell.reset();
  EXPECT_EQ(pass(source), std::vector<seen>{});
  host_.remove_session(id);
  EXPECT_EQ(pass(source), std::vector<seen>{});
  host_.write_session(id, ssh_of_first("10.0.0.9"));
  EXPECT_EQ(pass(source), std::vector<seen>{});
}

TEST_F(LogindSource, ManySessionsComeGoAndChangeBetweenPasses) {
  // Ids of different lengths, so that listing and merging orders matter.
  const int count = 150;
  std::vector<std::optional<seen>> now(count);
  auto tty = [](int n, int version) {
    return "pts/" + std::to_string(n) + "v" + std::to_string(version);
  };
  for (int n = 0; n < count; n += 2) {
    host_.write_session(std::to_string(n), of_first(tty(n, 0)));
    now[static_cast<std::size_t>(n)] = seen{first_, tty(n, 0), ""};
  }
  namespaced_source source(host_.root());
  ASSERT_TRUE(source.ok()) << source.error();
  auto want = [&] {
    std::vector<seen> out;
    for (const auto& s : now)
      if (s) out.push_back(*s);
    return sorted(out);
  };
  EXPECT_EQ(pass(source), want());
  for (int round = 1; round <= 3; ++round) {
    for (int n = round; n < count; n += 7) {
      auto& slot = now[static_cast<std::size_t>(n)];
      if (slot && n % 3 == 0) {
        host_.remove_session(std::to_string(n));
        slot.reset();
      } else {
        host_.write_session(std::to_string(n), of_second(tty(n, round)));
        slot = seen{second_, tty(n, round), ""};
      }
    }
    EXPECT_EQ(pass(source), want()) << "round " << round;
  }
}

TEST_F(LogindSource, SessionsFolderThatComesLaterOrIsReplacedIsFollowed) {
  logind_host host(true, false);
  namespaced_source source(host.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), std::vector<seen>{});
  EXPECT_EQ(pass(source), std::vector<seen>{});

  host.make_sessions_folder();
  host.write_session(session_id(1), of_first("pts/1"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/1", ""}}));
  host.write_session(session_id(2), of_first("pts/2"));
  EXPECT_EQ(pass(source), sorted({{first_, "pts/1", ""}, {first_, "pts/2", ""}}));

  host.remove_sessions_folder();
  EXPECT_EQ(pass(source), std::vector<seen>{});
  host.make_sessions_folder();
  host.write_session(session_id(3), of_first("pts/3"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/3", ""}}));
  host.write_session(session_id(4), of_first("pts/4"));
  EXPECT_EQ(pass(source), sorted({{first_, "pts/3", ""}, {first_, "pts/4", ""}}));

  // Removed and made again between two passes.
  host.remove_sessions_folder();
  host.make_sessions_folder();
  host.write_session(session_id(5), of_first("pts/5"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/5", ""}}));
  host.write_session(session_id(6), of_first("pts/6"));
  EXPECT_EQ(pass(source), sorted({{first_, "pts/5", ""}, {first_, "pts/6", ""}}));
}

// The watch follows the folder at the sessions path, not a folder that
// was moved away with its parent: after /run/systemd is renamed and made
// again, the next pass lists the new folder, whose old one saw nothing.
TEST_F(LogindSource, SessionsFolderPutInPlaceAnotherWayIsFollowed) {
  logind_host host;
  host.write_session(session_id(1), of_first("pts/1"));
  namespaced_source source(host.root());
  ASSERT_TRUE(source.ok()) << source.error();
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/1", ""}}));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/1", ""}}));

  const std::string systemd = host.root() + "/systemd";
  ASSERT_EQ(rename(systemd.c_str(), (systemd + ".old").c_str()), 0);
  ASSERT_EQ(mkdir(systemd.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((systemd + "/system").c_str(), 0755), 0);
  host.make_sessions_folder();
  host.write_session(session_id(2), of_first("pts/2"));
  EXPECT_EQ(pass(source), (std::vector<seen>{{first_, "pts/2", ""}}));
  host.write_session(session_id(3), of_first("pts/3"));
  EXPECT_EQ(pass(source), sorted({{first_, "pts/2", ""}, {first_, "pts/3", ""}}));
}

TEST_F(LogindSource, HostWithoutSystemdHasNoSource) {
  logind_host host(false);
  host.write_session(session_id(1), of_first("pts/1"));
  namespaced_source source(host.root());
  EXPECT_EQ(source.support(), logind_support::not_booted);
  EXPECT_FALSE(source.ok());
}

TEST(LogindSupport, BuildWithoutLibsystemdHasNoSource) {
#if ZIBBET_HAVE_LOGIND
  GTEST_SKIP() << "this build has logind support";
#else
  EXPECT_EQ(logind_support_here(), logind_support::not_built);
  std::string why;
  EXPECT_EQ(make_logind_source(why), nullptr);
  EXPECT_EQ(why, "this zibbet was built without logind support");
#endif
}

}  // namespace
}  // namespace zibbet::test
